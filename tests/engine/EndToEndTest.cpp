// End to end on NTFS images made by orva-mkimage: attach, register, build, query and
// fetch every row, checked against what was put in.
#include "EngineTestSupport.h"

#include "ImageBuilder.h"
#include "platform/DriveMap.h"
#include "platform/Paths.h"
#include "platform/TextConversion.h"

#include <algorithm>
#include <cstdlib>
#include <map>

using namespace orva::enginetest;
namespace mk = orva::mkimage;

namespace
{
// 100 ns intervals from 1601 to 1970.
constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ull;

const std::vector<mk::ImageEntry> kEntries{
    {"Docs", true, 0, 1600000000, {}},
    {"Docs/Sub", true, 0, 1600000100, {}},
    {"Docs/Sub/report.pdf", false, 123456, 1600000200, {}},
    {"Docs/readme.TXT", false, 42, 1600000300, {}},
    {"数据", true, 0, 1600000400, {}},
    {"数据/文件名称.doc", false, 7, 1600000500, {}},
    {"数据/Café ΣΊΣΥΦΟΣ.txt", false, 0, 1600000600, {}},
    {"_underscore", false, 1, 1600000700, {}},
    {"top level.bin", false, 5000000000ull, 1600000800, {}},
    {"Docs/" + std::string(255, 'n'), false, 3, 1600000900, {}},
};

// Attaches a fresh image under the first free letter from `from`.
char AttachNewImage(const std::string& image, const std::vector<mk::ImageEntry>& entries, char from)
{
    mk::ImageOptions options;
    options.output = image;
    std::string error;
    if (!mk::BuildImage(options, entries, &error))
    {
        ADD_FAILURE() << error;
        return 0;
    }
    for (char letter = from; letter <= 'Z'; ++letter)
    {
        if (orva::platform::AttachImage(letter, image, 0))
            return letter;
    }
    ADD_FAILURE() << "no free drive letter";
    return 0;
}

std::u16string VolumeNameOfLetter(char letter)
{
    for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
    {
        if (volume.letter == letter)
            return volume.volumeName;
    }
    return {};
}

// mkntfs seeds the serial number with the clock, so two images made in one second share
// it; the serial registered is the letter, which AddVolume takes as given.
BOOL Register(COrvaService& service, char letter)
{
    return service.AddVolume(static_cast<DWORD>(letter), VolumeNameOfLetter(letter).c_str(), 1 << 20, 1 << 16, 0,
                             FALSE);
}

// Each test gets its own drive map and journal store in the scratch directory.
class EndToEndTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        const std::string here = std::filesystem::current_path();
        ::setenv("XDG_CONFIG_HOME", (here + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (here + "/state").c_str(), 1);
    }
    void TearDown() override
    {
        for (char letter : m_attached)
            orva::platform::DetachImage(letter);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_STATE_HOME");
        EngineTest::TearDown();
    }
    char Attach(const std::string& image, const std::vector<mk::ImageEntry>& entries, char from = 'C')
    {
        const char letter = AttachNewImage(image, entries, from);
        if (letter != 0)
            m_attached.push_back(letter);
        return letter;
    }

private:
    std::vector<char> m_attached;
};
} // namespace

TEST_F(EndToEndTest, EveryRowMatchesWhatWasPutIn)
{
    const char letter = Attach("volume.img", kEntries);
    ASSERT_NE(letter, 0);
    COrvaService service;
    ASSERT_TRUE(Register(service, letter));
    const DWORD count = service.CreateDatabase();
    ASSERT_GT(count, kEntries.size());
    ASSERT_EQ(service.Query(u"", 0), count);
    EXPECT_EQ(PerfLogLabels().size(), 6u);

    const std::u16string drive{static_cast<char16_t>(letter), u':'};
    std::map<std::u16string, Row> byPath; // full path -> row
    bool filesStarted = false;
    for (const Row& row : AllRows(service, count))
    {
        EXPECT_FALSE(row.folder && filesStarted) << "folders come first";
        filesStarted = filesStarted || !row.folder;
        EXPECT_TRUE(byPath.emplace(row.path + u"\\" + row.name, row).second) << Utf8(row.name);
    }
    for (const mk::ImageEntry& entry : kEntries)
    {
        std::u16string path = drive + u"\\" + orva::platform::ToUtf16(entry.path);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        SCOPED_TRACE(Utf8(path));
        const auto found = byPath.find(path);
        ASSERT_NE(found, byPath.end());
        const Row& row = found->second;
        EXPECT_EQ(row.folder, entry.directory);
        if (!entry.directory)
            EXPECT_EQ(row.size, entry.size);
        EXPECT_EQ(row.time, kUnixEpochAsFileTime + static_cast<ULONGLONG>(*entry.mtime) * 10000000ull);
        byPath.erase(found);
    }
    // What is left are the file system's own entries and the root.
    for (const auto& [path, row] : byPath)
        EXPECT_TRUE(row.name == u"." || row.name.starts_with(u"$") || path.find(u"\\$") != std::u16string::npos)
            << Utf8(path);

    // Keyword queries give what the straightforward algorithm gives.
    const std::vector<Row> all = AllRows(service, service.Query(u"", 0));
    for (const char16_t* keyword : {u"DOCS", u"σίσυφος", u"文件", u"nnnnn", u" ", u"_", u"$", u"e"})
    {
        SCOPED_TRACE(Utf8(keyword));
        std::vector<std::u16string> expected;
        for (const Row& row : all)
        {
            if (StrStrIW(row.name.c_str(), keyword) != nullptr)
                expected.push_back(row.path + u"\\" + row.name);
        }
        std::vector<std::u16string> found;
        for (const Row& row : AllRows(service, service.Query(keyword, 0)))
            found.push_back(row.path + u"\\" + row.name);
        EXPECT_EQ(found, expected);
    }
}

TEST_F(EndToEndTest, TwoImagesBuildInLetterOrderAndRebuildSafely)
{
    const char first = Attach("first.img", {{"one", true, 0, 1600000000, {}}, {"one/a.txt", false, 1, {}, {}}});
    const char second = Attach("second.img", {{"two.txt", false, 2, {}, {}}}, static_cast<char>(first + 1));
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    COrvaService service;
    ASSERT_TRUE(Register(service, second));
    ASSERT_TRUE(Register(service, first));
    const DWORD count = service.CreateDatabase();
    const CChangeJournal* low = OrvaServiceTestAccess::Volume(service, first);
    const CChangeJournal* high = OrvaServiceTestAccess::Volume(service, second);
    EXPECT_EQ(low->GetFileIndexBegin(), 0u);
    EXPECT_EQ(low->GetFileIndexEnd(), high->GetFileIndexBegin());
    EXPECT_EQ(low->GetFolderIndexEnd(), high->GetFolderIndexBegin());
    ASSERT_EQ(service.Query(u"two.txt", 0), 1u);
    const std::u16string secondRoot{static_cast<char16_t>(second), u':'};
    EXPECT_EQ(GetRow(service, 0).path, secondRoot);

    EXPECT_EQ(service.CreateDatabase(), count);
    ASSERT_EQ(service.Query(u"a.txt", 0), 1u);
    const std::u16string expectedPath = std::u16string{static_cast<char16_t>(first), u':', u'\\'} + u"one";
    EXPECT_EQ(GetRow(service, 0).path, expectedPath);
    EXPECT_EQ(PerfLogLabels().size(), 22u);
}
