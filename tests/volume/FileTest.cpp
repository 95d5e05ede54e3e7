// Files on Linux paths and on a mounted volume reached through its drive letter.
#include "TempFolders.h"

#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Time.h"
#include "platform/Volume.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace orva::platform;

namespace
{
class FileTest : public ::testing::Test
{
protected:
    std::u16string Path(const std::string& name) const { return ToUtf16((m_folders.Root() / name).string()); }

    TempFolders m_folders;
};

TEST_F(FileTest, AttributesOfALinuxPathComeFromStat)
{
    const auto file = m_folders.Root() / "data.bin";
    std::ofstream(file) << std::string(5000, 'x');
    struct stat status = {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    // Backslashes are separators too.
    std::u16string path = Path("data.bin");
    path[path.rfind(u'/')] = u'\\';
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const FILETIME written =
        FileTimeFromUnix(status.st_mtim.tv_sec, static_cast<std::uint32_t>(status.st_mtim.tv_nsec));
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, written.dwHighDateTime);

    ASSERT_TRUE(
        GetFileAttributesExW(ToUtf16(m_folders.Root().string()).c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(GetFileAttributesExW(Path("missing").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileTest, CreateFileFollowsDispositionsAndDirectoryRules)
{
    const std::u16string file = Path("new.txt");
    const std::u16string folder = ToUtf16(m_folders.Root().string());
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &information));
    EXPECT_EQ(information.nFileSizeLow, 0u);
    EXPECT_EQ(information.nNumberOfLinks, 1u);
    EXPECT_TRUE(CloseHandle(handle));

    struct Case
    {
        std::u16string path;
        DWORD disposition;
        DWORD flags;
        DWORD error; // ERROR_SUCCESS: opens
    };
    const Case cases[] = {
        {file, CREATE_NEW, 0, ERROR_FILE_EXISTS},
        {file, OPEN_EXISTING, 0, ERROR_SUCCESS},
        {Path("absent.txt"), OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
        {folder, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
        {folder, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {file, 0, 0, ERROR_INVALID_PARAMETER},
        {u"Q:\\nothing\\here", OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
        {u"\\\\.\\Q:", OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(ToUtf8(c.path));
        handle = CreateFileW(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, c.disposition, c.flags,
                             nullptr);
        if (c.error == ERROR_SUCCESS)
        {
            EXPECT_NE(handle, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(handle));
        }
        else
        {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The machine volume mounted at "/", given a letter in the drive map: drive-letter paths
// lead into the mount, and its path names list the letter before the mount point.
TEST_F(FileTest, DriveLetterOfAMountedVolumeLeadsIntoTheMount)
{
    std::u16string rootVolume;
    for (const VolumeDescription& volume : ListVolumes())
        for (const std::string& mountPoint : volume.mountPoints)
            if (mountPoint == "/" && volume.letter == 0)
                rootVolume = volume.volumeName;
    if (rootVolume.empty())
        GTEST_SKIP() << "no block device is mounted at / here";
    const std::u16string driveMap = ToUtf16(m_folders.DriveMap().string());
    ASSERT_TRUE(WritePrivateProfileStringW(u"R:", u"VolumeName", rootVolume.c_str(), driveMap.c_str()));

    const auto file = m_folders.Root() / "seen.txt";
    std::ofstream(file) << "12345";
    const std::u16string throughLetter = u"R:" + ToUtf16(file.string());
    EXPECT_EQ(ToLinuxPath(throughLetter), file.string());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(throughLetter.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5u);

    WCHAR paths[MAX_PATH];
    DWORD length = 0;
    ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(rootVolume.c_str(), paths, MAX_PATH, &length));
    EXPECT_EQ(std::u16string(paths, length), std::u16string(u"R:\\\0/\0\0", 7));

    // The root of a mounted volume other than NTFS: the mount point's inode.
    HANDLE root = CreateFileW(u"R:\\", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(root, &information));
    CloseHandle(root);
    struct stat status = {};
    ASSERT_EQ(::stat("/", &status), 0);
    EXPECT_EQ((ULONGLONG{information.nFileIndexHigh} << 32) | information.nFileIndexLow, status.st_ino);
    EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
} // namespace
