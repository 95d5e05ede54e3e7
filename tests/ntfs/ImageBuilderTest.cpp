#include "ImageBuilder.h"
#include "ImageEntries.h"
#include "TestImage.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orva::ntfs::testing
{
namespace
{
using mkimage::ImageEntry;
using mkimage::ImageOptions;

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;

TEST(ImageEntriesTest, ListLinesGiveEntries)
{
    std::istringstream list("docs/\n"
                            "docs/a.txt\t1234\t1600000000\t4096\r\n"
                            "\n"
                            "b.txt\t\t1500000000\n"
                            "中文/文件.txt\t5000000000\n");
    std::vector<ImageEntry> entries;
    std::string error;
    ASSERT_TRUE(mkimage::ReadEntryList(list, &entries, &error)) << error;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].path, "docs");
    EXPECT_TRUE(entries[0].directory);
    EXPECT_EQ(entries[1].path, "docs/a.txt");
    EXPECT_EQ(entries[1].size, 1234u);
    EXPECT_EQ(entries[1].mtime, 1600000000);
    EXPECT_EQ(entries[1].usn, 4096);
    EXPECT_EQ(entries[2].size, 0u);
    EXPECT_EQ(entries[2].mtime, 1500000000);
    EXPECT_FALSE(entries[2].usn.has_value());
    EXPECT_EQ(entries[3].size, 5000000000u);
}

TEST(ImageEntriesTest, BadLinesAreRefusedWithTheirLineNumber)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a.txt\tbig", "size"},
        {"a.txt\t12\tyesterday", "time"},
        {"a.txt\t1\t2\t3\t4", "fields"},
        {"a.txt\t-5", "size"},
        {"folder/\t10", "folder"},
        {"a:b.txt", "character"},
        {"a/../b.txt", "not allowed"},
        {"a//b.txt", "empty"},
        {"/a.txt", "empty"},
        {std::string(256, 'x'), "255"},
        {"bad\xC3(utf8", "UTF-8"},
        {"surrogate\xED\xA0\x80", "UTF-8"},
    };
    for (const auto& [line, reason] : cases)
    {
        std::istringstream list("fine.txt\n" + line + "\n");
        std::vector<ImageEntry> entries;
        std::string error;
        EXPECT_FALSE(mkimage::ReadEntryList(list, &entries, &error)) << line;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // 255 UTF-16 units: 255 ASCII letters, or 127 characters outside the BMP plus one.
    std::string astral;
    for (int i = 0; i < 127; ++i)
        astral += "\xF0\x9F\x98\x80";
    EXPECT_EQ(mkimage::CheckEntryPath(std::string(255, 'x')), "");
    EXPECT_EQ(mkimage::CheckEntryPath(astral + "x"), "");
    EXPECT_NE(mkimage::CheckEntryPath(astral + "xy"), "");
}

TEST(ImageBuilderTest, ConflictingEntriesAreRefused)
{
    TempFolder folder;
    ImageOptions options;
    options.output = folder.File("conflict.img");
    const std::vector<std::vector<std::string>> cases = {
        {"a.txt", "a.txt"},
        {"a.txt", "a.txt/b.txt"},
        {"a/b.txt", "a"},
    };
    for (const std::vector<std::string>& lines : cases)
    {
        std::vector<ImageEntry> entries;
        for (const std::string& line : lines)
            entries.push_back(Entry(line));
        std::string error;
        EXPECT_FALSE(mkimage::BuildImage(options, entries, &error)) << lines.back();
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(std::filesystem::exists(options.output)) << "a failed build leaves no image";
    }
}

// mkntfs seeds the serial from the clock, so images built within one second shared it.
TEST(ImageBuilderTest, SerialNumbersDifferAndCanBeChosen)
{
    TempFolder folder;
    DWORD serials[3] = {};
    for (int i = 0; i < 3; ++i)
    {
        ImageOptions options;
        options.output = folder.File("serial" + std::to_string(i) + ".img");
        options.serialNumber = i == 2 ? 0x1122334455667788 : 0;
        ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("a.txt")}));
        DWORD error = 0;
        std::unique_ptr<NtfsVolume> volume = NtfsVolume::Open(options.output, 0, 0, &error);
        ASSERT_NE(volume, nullptr) << error;
        serials[i] = volume->SerialNumber();
        const std::vector<char> bytes = ReadBytes(options.output);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 512, bytes.end() - 512))
            << "the backup boot sector differs from the boot sector";
    }
    EXPECT_NE(serials[0], serials[1]);
    EXPECT_EQ(serials[2], 0x55667788u);
}

void MakeFile(const std::string& path, off_t size, std::int64_t mtime)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);
}

TEST(ImageBuilderTest, FolderTreeIsCopiedWithSizesAndTimes)
{
    TempFolder folder;
    const std::string tree = folder.File("tree");
    std::filesystem::create_directories(tree + "/sub/Ünïcode 目录");
    ASSERT_NO_FATAL_FAILURE(MakeFile(tree + "/top.txt", 12345, 1234567890));
    ASSERT_NO_FATAL_FAILURE(MakeFile(tree + "/sub/Ünïcode 目录/inner.bin", 3 << 20, 1111111111));
    ASSERT_EQ(::symlink("top.txt", (tree + "/link").c_str()), 0);
    // Linux allows names that Windows does not: left out with what is below them.
    std::filesystem::create_directories(tree + "/Algorithm::Diff/below");
    ASSERT_NO_FATAL_FAILURE(MakeFile(tree + "/what?.txt", 1, 1234567890));
    const timespec subTimes[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tree + "/sub").c_str(), subTimes, 0), 0);

    std::vector<ImageEntry> entries;
    std::uint64_t skipped = 0;
    std::string error;
    ASSERT_TRUE(mkimage::ReadEntryTree(tree, &entries, &skipped, &error)) << error;
    EXPECT_EQ(skipped, 3u) << "the symbolic link and the two names Windows cannot hold";
    ASSERT_EQ(entries.size(), 4u);
    ImageOptions options;
    options.output = folder.File("tree.img");
    ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, entries));

    DWORD openError = 0;
    std::unique_ptr<NtfsVolume> volume = NtfsVolume::Open(options.output, 0, 0, &openError);
    ASSERT_NE(volume, nullptr) << openError;
    const struct
    {
        const char* path;
        std::uint64_t size;
        std::int64_t mtime;
        bool directory;
    } cases[] = {
        {"/top.txt", 12345, 1234567890, false},
        {"/sub/Ünïcode 目录/inner.bin", 3 << 20, 1111111111, false},
        {"/sub", 0, 1000000000, true},
    };
    for (const auto& c : cases)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(volume->GetAttributes(c.path, &data)) << c.path;
        EXPECT_EQ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, c.size)
            << c.path;
        EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, c.directory) << c.path;
        const std::uint64_t written =
            (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
            data.ftLastWriteTime.dwLowDateTime;
        EXPECT_EQ(written, static_cast<std::uint64_t>(c.mtime * 10000000 + kUnixEpochAsFileTime)) << c.path;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_FALSE(volume->GetAttributes("/link", &data));
    struct stat status = {};
    ASSERT_EQ(::stat(options.output.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 3 << 20) << "file contents are sparse";
}

// Runs orva-mkimage with `arguments`; its exit code, standard error in `messages`.
int RunTool(const TempFolder& folder, const std::string& arguments, std::string* messages)
{
    const std::string errors = folder.File("stderr.txt");
    const int status = std::system(
        (std::string(ORVA_MKIMAGE_PROGRAM) + " " + arguments + " >/dev/null 2>'" + errors + "'").c_str());
    std::ifstream file(errors);
    messages->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OrvaMkimageTest, ExitCodesAndMessages)
{
    TempFolder folder;
    {
        std::ofstream list(folder.File("good.txt"));
        list << "a/\na/b.txt\t10\n";
        std::ofstream bad(folder.File("bad.txt"));
        bad << "a.txt\n*.txt\n";
    }
    std::filesystem::create_directory(folder.File("a-folder"));
    struct Case
    {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"--help", 0, ""},
        {"", 2, "IMAGE"},
        {"--bogus x.img", 2, "unknown option"},
        {"--from-list '" + folder.File("good.txt") + "' --from-dir /tmp x.img", 2, "either"},
        {"--from-list '" + folder.File("bad.txt") + "' '" + folder.File("x.img") + "'", 2, "line 2"},
        {"--from-list '" + folder.File("missing.txt") + "' '" + folder.File("x.img") + "'", 2,
         "cannot be read"},
        {"--from-list '" + folder.File("good.txt") + "' --partition apm '" + folder.File("x.img") + "'", 2,
         "mbr or gpt"},
        {"--from-list '" + folder.File("good.txt") + "' --size 12Q '" + folder.File("x.img") + "'", 2,
         "not a size"},
        {"--from-list '" + folder.File("good.txt") + "' '" + folder.File("a-folder") + "'", 2,
         "not a regular file"},
        {"--from-list '" + folder.File("good.txt") + "' --size 64M --label Test --partition gpt '" +
             folder.File("good.img") + "'",
         0, ""},
    };
    for (const Case& c : cases)
    {
        std::string messages;
        EXPECT_EQ(RunTool(folder, c.arguments, &messages), c.exitCode) << c.arguments << "\n" << messages;
        EXPECT_NE(messages.find(c.message), std::string::npos) << c.arguments << "\n" << messages;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.File("a-folder")));
    EXPECT_EQ(std::filesystem::file_size(folder.File("good.img")), (64u << 20) + (2u << 20));
}
} // namespace
} // namespace orva::ntfs::testing
