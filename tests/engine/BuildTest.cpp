// The index build on scripted volumes: timing entries, volume order, name order, parent
// links, and answers a real NTFS would not give.
#include "EngineTestSupport.h"

#include "IndexRecords.h"
#include "platform/Exceptions.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

using namespace orva::enginetest;
namespace pt = orva::platform::testing;
using Access = OrvaServiceTestAccess;

namespace
{
const std::vector<std::u16string> kVolumePhases{u"解析USN日志", u"文件夹索引表快速排序", u"转换FRN为缓冲区指针",
                                                u"文件夹名称排序", u"文件名称排序"};

std::vector<std::u16string> FileNamesOfRange(const COrvaService& service, DWORD begin, DWORD end)
{
    std::vector<std::u16string> names;
    for (DWORD i = begin; i < end; ++i)
    {
        const auto node = orva::engine::NodeView::OfFile(Access::FileIndex(service).pointer[i]);
        names.push_back(orva::platform::ToUtf16({node.Name(), node.NameLength()}));
    }
    return names;
}

std::vector<BYTE> Record(ULONGLONG frn, ULONGLONG parent, bool folder, std::u16string_view name)
{
    std::vector<BYTE> bytes;
    pt::AppendUsnRecord(bytes, frn, parent, folder ? kDirectory : 0x20, name);
    return bytes;
}

void Append(std::vector<BYTE>& to, const std::vector<BYTE>& more) { to.insert(to.end(), more.begin(), more.end()); }

COrvaService& Built(COrvaService& service, const std::vector<char>& letters)
{
    for (char letter : letters)
        EXPECT_TRUE(service.AddVolume(0x100 + letter, VolumeNameOf(letter).c_str(), 1 << 20, 1 << 16, 0, FALSE));
    service.CreateDatabase();
    return service;
}
} // namespace

TEST_F(EngineTest, BuildWithoutVolumesWritesOneEntryAndStaysNotReady)
{
    COrvaService service;
    EXPECT_EQ(service.CreateDatabase(), 0u);
    EXPECT_FALSE(Access::Ready(service));
    EXPECT_EQ(service.Query(u"", 0), 0u);
    EXPECT_EQ(PerfLogLabels(), std::vector<std::u16string>{u"COrvaService::CreateDatabase"});
}

// Volumes are built in slot order; one whose device cannot be opened any more adds
// nothing and writes no entry, the others five each.
TEST_F(EngineTest, VolumesBuildInLetterOrderAndAClosedOneIsSkipped)
{
    pt::AddScriptedVolume(VolumeWith('E', 0x100 + 'E', {{0x20, kRootFrn, false, u"e1"}, {0x21, kRootFrn, false, u"e2"}}));
    pt::AddScriptedVolume(VolumeWith('D', 0x100 + 'D', {{0x20, kRootFrn, false, u"d1"}}));
    pt::AddScriptedVolume(VolumeWith('C', 0x100 + 'C', {{0x30, kRootFrn, true, u"c-dir"}, {0x31, 0x30, false, u"c1"}}));
    COrvaService service;
    for (char letter : {'E', 'D', 'C'})
        ASSERT_TRUE(service.AddVolume(0x100 + letter, VolumeNameOf(letter).c_str(), 1 << 20, 1 << 16, 0, FALSE));
    pt::ScriptedVolume closed = VolumeWith('D', 0x100 + 'D', {});
    closed.deviceOpens = false;
    pt::AddScriptedVolume(closed);

    EXPECT_EQ(service.CreateDatabase(), 4u);
    EXPECT_EQ(service.GetItemCount(), 4u);
    std::vector<std::u16string> expected = kVolumePhases;
    expected.insert(expected.end(), kVolumePhases.begin(), kVolumePhases.end());
    expected.push_back(u"COrvaService::CreateDatabase");
    EXPECT_EQ(PerfLogLabels(), expected);

    const CChangeJournal* c = Access::Volume(service, 'C');
    const CChangeJournal* e = Access::Volume(service, 'E');
    EXPECT_EQ(c->GetFileIndexBegin(), 0u);
    EXPECT_EQ(c->GetFileIndexEnd(), 1u);
    EXPECT_EQ(e->GetFileIndexBegin(), 1u);
    EXPECT_EQ(e->GetFileIndexEnd(), 3u);
    EXPECT_EQ(c->GetFolderIndexEnd(), 1u);
    EXPECT_EQ(e->GetFolderIndexBegin(), 1u);
    EXPECT_EQ(e->GetFolderIndexEnd(), 1u);
    ASSERT_EQ(service.Query(u"", 0), 4u);
    EXPECT_EQ(GetRow(service, 1).path, u"C:\\c-dir");
    EXPECT_EQ(GetRow(service, 3).path, u"E:");

    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(CPU_COUNT(&set), 1);
    EXPECT_TRUE(CPU_ISSET(0, &set));
}

TEST_F(EngineTest, NamesSortWithAsciiCaseFoldedAndPrefixesFirst)
{
    std::vector<Entry> records;
    ULONGLONG frn = 0x40;
    for (const char16_t* name : {u"b", u"abc", u"_x", u"B", u"ab", u"Zed", u"a", u"é", u"Ab"})
        records.push_back({frn++, kRootFrn, false, name});
    pt::AddScriptedVolume(VolumeWith('S', 0x100 + 'S', records));
    COrvaService service;
    Built(service, {'S'});
    std::vector<std::u16string> names = FileNamesOfRange(service, 0, Access::FileIndex(service).count);
    ASSERT_EQ(names.size(), records.size());
    // Names equal but for ASCII case sit together in either order.
    for (size_t i = 0; i + 1 < names.size(); ++i)
    {
        if (names[i] == u"B" && names[i + 1] == u"b")
            std::swap(names[i], names[i + 1]);
        if (names[i] == u"Ab" && names[i + 1] == u"ab")
            std::swap(names[i], names[i + 1]);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"_x", u"a", u"ab", u"Ab", u"abc", u"b", u"B", u"Zed", u"é"}));
}

TEST_F(EngineTest, LinksResolveParentsAndTopLevelEntriesHaveNone)
{
    pt::AddScriptedVolume(VolumeWith('S', 0x100 + 'S',
                                     {{kRootFrn, kRootFrn, true, u"."},
                                      {0x41, 0x40, false, u"deep.txt"},
                                      {0x40, 0x30, true, u"System32"},
                                      {0x30, kRootFrn, true, u"Windows"},
                                      {0x50, kRootFrn, false, u"pagefile.sys"},
                                      {0x60, 0x999, false, u"orphan"},
                                      {0x70, 0x71, true, u"loopA"},
                                      {0x71, 0x70, true, u"loopB"},
                                      {0x72, 0x70, false, u"inloop"}}));
    COrvaService service;
    Built(service, {'S'});
    ASSERT_EQ(service.Query(u"", 0), 9u);
    std::map<std::u16string, Row> rows;
    for (const Row& row : AllRows(service, 9))
        rows[row.name] = row;
    EXPECT_EQ(rows[u"."].path, u"S:");
    EXPECT_TRUE(rows[u"Windows"].folder);
    EXPECT_EQ(rows[u"Windows"].path, u"S:");
    EXPECT_EQ(rows[u"System32"].path, u"S:\\Windows");
    EXPECT_EQ(rows[u"deep.txt"].path, u"S:\\Windows\\System32");
    EXPECT_FALSE(rows[u"deep.txt"].folder);
    EXPECT_EQ(rows[u"pagefile.sys"].path, u"S:");
    EXPECT_EQ(rows[u"orphan"].path, u"S:"); // parent not delivered
    // A parent loop ends: the path is cut where the walk gives up, at a drive root.
    EXPECT_EQ(rows[u"inloop"].path.substr(0, 3), u"S:\\");
    EXPECT_NE(rows[u"inloop"].path.find(u"loopA"), std::u16string::npos);

    // A folder's record keeps its own FRN; the table is in name order.
    const auto& folders = Access::FolderIndex(service);
    std::vector<ULONGLONG> frns;
    for (DWORD i = 0; i < folders.count; ++i)
        frns.push_back(orva::engine::FolderFrn(folders.pointer[i]));
    EXPECT_EQ(frns, (std::vector<ULONGLONG>{kRootFrn, 0x70, 0x71, 0x40, 0x30}));
    std::string path;
    EXPECT_FALSE(Access::RecursivePath(service, folders.pointer[1], path));
}

TEST_F(EngineTest, DuplicateFolderFrnsAreReportedOncePerBuild)
{
    pt::AddScriptedVolume(VolumeWith('S', 0x100 + 'S',
                                     {{0x40, kRootFrn, true, u"one"},
                                            {0x40, kRootFrn, true, u"two"},
                                            {0x40, kRootFrn, true, u"three"},
                                      {0x41, 0x40, false, u"child"}}));
    COrvaService service;
    Built(service, {'S'});
    EXPECT_EQ(boxes, std::vector<std::u16string>{u"EQU"});
    EXPECT_EQ(service.GetItemCount(), 4u);
    boxes.clear();
    EXPECT_EQ(service.CreateDatabase(), 4u); // a rebuild starts afresh
    EXPECT_EQ(boxes, std::vector<std::u16string>{u"EQU"});
    ASSERT_EQ(service.Query(u"child", 0), 1u);
    EXPECT_EQ(GetRow(service, 0).path.substr(0, 3), u"S:\\");
}

// Every answer's walk stops at the first record it cannot trust; what came before
// stays, and the next answer is walked again.
TEST_F(EngineTest, RecordsThatLieEndTheirAnswerWalk)
{
    struct Case
    {
        const char* what;
        void (*spoil)(std::vector<BYTE>& liar); // the liar record alone
    };
    const Case cases[] = {
        {"zero length", [](std::vector<BYTE>& r) { std::memset(r.data(), 0, 4); }},
        {"below the header",
         [](std::vector<BYTE>& r) {
             const DWORD length = 56;
             std::memcpy(r.data(), &length, 4);
         }},
        {"past the valid bytes",
         [](std::vector<BYTE>& r) {
             const DWORD length = 0x8000;
             std::memcpy(r.data(), &length, 4);
         }},
        {"not 8-byte aligned",
         [](std::vector<BYTE>& r) {
             const DWORD length = 66;
             std::memcpy(r.data(), &length, 4);
         }},
        {"name past its record",
         [](std::vector<BYTE>& r) {
             const WORD nameLength = 200;
             std::memcpy(r.data() + offsetof(USN_RECORD_V2, FileNameLength), &nameLength, 2);
         }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        pt::ClearScriptedVolumes();
        std::vector<BYTE> first = pt::EnumHeader(0x50);
        Append(first, Record(0x41, kRootFrn, false, u"before"));
        std::vector<BYTE> liar = Record(0x42, kRootFrn, false, u"liar");
        c.spoil(liar);
        Append(first, liar);
        Append(first, Record(0x43, kRootFrn, false, u"after"));
        std::vector<BYTE> second = pt::EnumHeader(0x60);
        Append(second, Record(0x51, kRootFrn, false, u"next"));
        pt::ScriptedVolume volume = BareVolume('S', 0x100 + 'S');
        volume.enumAnswers = {{first}, {second}};
        pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
        COrvaService service;
        Built(service, {'S'});
        EXPECT_EQ(FileNamesOfRange(service, 0, Access::FileIndex(service).count),
                  (std::vector<std::u16string>{u"before", u"next"}));
        ASSERT_EQ(log.enumRequests.size(), 3u);
        EXPECT_EQ(log.enumRequests[1].StartFileReferenceNumber, 0x50u);
        EXPECT_EQ(log.openHandles, 0);
    }
}

TEST_F(EngineTest, HeaderOnlyAnswerAddsNothingAndTheWalkContinues)
{
    std::vector<BYTE> last = pt::EnumHeader(0x70);
    Append(last, Record(0x61, kRootFrn, false, u"only"));
    pt::ScriptedVolume volume = BareVolume('S', 0x100 + 'S');
    volume.journal.NextUsn = 31337;
    volume.enumAnswers = {{pt::EnumHeader(0x60)}, {last}};
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
    COrvaService service;
    Built(service, {'S'});
    EXPECT_EQ(service.GetItemCount(), 1u);
    ASSERT_EQ(log.enumRequests.size(), 3u);
    EXPECT_EQ(log.enumRequests[0].StartFileReferenceNumber, 0u);
    EXPECT_EQ(log.enumRequests[1].StartFileReferenceNumber, 0x60u);
    EXPECT_EQ(log.enumRequests[2].StartFileReferenceNumber, 0x70u);
    for (const MFT_ENUM_DATA_V0& request : log.enumRequests)
    {
        EXPECT_EQ(request.LowUsn, 0);
        EXPECT_EQ(request.HighUsn, 31337);
    }
}

// A platform whose answers do not move on would be asked forever.
TEST_F(EngineTest, AnswerThatDoesNotMoveOnEndsTheEnumeration)
{
    pt::ScriptedVolume volume = BareVolume('S', 0x100 + 'S');
    volume.enumerate = [](const MFT_ENUM_DATA_V0&, DWORD) {
        pt::EnumAnswer answer{pt::EnumHeader(0x10)};
        pt::AppendUsnRecord(answer.bytes, 0x0F, kRootFrn, 0x20, u"same");
        return answer;
    };
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
    COrvaService service;
    Built(service, {'S'});
    EXPECT_EQ(log.enumRequests.size(), 2u);
    EXPECT_EQ(service.GetItemCount(), 2u);
}

// Names are stored whole: 255 Chinese characters are 765 UTF-8 bytes.
TEST_F(EngineTest, LongestNtfsNamesAreStoredWhole)
{
    const std::u16string chinese(255, u'名');
    const std::u16string surrogates = [] {
        std::u16string s;
        for (int i = 0; i < 127; ++i)
            s += u"😀";
        return s + u"x";
    }();
    pt::AddScriptedVolume(VolumeWith('S', 0x100 + 'S', {{0x40, kRootFrn, false, chinese},
                                                       {0x41, kRootFrn, true, surrogates}}));
    COrvaService service;
    Built(service, {'S'});
    ASSERT_EQ(service.Query(u"名名名", 0), 1u);
    EXPECT_EQ(GetRow(service, 0).name, chinese);
    ASSERT_EQ(service.Query(u"😀X", 0), 1u);
    EXPECT_EQ(GetRow(service, 0).name, surrogates);
}

TEST_F(EngineTest, LockedPerfLogFailsTheBuildWhichStaysNotReady)
{
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(VolumeWith('S', 0x100 + 'S', {{0x40, kRootFrn, false, u"a"}}));
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(0x100 + 'S', VolumeNameOf('S').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    const int holder = ::open("Perf.log", O_RDWR | O_CREAT, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_THROW(service.CreateDatabase(), CFileException);
    ::close(holder);
    EXPECT_FALSE(Access::Ready(service));
    EXPECT_EQ(service.Query(u"", 0), 0u);
    EXPECT_EQ(log.openHandles, 0);
    EXPECT_EQ(service.CreateDatabase(), 1u);
}
