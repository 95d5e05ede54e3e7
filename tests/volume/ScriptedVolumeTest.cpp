// The scripted-volume seam shows through every volume, file and control function.
#include "TempFolders.h"

#include "platform/ChangeJournalControl.h"
#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/testing/ScriptedVolume.h"
#include "platform/Volume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace orva::platform;
using namespace orva::platform::testing;

namespace
{
class ScriptedVolumeTest : public ::testing::Test
{
protected:
    void TearDown() override { ClearScriptedVolumes(); }

    // Every volume name FindFirstVolumeW/FindNextVolumeW give.
    static std::vector<std::u16string> EnumerateVolumeNames()
    {
        std::vector<std::u16string> names;
        WCHAR name[MAX_PATH];
        HANDLE search = FindFirstVolumeW(name, MAX_PATH);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.emplace_back(name);
        while (FindNextVolumeW(search, name, MAX_PATH));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindVolumeClose(search));
        return names;
    }

    static std::u16string VolumeNameOf(char letter)
    {
        for (const VolumeDescription& volume : ListVolumes())
            if (volume.letter == letter)
                return volume.volumeName;
        return {};
    }

    TempFolders m_folders;
};

TEST_F(ScriptedVolumeTest, IsEnumeratedWithItsInformationAndPaths)
{
    ScriptedVolume script;
    script.letter = 'S';
    script.fileSystem = u"NTFS";
    script.serialNumber = 0xDEADBEEF;
    script.mountPoints = {"/mnt/scripted"};
    AddScriptedVolume(script);

    const std::u16string name = VolumeNameOf('S');
    ASSERT_FALSE(name.empty());
    std::vector<std::u16string> names = EnumerateVolumeNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), name);

    for (const std::u16string& root : {name, std::u16string(u"S:\\"), std::u16string(u"s:\\")})
    {
        WCHAR label[MAX_PATH], fileSystem[MAX_PATH];
        DWORD serial = 0, component = 0, flags = 0;
        ASSERT_TRUE(GetVolumeInformationW(root.c_str(), label, MAX_PATH, &serial, &component, &flags,
                                          fileSystem, MAX_PATH));
        EXPECT_EQ(std::u16string(fileSystem), u"NTFS");
        EXPECT_EQ(serial, 0xDEADBEEFu);
        EXPECT_EQ(GetDriveTypeW(root.c_str()), DRIVE_FIXED);
    }

    WCHAR paths[MAX_PATH];
    DWORD length = 0;
    ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(name.c_str(), paths, MAX_PATH, &length));
    // Each path ends with a zero, and one more zero ends the list.
    const std::u16string expected(u"S:\\\0/mnt/scripted\0\0", 19);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(std::u16string(paths, length), expected);
}

TEST_F(ScriptedVolumeTest, MachineVolumesCanBeHidden)
{
    ScriptedVolume first, second;
    first.letter = 'T';
    second.letter = 'C';
    AddScriptedVolume(first);
    AddScriptedVolume(second);
    ShowOnlyScriptedVolumes(true);
    const std::vector<std::u16string> names = EnumerateVolumeNames();
    ShowOnlyScriptedVolumes(false);
    EXPECT_EQ(names, (std::vector<std::u16string>{VolumeNameOf('T'), VolumeNameOf('C')}));
    ClearScriptedVolumes();
    ShowOnlyScriptedVolumes(true);
    WCHAR name[MAX_PATH];
    EXPECT_EQ(FindFirstVolumeW(name, MAX_PATH), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    ShowOnlyScriptedVolumes(false);
}

TEST_F(ScriptedVolumeTest, PathNamesRefuseShortBuffersAndDriveRoots)
{
    AddScriptedVolume(ScriptedVolume{});
    const std::u16string name = VolumeNameOf('S');
    WCHAR paths[5];
    DWORD length = 0;
    EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(name.c_str(), paths, 4, &length));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u); // "S:\", its zero and the list's final zero
    EXPECT_TRUE(GetVolumePathNamesForVolumeNameW(name.c_str(), paths, 5, &length));

    // Mount paths are looked up by volume name only: a drive root is not one.
    EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(u"S:\\", paths, 4, &length));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\",
                                                  paths, 4, &length));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ScriptedVolumeTest, UnknownRootsAreRefused)
{
    EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_NO_ROOT_DIR);
    DWORD serial = 0;
    EXPECT_FALSE(GetVolumeInformationW(u"Q:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(GetVolumeInformationW(u"/tmp", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    WCHAR fileSystem[2];
    AddScriptedVolume(ScriptedVolume{});
    EXPECT_FALSE(GetVolumeInformationW(u"S:\\", nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 2));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(ScriptedVolumeTest, RootOpensWithBackupSemanticsAndGivesRootFrn)
{
    ScriptedVolume script;
    script.rootFrn = 0x0007000000000005ull;
    ScriptedVolume::Log& log = AddScriptedVolume(script);

    EXPECT_EQ(CreateFileW(u"S:\\", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    HANDLE root = CreateFileW(u"S:\\", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    EXPECT_EQ(log.openHandles, 1);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(root, &information));
    EXPECT_EQ((ULONGLONG{information.nFileIndexHigh} << 32) | information.nFileIndexLow,
              0x0007000000000005ull);
    EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(CloseHandle(root));
    EXPECT_EQ(log.openHandles, 0);

    // A closed handle is refused, not followed.
    EXPECT_FALSE(CloseHandle(root));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetFileInformationByHandle(root, &information));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ScriptedVolumeTest, ScriptCanRefuseRootAndDevice)
{
    ScriptedVolume script;
    script.rootOpens = false;
    script.deviceOpens = false;
    AddScriptedVolume(script);
    EXPECT_EQ(
        CreateFileW(u"S:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileW(u"\\\\.\\S:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

class ScriptedDevice : public ScriptedVolumeTest
{
protected:
    HANDLE OpenDevice(char letter = 'S')
    {
        const char16_t path[] = {u'\\', u'\\', u'.', u'\\', static_cast<char16_t>(letter), u':', 0};
        return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

    static BOOL Query(HANDLE device, USN_JOURNAL_DATA_V0* journal)
    {
        DWORD bytes = 0;
        return DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, journal, sizeof *journal, &bytes,
                               nullptr);
    }
};

TEST_F(ScriptedDevice, JournalQueryCreateAndDeleteFollowTheScript)
{
    ScriptedVolume script;
    script.journalQuerySucceeds = false;
    script.journal.UsnJournalID = 77;
    script.journal.NextUsn = 4096;
    ScriptedVolume::Log& log = AddScriptedVolume(script);
    HANDLE device = OpenDevice();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    USN_JOURNAL_DATA_V0 journal{};
    EXPECT_FALSE(Query(device, &journal));
    EXPECT_EQ(GetLastError(), ERROR_JOURNAL_NOT_ACTIVE);

    CREATE_USN_JOURNAL_DATA create{1 << 20, 1 << 16};
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(device, FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, nullptr, 0, &bytes,
                                nullptr));
    ASSERT_TRUE(Query(device, &journal));
    EXPECT_EQ(journal.UsnJournalID, 77u);
    EXPECT_EQ(journal.NextUsn, 4096);
    EXPECT_EQ(journal.MaximumSize, 1u << 20);
    EXPECT_EQ(journal.AllocationDelta, 1u << 16);

    DELETE_USN_JOURNAL_DATA wrong{78, USN_DELETE_FLAG_DELETE};
    EXPECT_FALSE(
        DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &wrong, sizeof wrong, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DELETE_USN_JOURNAL_DATA right{77, USN_DELETE_FLAG_DELETE};
    EXPECT_TRUE(
        DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &right, sizeof right, nullptr, 0, &bytes, nullptr));
    EXPECT_FALSE(Query(device, &journal));

    EXPECT_EQ(log.queries, 3);
    ASSERT_EQ(log.creates.size(), 1u);
    EXPECT_EQ(log.creates[0].MaximumSize, 1u << 20);
    ASSERT_EQ(log.deletes.size(), 2u);
    EXPECT_EQ(log.deletes[1].DeleteFlags, USN_DELETE_FLAG_DELETE);
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(ScriptedDevice, EnumerationServesAnswersThenEndOfFile)
{
    ScriptedVolume script;
    std::vector<BYTE> first = EnumHeader(0x30);
    AppendUsnRecord(first, 0x0001000000000020ull, 0x0005000000000005ull, FILE_ATTRIBUTE_DIRECTORY, u"文件夹",
                    12);
    AppendUsnRecord(first, 0x0001000000000021ull, 0x0001000000000020ull, 0, u"a.txt");
    script.enumAnswers = {{first, true, 0}, {{}, false, ERROR_INVALID_DATA}};
    ScriptedVolume::Log& log = AddScriptedVolume(script);
    HANDLE device = OpenDevice();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    MFT_ENUM_DATA_V0 request{0, 0, 1000};
    alignas(8) BYTE buffer[4096];
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(device, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, sizeof buffer,
                                &bytes, nullptr));
    ASSERT_EQ(bytes, first.size());
    EXPECT_EQ(*reinterpret_cast<ULONGLONG*>(buffer), 0x30u);
    auto* record = reinterpret_cast<USN_RECORD_V2*>(buffer + 8);
    EXPECT_EQ(record->RecordLength % 8, 0u);
    EXPECT_EQ(record->FileReferenceNumber, 0x0001000000000020ull);
    EXPECT_EQ(record->Usn, 12);
    EXPECT_EQ(std::u16string(record->FileName, record->FileNameLength / 2), u"文件夹");
    auto* second = reinterpret_cast<USN_RECORD_V2*>(buffer + 8 + record->RecordLength);
    EXPECT_EQ(std::u16string(second->FileName, second->FileNameLength / 2), u"a.txt");

    request.StartFileReferenceNumber = 0x30;
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, sizeof buffer,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, sizeof buffer,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    ASSERT_EQ(log.enumRequests.size(), 3u);
    EXPECT_EQ(log.enumRequests[1].StartFileReferenceNumber, 0x30u);
    EXPECT_EQ(log.enumRequests[1].HighUsn, 1000);
    CloseHandle(device);
}

TEST_F(ScriptedDevice, BadRequestsAreRefusedBeforeTheScript)
{
    ScriptedVolume::Log& log = AddScriptedVolume(ScriptedVolume{});
    HANDLE device = OpenDevice();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    alignas(8) BYTE buffer[64] = {};
    MFT_ENUM_DATA_V0 request{};
    DWORD bytes = 0;
    struct Case
    {
        DWORD code;
        LPVOID in;
        DWORD inSize;
        LPVOID out;
        DWORD outSize;
        DWORD error;
    };
    const Case cases[] = {
        {FSCTL_QUERY_USN_JOURNAL, nullptr, 0, buffer, sizeof(USN_JOURNAL_DATA_V0) - 1,
         ERROR_INSUFFICIENT_BUFFER},
        {FSCTL_QUERY_USN_JOURNAL, nullptr, 0, nullptr, 0, ERROR_INSUFFICIENT_BUFFER},
        {FSCTL_CREATE_USN_JOURNAL, buffer, 8, nullptr, 0, ERROR_INVALID_PARAMETER},
        {FSCTL_DELETE_USN_JOURNAL, buffer, 16, nullptr, 0, ERROR_INVALID_PARAMETER}, // DeleteFlags 0
        {FSCTL_ENUM_USN_DATA, &request, 16, buffer, sizeof buffer, ERROR_INVALID_PARAMETER},
        {FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, 4, ERROR_INSUFFICIENT_BUFFER},
        {0x00090000, nullptr, 0, nullptr, 0, ERROR_INVALID_FUNCTION},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.code);
        EXPECT_FALSE(DeviceIoControl(device, c.code, c.in, c.inSize, c.out, c.outSize, &bytes, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(log.queries, 0);
    EXPECT_TRUE(log.enumRequests.empty());
    EXPECT_TRUE(log.creates.empty() && log.deletes.empty());

    // A synchronous request needs its byte count.
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, buffer, 64, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DELETE_USN_JOURNAL_DATA unknownFlag{1, 0x4};
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &unknownFlag, sizeof unknownFlag, nullptr,
                                 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(log.queries, 0);
    EXPECT_TRUE(log.deletes.empty());

    HANDLE root =
        CreateFileW(u"S:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_FALSE(DeviceIoControl(root, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, buffer, 64, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(root);
    EXPECT_FALSE(DeviceIoControl(reinterpret_cast<HANDLE>(0x12345), FSCTL_QUERY_USN_JOURNAL, nullptr, 0,
                                 buffer, 64, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(device);
}

TEST_F(ScriptedDevice, ControlCodesFailOnOtherFileSystemsButNotOnLowerCaseNtfs)
{
    ScriptedVolume fat;
    fat.letter = 'F';
    fat.fileSystem = u"FAT32";
    AddScriptedVolume(fat);
    ScriptedVolume lower;
    lower.letter = 'N';
    lower.fileSystem = u"ntfs";
    AddScriptedVolume(lower);

    USN_JOURNAL_DATA_V0 journal{};
    HANDLE device = OpenDevice('F');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Query(device, &journal));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(device);

    device = OpenDevice('N');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Query(device, &journal));
    CloseHandle(device);
}

TEST_F(ScriptedVolumeTest, AttributesComeFromTheScript)
{
    ScriptedVolume script;
    WIN32_FILE_ATTRIBUTE_DATA file{};
    file.nFileSizeLow = 1234;
    file.ftLastWriteTime = {0x11112222, 0x01D00000};
    script.attributes[u"\\docs\\a.txt"] = file;
    AddScriptedVolume(script);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(u"S:\\docs\\a.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 1234u);
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, 0x11112222u);
    EXPECT_FALSE(GetFileAttributesExW(u"S:\\docs\\b.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(GetFileAttributesExW(u"Q:\\docs\\a.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(GetFileAttributesExW(u"S:\\docs\\a.txt", GetFileExMaxInfoLevel, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ScriptedVolumeTest, VolumeWithoutLetterListsOnlyItsMountPoints)
{
    ScriptedVolume script;
    script.letter = 0;
    script.volumeName = u"\\\\?\\Volume{0000aaaa-0000-0000-0000-000000000001}\\";
    script.mountPoints = {"/mnt/data"};
    AddScriptedVolume(script);
    WCHAR paths[MAX_PATH];
    DWORD length = 0;
    ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(script.volumeName.c_str(), paths, MAX_PATH, &length));
    EXPECT_EQ(std::u16string(paths, length), std::u16string(u"/mnt/data\0\0", 11));
}

TEST_F(ScriptedVolumeTest, SearchHandlesAreNotFileHandles)
{
    AddScriptedVolume(ScriptedVolume{});
    WCHAR name[MAX_PATH];
    HANDLE search = FindFirstVolumeW(name, MAX_PATH);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(search));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(FindVolumeClose(search));
    EXPECT_FALSE(FindVolumeClose(search));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_EQ(FindFirstVolumeW(name, 10), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}
} // namespace
