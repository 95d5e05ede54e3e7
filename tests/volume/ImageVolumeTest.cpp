// Image files made by orva-mkimage, attached in the drive map: listing, letters, NTFS
// information, root FRN, enumeration through a volume handle, journals kept beside the
// volume, attributes of an unmounted volume's entries, partitioned images.
#include "RunCommand.h"
#include "TempFolders.h"

#include "platform/ChangeJournalControl.h"
#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Time.h"
#include "platform/Volume.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace orva::platform;

namespace
{
std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::optional<VolumeDescription> VolumeWithLetter(char letter)
{
    for (VolumeDescription& volume : ListVolumes())
        if (volume.letter == letter)
            return volume;
    return std::nullopt;
}

struct Enumerated
{
    ULONGLONG frn;
    ULONGLONG parent;
    DWORD attributes;
    USN usn;
};

// Every record of FSCTL_ENUM_USN_DATA from FRN 0 through to ERROR_HANDLE_EOF, by name.
std::map<std::u16string, Enumerated> EnumerateAll(HANDLE device, USN highUsn, DWORD bufferSize = 65536)
{
    std::map<std::u16string, Enumerated> records;
    MFT_ENUM_DATA_V0 request{0, 0, highUsn};
    std::vector<ULONGLONG> buffer(bufferSize / 8);
    DWORD bytes = 0;
    while (DeviceIoControl(device, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer.data(), bufferSize,
                           &bytes, nullptr))
    {
        auto* base = reinterpret_cast<BYTE*>(buffer.data());
        for (DWORD offset = 8; offset < bytes;)
        {
            auto* record = reinterpret_cast<USN_RECORD_V2*>(base + offset);
            records[std::u16string(record->FileName, record->FileNameLength / 2)] = {
                record->FileReferenceNumber, record->ParentFileReferenceNumber, record->FileAttributes,
                record->Usn};
            offset += record->RecordLength;
        }
        request.StartFileReferenceNumber = buffer[0];
    }
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    return records;
}

HANDLE OpenDevice(char letter)
{
    const char16_t path[] = {u'\\', u'\\', u'.', u'\\', static_cast<char16_t>(letter), u':', 0};
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

class ImageVolumeTest : public ::testing::Test
{
protected:
    // An NTFS image with a folder and a file (size 1234, written 2020-09-13 12:26:40 UTC).
    std::filesystem::path MakeImage(const std::string& name, const std::string& options = {},
                                    const std::string& entries = "docs/\ndocs/a.txt\t1234\t1600000000\n")
    {
        const std::filesystem::path list = m_folders.Root() / "entries.txt";
        std::ofstream(list) << entries;
        const std::filesystem::path image = m_folders.Root() / name;
        std::string output;
        EXPECT_EQ(RunCommand(std::string(ORVA_MKIMAGE) + " --from-list " + list.string() + " " + options +
                                 " " + image.string(),
                             &output),
                  0)
            << output;
        return image;
    }

    TempFolders m_folders;
};

TEST_F(ImageVolumeTest, AttachedImageIsListedAsNtfsWithItsSerialAndPaths)
{
    const auto image = MakeImage("plain.img", "--label Plain");
    ASSERT_TRUE(AttachImage('E', image.string(), 0));

    std::optional<VolumeDescription> volume = VolumeWithLetter('E');
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, u"NTFS");
    EXPECT_EQ(volume->driveType, DRIVE_FIXED);
    EXPECT_TRUE(volume->readable);
    EXPECT_EQ(volume->source, image.string());

    // Windows reports the low 32 bits of the boot sector's 64-bit serial at 0x48.
    const std::string boot = ReadFile(image).substr(0, 512);
    DWORD expectedSerial = 0;
    std::memcpy(&expectedSerial, boot.data() + 0x48, 4);
    WCHAR label[MAX_PATH], fileSystem[MAX_PATH];
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationW(volume->volumeName.c_str(), label, MAX_PATH, &serial, nullptr, nullptr,
                                      fileSystem, MAX_PATH));
    EXPECT_EQ(serial, expectedSerial);
    EXPECT_EQ(std::u16string(label), u"Plain");
    EXPECT_EQ(std::u16string(fileSystem), u"NTFS");

    WCHAR paths[MAX_PATH];
    DWORD length = 0;
    ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(volume->volumeName.c_str(), paths, MAX_PATH, &length));
    EXPECT_EQ(std::u16string(paths, length), std::u16string(u"E:\\\0\0", 5));

    bool enumerated = false;
    WCHAR name[MAX_PATH];
    HANDLE search = FindFirstVolumeW(name, MAX_PATH);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        enumerated = enumerated || volume->volumeName == name;
    while (FindNextVolumeW(search, name, MAX_PATH));
    FindVolumeClose(search);
    EXPECT_TRUE(enumerated);

    ASSERT_TRUE(DetachImage('E'));
    EXPECT_FALSE(VolumeWithLetter('E'));
    EXPECT_FALSE(DetachImage('E'));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DRIVE);
}

TEST_F(ImageVolumeTest, AttachRefusesBadInput)
{
    const auto image = MakeImage("plain.img");
    const auto notAFileSystem = m_folders.Root() / "zeros.img";
    std::ofstream(notAFileSystem) << std::string(1 << 20, '\0');
    ASSERT_TRUE(AttachImage('E', image.string(), 0));
    struct Case
    {
        char letter;
        std::string path;
        unsigned partition;
        DWORD error;
    };
    const Case cases[] = {
        {'F', (m_folders.Root() / "missing.img").string(), 0, ERROR_FILE_NOT_FOUND},
        {'F', notAFileSystem.string(), 0, ERROR_UNRECOGNIZED_VOLUME},
        {'F', m_folders.Root().string(), 0, ERROR_UNRECOGNIZED_VOLUME},
        {'E', notAFileSystem.string(), 0, ERROR_ALREADY_EXISTS},
        {'F', image.string(), 0, ERROR_ALREADY_EXISTS}, // the same volume twice
        {'F', image.string(), 2, ERROR_INVALID_PARAMETER},
        {'1', image.string(), 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.path + " under " + c.letter);
        EXPECT_FALSE(AttachImage(c.letter, c.path, c.partition));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_FALSE(VolumeWithLetter('F'));
}

TEST_F(ImageVolumeTest, RootGivesRecordFiveAndEnumerationLinksItsEntries)
{
    const auto image = MakeImage("plain.img");
    ASSERT_TRUE(AttachImage('E', image.string(), 0));

    HANDLE root = CreateFileW(u"E:\\", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(root, &information));
    CloseHandle(root);
    const ULONGLONG rootFrn = (ULONGLONG{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    EXPECT_EQ(rootFrn & 0xFFFFFFFFFFFFull, 5u);
    EXPECT_NE(rootFrn >> 48, 0u); // the sequence number is kept

    HANDLE device = OpenDevice('E');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    // A buffer that holds only a few records forces continuations.
    std::map<std::u16string, Enumerated> records = EnumerateAll(device, 0x7FFFFFFFFFFFFFFFll, 256);
    CloseHandle(device);
    ASSERT_TRUE(records.count(u"docs") && records.count(u"a.txt"));
    EXPECT_EQ(records[u"docs"].parent, rootFrn);
    EXPECT_TRUE(records[u"docs"].attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(records[u"a.txt"].parent, records[u"docs"].frn);
    EXPECT_FALSE(records[u"a.txt"].attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(ImageVolumeTest, JournalIsKeptBesideTheVolumeAndTheImageIsNeverWritten)
{
    const auto image = MakeImage("plain.img");
    const std::string before = ReadFile(image);
    ASSERT_TRUE(AttachImage('E', image.string(), 0));
    HANDLE device = OpenDevice('E');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    USN_JOURNAL_DATA_V0 journal{};
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_JOURNAL_NOT_ACTIVE);

    CREATE_USN_JOURNAL_DATA create{8388608, 1048576};
    ASSERT_TRUE(DeviceIoControl(device, FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, nullptr, 0, &bytes,
                                nullptr));
    ASSERT_TRUE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal, &bytes,
                                nullptr));
    EXPECT_EQ(bytes, sizeof journal);
    EXPECT_NE(journal.UsnJournalID, 0u);
    EXPECT_EQ(journal.MaximumSize, 8388608u);
    EXPECT_EQ(journal.AllocationDelta, 1048576u);
    for (const auto& [name, record] : EnumerateAll(device, journal.NextUsn))
        EXPECT_LT(record.usn, journal.NextUsn) << ToUtf8(name);
    EXPECT_NE(ReadFile(m_folders.Journals()).find("UsnJournalID"), std::string::npos);

    // A second handle, and a later run, see the same journal.
    HANDLE again = OpenDevice('E');
    USN_JOURNAL_DATA_V0 seen{};
    ASSERT_TRUE(
        DeviceIoControl(again, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &seen, sizeof seen, &bytes, nullptr));
    EXPECT_EQ(seen.UsnJournalID, journal.UsnJournalID);
    EXPECT_EQ(seen.NextUsn, journal.NextUsn);
    CloseHandle(again);

    DELETE_USN_JOURNAL_DATA wrong{journal.UsnJournalID + 1, USN_DELETE_FLAG_DELETE};
    EXPECT_FALSE(
        DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &wrong, sizeof wrong, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DELETE_USN_JOURNAL_DATA right{journal.UsnJournalID, USN_DELETE_FLAG_DELETE};
    EXPECT_TRUE(
        DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &right, sizeof right, nullptr, 0, &bytes, nullptr));
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_JOURNAL_NOT_ACTIVE);
    EXPECT_EQ(ReadFile(m_folders.Journals()).find("UsnJournalID"), std::string::npos);
    CloseHandle(device);

    EXPECT_TRUE(ReadFile(image) == before) << "the image changed";
}

TEST_F(ImageVolumeTest, OnDiskJournalIsReportedAndNeitherReplacedNorDeleted)
{
    const auto image = MakeImage("journal.img", "--usn-journal --journal-id 4242");
    const std::string before = ReadFile(image);
    ASSERT_TRUE(AttachImage('J', image.string(), 0));
    HANDLE device = OpenDevice('J');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    USN_JOURNAL_DATA_V0 journal{};
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal, &bytes,
                                nullptr));
    EXPECT_EQ(journal.UsnJournalID, 4242u);
    CREATE_USN_JOURNAL_DATA create{1 << 20, 1 << 16};
    EXPECT_TRUE(DeviceIoControl(device, FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, nullptr, 0, &bytes,
                                nullptr));
    DELETE_USN_JOURNAL_DATA remove{4242, USN_DELETE_FLAG_DELETE};
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_DELETE_USN_JOURNAL, &remove, sizeof remove, nullptr, 0, &bytes,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    USN_JOURNAL_DATA_V0 after{};
    ASSERT_TRUE(
        DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &after, sizeof after, &bytes, nullptr));
    EXPECT_EQ(after.UsnJournalID, 4242u);
    EXPECT_EQ(after.MaximumSize, journal.MaximumSize);
    CloseHandle(device);
    EXPECT_FALSE(std::filesystem::exists(m_folders.Journals()) &&
                 ReadFile(m_folders.Journals()).find("UsnJournalID") != std::string::npos);
    EXPECT_TRUE(ReadFile(image) == before) << "the image changed";
}

TEST_F(ImageVolumeTest, AttributesOfAnUnmountedVolumeComeFromTheVolume)
{
    const auto image = MakeImage("plain.img");
    ASSERT_TRUE(AttachImage('E', image.string(), 0));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(u"E:\\docs\\a.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 1234u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    const FILETIME written = FileTimeFromUnix(1600000000, 0);
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, written.dwHighDateTime);
    ASSERT_TRUE(GetFileAttributesExW(u"e:/docs", GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(GetFileAttributesExW(u"E:\\docs\\missing.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ImageVolumeTest, UnicodeAndLongNamesAreEnumeratedAndLookedUp)
{
    const std::string longName = std::string(251, 'n') + ".txt"; // 255 characters
    const auto image = MakeImage("unicode.img", "", "文件夹/\n文件夹/résumé.txt\t77\n" + longName + "\t5\n");
    ASSERT_TRUE(AttachImage('U', image.string(), 0));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(u"U:\\文件夹\\résumé.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 77u);
    ASSERT_TRUE(GetFileAttributesExW((u"U:\\" + ToUtf16(longName)).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5u);

    HANDLE device = OpenDevice('U');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::map<std::u16string, Enumerated> records = EnumerateAll(device, 0x7FFFFFFFFFFFFFFFll);
    CloseHandle(device);
    ASSERT_TRUE(records.count(u"文件夹") && records.count(u"résumé.txt") && records.count(ToUtf16(longName)));
    EXPECT_EQ(records[u"résumé.txt"].parent, records[u"文件夹"].frn);
}

TEST_F(ImageVolumeTest, PartitionOfAGptImageIsNamedByItsPartitionGuid)
{
    const auto image = MakeImage("gpt.img", "--partition gpt");
    EXPECT_FALSE(AttachImage('G', image.string(), 3));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(AttachImage('G', image.string(), 1));
    std::optional<VolumeDescription> volume = VolumeWithLetter('G');
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, u"NTFS");

    // The first entry of the GPT entry array (LBA 2): its unique GUID at offset 16, in
    // the mixed-endian layout of GUIDs.
    const std::string entry = ReadFile(image).substr(1024 + 16, 16);
    const auto* b = reinterpret_cast<const unsigned char*>(entry.data());
    char guid[40];
    std::snprintf(guid, sizeof guid, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    EXPECT_EQ(ToUtf8(volume->volumeName), "\\\\?\\Volume{" + std::string(guid) + "}\\");

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(u"G:\\docs\\a.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 1234u);
}

TEST_F(ImageVolumeTest, OtherFileSystemsAreListedButRefuseTheControlCodes)
{
    const auto image = m_folders.Root() / "linux.img";
    std::string output;
    if (RunCommand("mke2fs -q -F -t ext4 -U 0a1b2c3d-0000-4000-8000-000000000001 " + image.string() + " 8M",
                   &output) != 0)
        GTEST_SKIP() << "mke2fs is not available: " << output;
    ASSERT_TRUE(AttachImage('X', image.string(), 0));
    std::optional<VolumeDescription> volume = VolumeWithLetter('X');
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, u"ext4");
    EXPECT_EQ(volume->serialNumber, 0x0a1b2c3du);

    HANDLE device = OpenDevice('X');
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    USN_JOURNAL_DATA_V0 journal{};
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    MFT_ENUM_DATA_V0 request{0, 0, 1000};
    alignas(8) BYTE buffer[256];
    EXPECT_FALSE(DeviceIoControl(device, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, sizeof buffer,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(device);
}

// A user who may not read the image still sees it listed, from what the drive map
// recorded, but cannot open its device: the volume is refused, not half-used.
TEST_F(ImageVolumeTest, UnreadableImageIsListedButItsDeviceRefused)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const auto image = MakeImage("private.img");
    ASSERT_TRUE(AttachImage('P', image.string(), 0));
    std::filesystem::permissions(image,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(m_folders.Root(), std::filesystem::perms::all);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folders.Root()))
        if (entry.is_directory())
            std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
    std::filesystem::permissions(m_folders.DriveMap(), std::filesystem::perms::all);

    // In a child process that gives up root for good.
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::_Exit(3);
            std::optional<VolumeDescription> volume = VolumeWithLetter('P');
            if (!volume || volume->readable || volume->fileSystem != u"NTFS")
                std::_Exit(4);
            WCHAR fileSystem[MAX_PATH];
            if (!GetVolumeInformationW(u"P:\\", nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                       MAX_PATH) ||
                GetDriveTypeW(volume->volumeName.c_str()) != DRIVE_FIXED)
                std::_Exit(5);
            HANDLE device = OpenDevice('P');
            if (device != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED)
                std::_Exit(6);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// Two NTFS file systems in one MBR disk image, built here: attaching the disk gives the
// letter to its first partition; the second, a Windows file system seen for the first
// time, takes the first free letter from C, and keeps it in later runs.
TEST_F(ImageVolumeTest, NewWindowsVolumeTakesFirstFreeLetterAndKeepsIt)
{
    const std::string first = ReadFile(MakeImage("one.img"));
    const std::string second = ReadFile(MakeImage("two.img", "--label Second"));
    constexpr size_t kStart = 1 << 20;
    std::string disk(kStart + first.size() + second.size(), '\0');
    auto putEntry = [&](int index, size_t offset, size_t size)
    {
        unsigned char* entry = reinterpret_cast<unsigned char*>(&disk[0x1BE + 16 * index]);
        entry[4] = 0x07; // NTFS
        const std::uint32_t lba = static_cast<std::uint32_t>(offset / 512),
                            count = static_cast<std::uint32_t>(size / 512);
        std::memcpy(entry + 8, &lba, 4);
        std::memcpy(entry + 12, &count, 4);
    };
    putEntry(0, kStart, first.size());
    putEntry(1, kStart + first.size(), second.size());
    disk[510] = '\x55';
    disk[511] = '\xAA';
    disk.replace(kStart, first.size(), first);
    disk.replace(kStart + first.size(), second.size(), second);
    const auto diskPath = m_folders.Root() / "disk.img";
    std::ofstream(diskPath, std::ios::binary) << disk;

    ASSERT_TRUE(AttachImage('K', diskPath.string(), 0));
    std::optional<VolumeDescription> secondVolume = VolumeWithLetter('C');
    ASSERT_TRUE(secondVolume);
    EXPECT_EQ(secondVolume->label, u"Second");
    ASSERT_TRUE(VolumeWithLetter('K'));
    EXPECT_EQ(VolumeWithLetter('K')->label, u"");

    // A later run (another process) reads the same letters from the drive map.
    std::string output;
    ASSERT_EQ(RunCommand(std::string(ORVA_DRIVE) + " list", &output), 0) << output;
    EXPECT_NE(output.find("C:  fixed     NTFS"), std::string::npos) << output;
    EXPECT_NE(output.find(ToUtf8(secondVolume->volumeName)), std::string::npos) << output;

    // The letter stays reserved for that volume while it is away: the next new Windows
    // volume takes D.
    ASSERT_TRUE(DetachImage('K'));
    EXPECT_FALSE(VolumeWithLetter('C'));
    EXPECT_FALSE(AttachImage('C', m_folders.Root() / "one.img", 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(AttachImage('K', diskPath.string(), 0));
    EXPECT_EQ(VolumeWithLetter('C')->volumeName, secondVolume->volumeName);
}
} // namespace
