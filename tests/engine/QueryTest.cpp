// Name queries and result rows: the production matcher against the straightforward
// algorithm, the result lists, and rows with their paths, sizes and times.
#include "EngineTestSupport.h"

#include "IndexRecords.h"
#include "platform/TextConversion.h"

using namespace orva::enginetest;
namespace pt = orva::platform::testing;
using Access = OrvaServiceTestAccess;

namespace
{
// Names that stress case mapping: ASCII, accented, Chinese, the Kelvin sign, the dotted
// capital I, Greek sigmas (final and not), the long s, a surrogate pair.
const std::vector<std::u16string> kStressNames{
    u"Readme.TXT", u"kelvin.dat", u"\u212Aelvin scale", u"STRASSE", u"straße", u"Straße.doc",
    u"İstanbul", u"istanbul", u"ISTANBUL", u"ıı", u"ΣΊΣΥΦΟΣ", u"σίσυφος", u"Σίσυφος.ς",
    u"Café", u"CAFÉ.txt", u"cafe", u"文件名称", u"中文Abc.txt", u"ſtop", u"STOP", u"émigré",
    u"a b", u"a_b", u"😀smile", u"SMILE😀", u"x\u00A0y", u"ǅ-title", u"ǆ", u"Ǆ", u"µ", u"μ", u"Μ",
    u"_under", u"KK", u"kk", u"\u212A\u212A",
    // Longer than one 16-byte chunk, with matches across chunk borders.
    u"long-ascii-name-that-crosses-several-chunks-Readme.TXT", u"文件文件文件文件文件文件-chunk-\u212Aelvin-end",
    u"0123456789abcdeFGHIJ0123456789abcdeK", u"ſſſſſſſſſſſſſſſſſſstop-at-the-end"};

const std::vector<std::u16string> kKeywords{
    u"k", u"K", u"\u212A", u"KELVIN", u"s", u"S", u"ß", u"SS", u"i", u"I", u"İ", u"ı", u"σ", u"ς", u"Σ",
    u"ΣΟΣ", u"é", u"É", u"cafe", u"文件", u"abc", u" ", u"\\", u"smile", u"😀", u"ſ", u"txt", u"zzz",
    u"ǅ", u"ǆ", u"µ", u"μ", u"_", u"kk", u"\u212Ak", u"a b", u"x\u00A0",
    u"chunks-readme", u"efghij", u"EK", u"chunk-k", u"sSTOP", u"-end", u"the-end"};

// The straightforward algorithm: every name in UTF-16, StrStrIW.
std::vector<std::u16string> ReferenceMatches(const std::vector<Row>& all, const std::u16string& keyword)
{
    std::vector<std::u16string> matches;
    for (const Row& row : all)
    {
        if (StrStrIW(row.name.c_str(), keyword.c_str()) != nullptr)
            matches.push_back(row.name);
    }
    return matches;
}

void BuildStressVolume(COrvaService& service)
{
    std::vector<Entry> records;
    ULONGLONG frn = 0x100;
    for (const std::u16string& name : kStressNames)
    {
        records.push_back({frn, kRootFrn, false, name});
        records.push_back({frn + 1, kRootFrn, true, name});
        frn += 2;
    }
    pt::AddScriptedVolume(VolumeWith('Q', 0x51, records));
    ASSERT_TRUE(service.AddVolume(0x51, VolumeNameOf('Q').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service.CreateDatabase(), records.size());
}
} // namespace

TEST_F(EngineTest, QueryMatchesTheStraightforwardAlgorithm)
{
    COrvaService service;
    BuildStressVolume(service);
    const DWORD all = service.Query(u"", 0);
    ASSERT_EQ(all, kStressNames.size() * 2);
    const std::vector<Row> rows = AllRows(service, all);
    for (const std::u16string& keyword : kKeywords)
    {
        SCOPED_TRACE(Utf8(keyword));
        const std::vector<std::u16string> expected = ReferenceMatches(rows, keyword);
        for (int flag : {0, 1})
        {
            const DWORD count = service.Query(keyword.c_str(), flag);
            std::vector<std::u16string> found;
            for (const Row& row : AllRows(service, count))
                found.push_back(row.name);
            EXPECT_EQ(found, expected);
        }
    }
    // A few answers that do not depend on the reference being right.
    EXPECT_EQ(service.Query(u"\u212A", 0), service.Query(u"k", 0));
    EXPECT_EQ(service.Query(u" ", 0), 4u); // "a b" and "\u212Aelvin scale", file and folder
    EXPECT_EQ(service.Query(u"\\", 0), 0u);
}

// Large enough for the scan to split over two threads. The laid-out names, the records
// read through the table, and the straightforward algorithm agree.
TEST_F(EngineTest, ScanWaysAgreeOnALargeIndex)
{
    std::vector<Entry> records;
    for (ULONGLONG i = 0; i < 140000; ++i)
    {
        const std::u16string& base = kStressNames[i % kStressNames.size()];
        records.push_back({0x100 + i, kRootFrn, (i % 2) == 0, base + u"-" + std::u16string(1, u'a' + i % 26)});
    }
    pt::AddScriptedVolume(VolumeWith('B', 0x42, records));
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(0x42, VolumeNameOf('B').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service.CreateDatabase(), records.size());
    ASSERT_NE(Access::FileNames(service).bytes, nullptr);
    ASSERT_GT(Access::FileNames(service).count, 65536u);

    // Both tables are in name order: bytes compared with A-Z as a-z, prefixes first.
    const auto folded = [](std::string name) {
        for (char& c : name)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        return std::vector<BYTE>(name.begin(), name.end());
    };
    for (const auto* table : {&Access::FolderIndex(service), &Access::FileIndex(service)})
    {
        const DWORD parentOffset = table == &Access::FolderIndex(service) ? 8 : 0;
        for (DWORD i = 0; i + 1 < table->count; ++i)
        {
            const orva::engine::NodeView left{table->pointer[i] + parentOffset};
            const orva::engine::NodeView right{table->pointer[i + 1] + parentOffset};
            ASSERT_FALSE(folded({right.Name(), right.NameLength()}) < folded({left.Name(), left.NameLength()})) << i;
        }
    }

    const auto names = [&](DWORD count) {
        std::vector<std::u16string> found;
        for (DWORD row = 0; row < count; ++row)
            found.push_back(GetRow(service, row).name);
        return found;
    };
    const std::vector<Row> all = AllRows(service, service.Query(u"", 0));
    const std::vector<std::u16string> keywords{u"K", u"ς", u"文件", u"straSSe-q", u"-z", u"zzz", u"İ"};
    std::vector<std::vector<std::u16string>> laidOut;
    for (const std::u16string& keyword : keywords)
    {
        laidOut.push_back(names(service.Query(keyword.c_str(), 0)));
        EXPECT_EQ(laidOut.back(), ReferenceMatches(all, keyword)) << Utf8(keyword);
    }
    Access::DropNameScans(service);
    for (size_t k = 0; k < keywords.size(); ++k)
        EXPECT_EQ(names(service.Query(keywords[k].c_str(), 0)), laidOut[k]) << Utf8(keywords[k]);
}

TEST_F(EngineTest, QueryListsFoldersFirstInTableOrder)
{
    COrvaService service;
    BuildStressVolume(service);
    const DWORD count = service.Query(u"a", 0);
    const auto& folders = Access::FolderResult(service);
    const auto& files = Access::FileResult(service);
    ASSERT_EQ(count, folders.count + files.count);
    ASSERT_GT(folders.count, 0u);
    for (DWORD row = 0; row < count; ++row)
        EXPECT_EQ(GetRow(service, row).folder, row < folders.count);
    // Result entries are record addresses, in index table order.
    const auto& table = Access::FolderIndex(service);
    DWORD at = 0;
    for (DWORD i = 0; i < folders.count; ++i)
    {
        while (at < table.count && table.pointer[at] != folders.pointer[i])
            ++at;
        ASSERT_LT(at, table.count);
    }
}

TEST_F(EngineTest, QueryWithoutMatchesOrWithRefusedListsLeavesBothListsEmpty)
{
    COrvaService service;
    BuildStressVolume(service);
    EXPECT_EQ(service.Query(u"no such name", 0), 0u);
    EXPECT_EQ(Access::FolderResult(service).pointer, nullptr);
    EXPECT_EQ(Access::FileResult(service).pointer, nullptr);

    for (unsigned allowed : {0u, 1u})
    {
        for (const char16_t* keyword : {u"", u"a"})
        {
            ASSERT_GT(service.Query(u"e", 0), 0u);
            pt::HeapFailAfter(allowed);
            EXPECT_EQ(service.Query(keyword, 0), 0u);
            pt::HeapFailNone();
            EXPECT_EQ(Access::FolderResult(service).count, 0u);
            EXPECT_EQ(Access::FileResult(service).count, 0u);
            EXPECT_EQ(Access::FolderResult(service).pointer, nullptr);
            EXPECT_EQ(Access::FileResult(service).pointer, nullptr);
        }
    }
}

TEST_F(EngineTest, ResultListGrowsPastOneStepInOrder)
{
    std::vector<Entry> records;
    for (ULONGLONG i = 0; i < 9000; ++i)
        records.push_back({0x100 + i, kRootFrn, true, u"dir" + std::u16string(1, u'a' + i % 26)});
    pt::AddScriptedVolume(VolumeWith('G', 0x47, records));
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(0x47, VolumeNameOf('G').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service.CreateDatabase(), 9000u);
    ASSERT_EQ(service.Query(u"DIR", 0), 9000u);
    const auto& result = Access::FolderResult(service);
    EXPECT_EQ(result.capacity, 0x20000u);
    const auto& table = Access::FolderIndex(service);
    EXPECT_TRUE(std::equal(result.pointer, result.pointer + 9000, table.pointer));
}

// A build that indexes nothing clears the ready flag: queries answer 0 and the rows of
// the previous query stay readable.
TEST_F(EngineTest, NotReadyIndexAnswersZeroAndKeepsThePreviousRows)
{
    COrvaService service;
    BuildStressVolume(service);
    ASSERT_EQ(service.Query(u"文件名称", 0), 2u);
    pt::ScriptedVolume gone = VolumeWith('Q', 0x51, {});
    gone.deviceOpens = false;
    pt::AddScriptedVolume(gone);
    EXPECT_EQ(service.CreateDatabase(), 0u);
    EXPECT_EQ(service.Query(u"", 0), 0u);
    EXPECT_EQ(GetRow(service, 1).name, u"文件名称");
}

TEST_F(EngineTest, RowsCarryPathFlagSizeAndTime)
{
    pt::ScriptedVolume volume = VolumeWith('C', 0x43,
                                           {{0x30, kRootFrn, true, u"Windows"},
                                            {0x31, 0x30, true, u"System32"},
                                            {0x32, 0x31, false, u"notepad.exe"},
                                            {0x33, kRootFrn, false, u"pagefile.sys"},
                                            {0x34, kRootFrn, false, u"gone.txt"}});
    WIN32_FILE_ATTRIBUTE_DATA notepad{};
    notepad.nFileSizeHigh = 1;
    notepad.nFileSizeLow = 2;
    notepad.ftLastWriteTime = {0x89ABCDEF, 0x01D00000};
    volume.attributes[u"\\Windows\\System32\\notepad.exe"] = notepad;
    WIN32_FILE_ATTRIBUTE_DATA pagefile{};
    pagefile.nFileSizeLow = 4096;
    pagefile.ftLastWriteTime = {5, 6};
    volume.attributes[u"\\pagefile.sys"] = pagefile;
    pt::AddScriptedVolume(volume);
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(0x43, VolumeNameOf('C').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service.CreateDatabase(), 5u);
    ASSERT_EQ(service.Query(u"", 0), 5u);
    const std::vector<Row> rows = AllRows(service, 5);
    // Folders first, each kind by name.
    EXPECT_EQ(rows[0].name, u"System32");
    EXPECT_EQ(rows[0].path, u"C:\\Windows");
    EXPECT_TRUE(rows[0].folder);
    EXPECT_EQ(rows[1].name, u"Windows");
    EXPECT_EQ(rows[1].path, u"C:");
    EXPECT_EQ(rows[2].name, u"gone.txt");
    EXPECT_EQ(rows[2].size, 0u); // attributes cannot be read: size and time zero
    EXPECT_EQ(rows[2].time, 0u);
    EXPECT_EQ(rows[3].name, u"notepad.exe");
    EXPECT_EQ(rows[3].path, u"C:\\Windows\\System32");
    EXPECT_FALSE(rows[3].folder);
    EXPECT_EQ(rows[3].size, 0x100000002u);
    EXPECT_EQ(rows[3].time, 0x01D0000089ABCDEFu);
    EXPECT_EQ(rows[4].path, u"C:");
    EXPECT_EQ(rows[4].size, 4096u);
    EXPECT_EQ(rows[4].time, 0x0000000600000005u);

    // A row at the count writes nothing.
    WCHAR name[4] = {u'z', u'z', u'z', u'z'};
    WCHAR path[4] = {u'z', u'z', u'z', u'z'};
    FILETIME time{7, 7};
    LARGE_INTEGER size{};
    size.QuadPart = 9;
    int folder = 3;
    EXPECT_FALSE(service.GetResultItem(5, name, 3, path, 3, &time, &size, &folder));
    EXPECT_EQ(std::u16string(name, 4), u"zzzz");
    EXPECT_EQ(std::u16string(path, 4), u"zzzz");
    EXPECT_EQ(size.QuadPart, 9);
    EXPECT_EQ(folder, 3);
}

// Texts longer than the caller's buffers are cut at a character boundary; nothing is
// written past the size given, and size and time are still read with the whole path.
TEST_F(EngineTest, LongPathsAreCutInsideTheBuffers)
{
    const std::u16string level(255, u'长');
    std::vector<Entry> records;
    std::u16string inside;
    ULONGLONG parent = kRootFrn;
    for (ULONGLONG i = 0; i < 4; ++i)
    {
        records.push_back({0x40 + i, parent, true, level});
        parent = 0x40 + i;
        inside += u"\\" + level;
    }
    const std::u16string emoji = u"😀😀😀";
    records.push_back({0x50, parent, false, emoji});
    pt::ScriptedVolume volume = VolumeWith('L', 0x4C, records);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    data.nFileSizeLow = 77;
    volume.attributes[inside + u"\\" + emoji] = data;
    pt::AddScriptedVolume(volume);
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(0x4C, VolumeNameOf('L').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service.CreateDatabase(), 5u);
    ASSERT_EQ(service.Query(u"😀", 0), 1u);

    WCHAR name[8];
    WCHAR path[MAX_PATH + 8];
    std::fill(std::begin(name), std::end(name), u'#');
    std::fill(std::begin(path), std::end(path), u'#');
    FILETIME time{};
    LARGE_INTEGER size{};
    int folder = -1;
    ASSERT_TRUE(service.GetResultItem(0, name, 5, path, MAX_PATH, &time, &size, &folder));
    // 5 units hold two pairs; the fifth unit would split the third.
    EXPECT_EQ(std::u16string(name, 5), u"😀😀#");
    const std::u16string whole = u"L:" + inside;
    EXPECT_EQ(std::u16string(path, MAX_PATH), whole.substr(0, MAX_PATH));
    EXPECT_TRUE(std::all_of(path + MAX_PATH, std::end(path), [](WCHAR c) { return c == u'#'; }));
    EXPECT_EQ(size.QuadPart, 77);
}
