#include "Ntfs3g.h"
#include "platform/LastError.h"
#include "TestImage.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace orva::ntfs::testing
{
namespace
{
using mkimage::ImageEntry;
using mkimage::ImageOptions;
using mkimage::PartitionStyle;

constexpr std::uint64_t kPartitionOffset = 1024 * 1024;
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;

const std::string kLongAscii = std::string(251, 'L') + ".txt"; // 255 units
std::string LongChinese()
{
    std::string name;
    for (int i = 0; i < 255; ++i)
        name += "漢";
    return name;
}

// Folders, nesting, names in Chinese and with accents, 255-unit names, a file over 4 GiB,
// a folder big enough for a non-resident index, an empty folder; USNs on some entries.
std::vector<ImageEntry> SampleEntries()
{
    std::vector<ImageEntry> entries = {
        Entry("docs/"),
        Entry("docs/report.txt\t1234\t1600000000\t256"),
        Entry("docs/sub/deep/file.bin\t5000000000\t1500000000\t512"),
        Entry("中文目录/文件.txt\t42\t1400000000\t768"),
        Entry("Été/café.txt\t10"),
        Entry("naïve résumé.doc\t7"),
        Entry(kLongAscii + "\t1"),
        Entry("中文目录/" + LongChinese() + "/"),
        Entry("empty/"),
    };
    for (int i = 0; i < 300; ++i)
        entries.push_back(Entry("many/file" + std::to_string(i) + ".dat\t" + std::to_string(i)));
    return entries;
}

std::uint64_t FileTimeOf(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::unique_ptr<NtfsVolume> OpenOrNull(const std::string& path, std::uint64_t offset = 0)
{
    DWORD error = 0;
    std::unique_ptr<NtfsVolume> volume = NtfsVolume::Open(path, offset, 0, &error);
    EXPECT_NE(volume, nullptr) << "error " << error;
    return volume;
}

class NtfsVolumeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new TempFolder();
        s_image = s_folder->File("sample.img");
        ImageOptions options;
        options.output = s_image;
        options.label = "Beispiel";
        std::string error;
        s_built = mkimage::BuildImage(options, SampleEntries(), &error);
        s_buildError = error;
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_built) << s_buildError;
        m_volume = OpenOrNull(s_image);
        ASSERT_NE(m_volume, nullptr);
    }

    static TempFolder* s_folder;
    static std::string s_image;
    static bool s_built;
    static std::string s_buildError;
    std::unique_ptr<NtfsVolume> m_volume;
};
TempFolder* NtfsVolumeTest::s_folder = nullptr;
std::string NtfsVolumeTest::s_image;
bool NtfsVolumeTest::s_built = false;
std::string NtfsVolumeTest::s_buildError;

TEST_F(NtfsVolumeTest, EnumerationGivesEveryEntryOnceWithItsParentAndKind)
{
    const std::vector<EnumeratedRecord> records = EnumerateAll(*m_volume, 65536);
    const std::map<std::string, EnumeratedRecord> paths = ByPath(records);
    EXPECT_EQ(paths.size() + 1, records.size()) << "two records with one path, or a record without a path";

    std::set<std::uint64_t> numbers;
    for (const EnumeratedRecord& record : records)
        EXPECT_TRUE(numbers.insert(RecordNumber(record.frn)).second) << record.name;

    std::map<std::string, bool> expected; // path: is a folder
    for (const ImageEntry& entry : SampleEntries())
    {
        expected[entry.path] = entry.directory;
        for (std::size_t slash = entry.path.find('/'); slash != std::string::npos;
             slash = entry.path.find('/', slash + 1))
            expected[entry.path.substr(0, slash)] = true; // folders made as ancestors
    }
    for (const auto& [path, directory] : expected)
    {
        const auto found = paths.find(path);
        ASSERT_NE(found, paths.end()) << path;
        EXPECT_EQ((found->second.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, directory) << path;
        EXPECT_NE(found->second.frn >> 48, 0u) << path << ": the sequence number belongs in the top 16 bits";
    }
    for (const auto& [path, record] : paths)
        EXPECT_TRUE(expected.count(path) || path[0] == '$') << "unexpected entry " << path;
    EXPECT_EQ(paths.at("docs/report.txt").usn, 256);
}

TEST_F(NtfsVolumeTest, EnumerationAgreesWithSleuthkit)
{
    if (std::system("command -v fls >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sleuthkit's fls is not installed";
    std::unique_ptr<FILE, int (*)(FILE*)> fls(::popen(("fls -r -p -u '" + s_image + "'").c_str(), "r"),
                                              ::pclose);
    ASSERT_NE(fls, nullptr);
    // Lines read "r/r 64-128-2:\tdocs/a.txt"; named streams of system files add ":$Name".
    // fls may print a record twice, once with its long path cut short.
    std::map<std::uint64_t, std::set<std::string>> expected;
    char line[4096];
    while (std::fgets(line, sizeof line, fls.get()) != nullptr)
    {
        std::string text(line);
        const std::size_t tab = text.find('\t');
        if (tab == std::string::npos || text.find("$OrphanFiles") != std::string::npos)
            continue;
        std::string path = text.substr(tab + 1);
        path.erase(path.find_last_not_of("\r\n") + 1);
        if (const std::size_t stream = path.find(':'); stream != std::string::npos)
            path.erase(stream);
        expected[std::stoull(text.substr(4))].insert(path);
    }
    ASSERT_GT(expected.size(), 300u);

    std::set<std::uint64_t> enumerated;
    for (const auto& [path, record] : ByPath(EnumerateAll(*m_volume, 65536)))
    {
        const std::uint64_t number = RecordNumber(record.frn);
        enumerated.insert(number);
        EXPECT_TRUE(expected.count(number) && expected.at(number).count(path)) << number << " " << path;
    }
    std::set<std::uint64_t> listed;
    for (const auto& [number, paths] : expected)
        listed.insert(number);
    EXPECT_EQ(enumerated, listed);
}

TEST_F(NtfsVolumeTest, SmallBuffersContinueWhereTheLastCallStopped)
{
    const std::vector<EnumeratedRecord> whole = EnumerateAll(*m_volume, 65536);
    // 600 holds the header and one record with a 255-unit name (576 bytes); 617 is not
    // a multiple of 8.
    for (const DWORD size : {600u, 617u, 2000u, 4096u})
    {
        SCOPED_TRACE(size);
        const std::vector<EnumeratedRecord> pieces = EnumerateAll(*m_volume, size);
        ASSERT_EQ(pieces.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i)
        {
            EXPECT_EQ(pieces[i].frn, whole[i].frn);
            EXPECT_EQ(pieces[i].name, whole[i].name);
        }
    }
}

TEST_F(NtfsVolumeTest, RestartInTheMiddleGivesTheRestFromThatRecord)
{
    const std::vector<EnumeratedRecord> whole = EnumerateAll(*m_volume, 65536);
    const EnumeratedRecord& middle = whole[whole.size() / 2];
    // The sequence number in the top bits is ignored: only the record number counts.
    for (const std::uint64_t start : {middle.frn, RecordNumber(middle.frn)})
    {
        const std::vector<EnumeratedRecord> rest = EnumerateAll(*m_volume, 4096, start);
        ASSERT_EQ(rest.size(), whole.size() - whole.size() / 2);
        EXPECT_EQ(rest.front().frn, middle.frn);
        EXPECT_EQ(rest.back().frn, whole.back().frn);
    }
}

TEST_F(NtfsVolumeTest, BufferTooSmallForOneRecordIsRefused)
{
    std::array<std::uint8_t, 80> buffer{};
    DWORD bytes = 1;
    const MFT_ENUM_DATA_V0 fromTheStart{0, 0, kAnyUsn};
    // The first record, $MFT (4 units of name), takes 72 bytes after the 8-byte header.
    for (const DWORD size : {0u, 7u, 8u, 79u})
    {
        EXPECT_FALSE(m_volume->EnumUsnData(fromTheStart, buffer.data(), size, &bytes)) << size;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << size;
        EXPECT_EQ(bytes, 0u);
    }
    EXPECT_TRUE(m_volume->EnumUsnData(fromTheStart, buffer.data(), 80, &bytes));
    EXPECT_EQ(bytes, 80u);
}

TEST_F(NtfsVolumeTest, EndOfTableFailsWithHandleEof)
{
    std::vector<std::uint8_t> buffer(65536);
    DWORD bytes = 0;
    const std::vector<EnumeratedRecord> whole = EnumerateAll(*m_volume, 65536);
    for (const std::uint64_t start : {RecordNumber(whole.back().frn) + 1, std::uint64_t{1} << 40})
    {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(m_volume->EnumUsnData({start, 0, kAnyUsn}, buffer.data(), 65536, &bytes));
        EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    }
}

TEST_F(NtfsVolumeTest, UsnRangeIsHonouredAtBothEnds)
{
    struct Case
    {
        USN low, high;
        std::set<std::string> names;
    };
    const Case cases[] = {
        {256, 768, {"report.txt", "file.bin", "文件.txt"}},
        {257, 767, {"file.bin"}},
        {512, 512, {"file.bin"}},
        {769, kAnyUsn, {}},
    };
    for (const Case& c : cases)
    {
        std::set<std::string> names;
        for (const EnumeratedRecord& record : EnumerateAll(*m_volume, 65536, 0, c.low, c.high))
        {
            names.insert(record.name);
            EXPECT_GE(record.usn, c.low);
            EXPECT_LE(record.usn, c.high);
        }
        EXPECT_EQ(names, c.names) << c.low << ".." << c.high;
    }
    EXPECT_EQ(m_volume->HighestUsn(), 768);
}

TEST_F(NtfsVolumeTest, GetAttributesGivesSizeTimeAndKind)
{
    struct Case
    {
        std::string path;
        std::uint64_t size;
        std::int64_t mtime; // 0: not checked
        bool directory;
    };
    const Case cases[] = {
        {"/docs/report.txt", 1234, 1600000000, false},
        {"/docs/sub/deep/file.bin", 5000000000, 1500000000, false},
        {"中文目录/文件.txt", 42, 1400000000, false},
        {"/" + kLongAscii, 1, 0, false},
        {"/docs", 0, 0, true},
        {"/中文目录/" + LongChinese(), 0, 0, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(m_volume->GetAttributes(c.path, &data));
        EXPECT_EQ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, c.size);
        EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, c.directory);
        if (c.mtime != 0)
        {
            EXPECT_EQ(FileTimeOf(data.ftLastWriteTime),
                      static_cast<std::uint64_t>(c.mtime * 10000000 + kUnixEpochAsFileTime));
        }
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_FALSE(m_volume->GetAttributes("/docs/missing.txt", &data));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(NtfsVolumeTest, VolumeFactsComeFromTheBootSectorAndRoot)
{
    const std::vector<char> image = ReadBytes(s_image);
    ASSERT_GT(image.size(), 0x50u);
    DWORD serial = 0;
    std::memcpy(&serial, image.data() + 0x48, 4);
    EXPECT_EQ(m_volume->SerialNumber(), serial);
    EXPECT_EQ(m_volume->Label(), u"Beispiel");
    EXPECT_GT(m_volume->SizeBytes(), image.size() - 64 * 1024);
    EXPECT_LE(m_volume->SizeBytes(), image.size());
    const std::uint64_t root = m_volume->RootFileReferenceNumber();
    EXPECT_EQ(RecordNumber(root), 5u);
    for (const EnumeratedRecord& record : EnumerateAll(*m_volume, 65536))
    {
        if (record.name == "docs")
        {
            EXPECT_EQ(record.parentFrn, root);
        }
    }
    USN_JOURNAL_DATA_V0 journal{};
    EXPECT_FALSE(m_volume->QueryOnDiskJournal(&journal)) << "mkntfs makes no journal";
}

TEST_F(NtfsVolumeTest, ImageBytesStayUnchanged)
{
    const std::vector<char> before = ReadBytes(s_image);
    struct stat statusBefore = {};
    ASSERT_EQ(::stat(s_image.c_str(), &statusBefore), 0);
    {
        std::unique_ptr<NtfsVolume> volume = OpenOrNull(s_image);
        ASSERT_NE(volume, nullptr);
        EnumerateAll(*volume, 1000);
        volume->HighestUsn();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        volume->GetAttributes("/docs/report.txt", &data);
        USN_JOURNAL_DATA_V0 journal{};
        volume->QueryOnDiskJournal(&journal);
    }
    struct stat statusAfter = {};
    ASSERT_EQ(::stat(s_image.c_str(), &statusAfter), 0);
    EXPECT_EQ(statusAfter.st_mtim.tv_sec, statusBefore.st_mtim.tv_sec);
    EXPECT_EQ(statusAfter.st_mtim.tv_nsec, statusBefore.st_mtim.tv_nsec);
    EXPECT_TRUE(ReadBytes(s_image) == before) << "the image was written to";
}

void WriteFile(const std::string& path, const std::string& content, off_t size)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ASSERT_EQ(::ftruncate(fd, std::max<off_t>(size, static_cast<off_t>(content.size()))), 0);
    ::close(fd);
}

TEST(NtfsVolumeOpenTest, WhatIsNotNtfsIsRefused)
{
    TempFolder folder;
    const std::string zeros = folder.File("zeros.img");
    const std::string text = folder.File("text.txt");
    const std::string empty = folder.File("empty.img");
    WriteFile(zeros, "", 4 << 20);
    WriteFile(text, "NTFS is not here\n", 0);
    WriteFile(empty, "", 0);
    // An NTFS boot sector with nothing behind it, and an image cut short.
    ImageOptions options;
    options.output = folder.File("whole.img");
    ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("a.txt")}));
    const std::vector<char> whole = ReadBytes(options.output);
    const std::string bootOnly = folder.File("boot-only.img");
    const std::string cut = folder.File("cut.img");
    WriteFile(bootOnly, std::string(whole.data(), 512), static_cast<off_t>(whole.size()));
    WriteFile(cut, std::string(whole.data(), 64 * 1024), 0);
    struct Case
    {
        std::string path;
        std::uint64_t offset;
        DWORD error;
    };
    const Case cases[] = {
        {zeros, 0, ERROR_UNRECOGNIZED_VOLUME},
        {text, 0, ERROR_UNRECOGNIZED_VOLUME},
        {empty, 0, ERROR_UNRECOGNIZED_VOLUME},
        {zeros, 8 << 20, ERROR_UNRECOGNIZED_VOLUME}, // offset past the end
        {bootOnly, 0, ERROR_UNRECOGNIZED_VOLUME},
        {cut, 0, ERROR_UNRECOGNIZED_VOLUME},
        {folder.File("missing.img"), 0, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases)
    {
        DWORD error = 0;
        EXPECT_EQ(NtfsVolume::Open(c.path, c.offset, 0, &error), nullptr) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
}

TEST(NtfsVolumePartitionTest, PartitionAtOneMebibyteOpensAtItsOffset)
{
    for (const PartitionStyle style : {PartitionStyle::Mbr, PartitionStyle::Gpt})
    {
        SCOPED_TRACE(style == PartitionStyle::Mbr ? "mbr" : "gpt");
        TempFolder folder;
        ImageOptions options;
        options.output = folder.File("disk.img");
        options.partition = style;
        ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("a/"), Entry("a/中.txt\t5")}));

        DWORD error = 0;
        EXPECT_EQ(NtfsVolume::Open(options.output, 0, 0, &error), nullptr) << "the disk itself is not NTFS";
        EXPECT_EQ(error, ERROR_UNRECOGNIZED_VOLUME);
        std::unique_ptr<NtfsVolume> volume = OpenOrNull(options.output, kPartitionOffset);
        ASSERT_NE(volume, nullptr);
        const std::map<std::string, EnumeratedRecord> paths = ByPath(EnumerateAll(*volume, 65536));
        EXPECT_TRUE(paths.count("a/中.txt"));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(volume->GetAttributes("/a/中.txt", &data));
        EXPECT_EQ(data.nFileSizeLow, 5u);
        if (std::system("command -v mmls >/dev/null 2>&1") == 0)
        {
            const std::string command = "mmls '" + options.output + "' | grep -q '0000002048'";
            EXPECT_EQ(std::system(command.c_str()), 0) << "sleuthkit finds no partition at sector 2048";
        }
    }
}

TEST(NtfsVolumeJournalTest, OnDiskJournalIsReported)
{
    TempFolder folder;
    ImageOptions options;
    options.output = folder.File("journal.img");
    options.usnJournal = true;
    options.journalId = 0x1D2C3B4A59687;
    ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("a.txt"), Entry("b.txt"), Entry("c.txt\t\t\t4000")}));
    std::unique_ptr<NtfsVolume> volume = OpenOrNull(options.output);
    ASSERT_NE(volume, nullptr);
    USN_JOURNAL_DATA_V0 journal{};
    ASSERT_TRUE(volume->QueryOnDiskJournal(&journal));
    EXPECT_EQ(journal.UsnJournalID, 0x1D2C3B4A59687u);
    EXPECT_EQ(journal.MaximumSize, 32u << 20);
    EXPECT_EQ(journal.AllocationDelta, 8u << 20);
    EXPECT_EQ(volume->HighestUsn(), 4000);
    EXPECT_GT(journal.NextUsn, volume->HighestUsn());
    EXPECT_LE(journal.FirstUsn, journal.NextUsn);
    // Every entry's USN lies below NextUsn, so the engine's [0, NextUsn] request sees all.
    const std::map<std::string, EnumeratedRecord> paths =
        ByPath(EnumerateAll(*volume, 65536, 0, 0, journal.NextUsn));
    for (const char* name : {"a.txt", "b.txt", "c.txt", "$Extend/$UsnJrnl"})
        EXPECT_TRUE(paths.count(name)) << name;
    EXPECT_GT(paths.at("b.txt").usn, paths.at("a.txt").usn);
}

// Moves the $FILE_NAME of `path` out of its base record into an extension record, as
// NTFS does when a record overflows (many hard links, long attribute lists).
void MoveFileNameToExtension(const std::string& image, const char* path)
{
    ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
    ASSERT_NE(volume, nullptr);
    ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, path);
    ASSERT_NE(inode, nullptr);
    ASSERT_EQ(ntfs_inode_add_attrlist(inode), 0);
    ntfs_attr_search_ctx* search = ntfs_attr_get_search_ctx(inode, nullptr);
    ASSERT_EQ(ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, search), 0);
    EXPECT_EQ(ntfs_attr_record_move_away(search, 0), 0);
    ntfs_attr_put_search_ctx(search);
    EXPECT_EQ(ntfs_inode_close(inode), 0);
    EXPECT_EQ(ntfs_umount(volume, ntfs_bool(0)), 0);
}

// The base record of `path` has an attribute list and no $FILE_NAME of its own.
bool BaseRecordHasNoName(const std::string& image, const char* path)
{
    ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
    ntfs_inode* inode = volume ? ntfs_pathname_to_inode(volume, nullptr, path) : nullptr;
    bool attributeList = false;
    bool fileName = false;
    if (inode != nullptr)
    {
        for (auto* attr = reinterpret_cast<ATTR_RECORD*>(reinterpret_cast<u8*>(inode->mrec) +
                                                         inode->mrec->attrs_offset);
             attr->type != AT_END;
             attr = reinterpret_cast<ATTR_RECORD*>(reinterpret_cast<u8*>(attr) + attr->length))
        {
            attributeList = attributeList || attr->type == AT_ATTRIBUTE_LIST;
            fileName = fileName || attr->type == AT_FILE_NAME;
        }
        ntfs_inode_close(inode);
    }
    if (volume != nullptr)
        ntfs_umount(volume, ntfs_bool(0));
    return attributeList && !fileName;
}

TEST(NtfsVolumeExtensionTest, NameInAnExtensionRecordIsFound)
{
    TempFolder folder;
    ImageOptions options;
    options.output = folder.File("extension.img");
    ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("dir/"), Entry("dir/moved name.txt\t3")}));
    ASSERT_NO_FATAL_FAILURE(MoveFileNameToExtension(options.output, "/dir/moved name.txt"));
    ASSERT_TRUE(BaseRecordHasNoName(options.output, "/dir/moved name.txt"))
        << "the fixture did not move the name";

    std::unique_ptr<NtfsVolume> volume = OpenOrNull(options.output);
    ASSERT_NE(volume, nullptr);
    const std::vector<EnumeratedRecord> records = EnumerateAll(*volume, 65536);
    const std::map<std::string, EnumeratedRecord> paths = ByPath(records);
    ASSERT_TRUE(paths.count("dir/moved name.txt"));
    EXPECT_EQ(paths.at("dir/moved name.txt").parentFrn, paths.at("dir").frn);
    EXPECT_EQ(paths.size() + 1, records.size()) << "the extension record must not be listed by itself";
}

// Overwrites the length of the first attribute of MFT record `number` (the MFT of a
// fresh small image is one contiguous run).
void DamageRecord(const std::string& image, std::uint64_t number, std::uint32_t length)
{
    const std::vector<char> bytes = ReadBytes(image);
    std::int64_t mftCluster = 0;
    std::memcpy(&mftCluster, bytes.data() + 0x30, 8);
    const std::uint64_t clusterSize = static_cast<std::uint8_t>(bytes[0x0D]) * 512u;
    const std::uint64_t record = static_cast<std::uint64_t>(mftCluster) * clusterSize + number * 1024;
    std::uint16_t attrsOffset = 0;
    std::memcpy(&attrsOffset, bytes.data() + record + 0x14, 2);
    const int fd = ::open(image.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, &length, 4, static_cast<off_t>(record + attrsOffset + 4)), 4);
    ::close(fd);
}

TEST(NtfsVolumeDamageTest, DamagedRecordIsSkippedAndTheRestFollows)
{
    for (const std::uint32_t badLength : {0u, 0x7FFFFFF8u, 1000u, 13u})
    {
        SCOPED_TRACE(badLength);
        TempFolder folder;
        ImageOptions options;
        options.output = folder.File("damaged.img");
        ASSERT_NO_FATAL_FAILURE(BuildOrFail(options, {Entry("a.txt"), Entry("b.txt"), Entry("c.txt")}));
        std::uint64_t bNumber = 0;
        {
            std::unique_ptr<NtfsVolume> volume = OpenOrNull(options.output);
            ASSERT_NE(volume, nullptr);
            bNumber = RecordNumber(ByPath(EnumerateAll(*volume, 65536)).at("b.txt").frn);
        }
        ASSERT_NO_FATAL_FAILURE(DamageRecord(options.output, bNumber, badLength));
        std::unique_ptr<NtfsVolume> volume = OpenOrNull(options.output);
        ASSERT_NE(volume, nullptr);
        const std::map<std::string, EnumeratedRecord> paths = ByPath(EnumerateAll(*volume, 65536));
        EXPECT_TRUE(paths.count("a.txt"));
        EXPECT_FALSE(paths.count("b.txt"));
        EXPECT_TRUE(paths.count("c.txt"));
    }
}
} // namespace
} // namespace orva::ntfs::testing
