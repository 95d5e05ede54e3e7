// The name pool, the growable tables and the block allocator: boundaries, refusals and
// the order in which a service gives its memory back.
#include "EngineTestSupport.h"

#include <dlfcn.h>

#include <set>

using orva::enginetest::EngineTest;
namespace pt = orva::platform::testing;
using Access = OrvaServiceTestAccess;

namespace
{
// Every HeapFree of the process passes here while `g_recordFrees` is set, so the test
// sees the order in which the service releases its memory.
bool g_recordFrees = false;
std::vector<LPVOID> g_frees;
} // namespace

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory)
{
    using Real = BOOL (*)(HANDLE, DWORD, LPVOID);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "_Z8HeapFreePvjS_"));
    if (g_recordFrees)
        g_frees.push_back(memory);
    return real(heap, flags, memory);
}

TEST_F(EngineTest, FreshServiceHoldsNoMemory)
{
    COrvaService service;
    EXPECT_EQ(Access::FolderIndex(service).pointer, nullptr);
    EXPECT_EQ(Access::FileIndex(service).pointer, nullptr);
    EXPECT_EQ(Access::FolderResult(service).pointer, nullptr);
    EXPECT_EQ(Access::FileResult(service).pointer, nullptr);
    EXPECT_EQ(Access::Heap(service).GetBlockTable(), nullptr);
    EXPECT_EQ(Access::Heap(service).GetBlockCount(), 0u);
    EXPECT_EQ(Access::PoolLimit(service), 0u);
    EXPECT_EQ(service.Query(u"", 0), 0u);
}

TEST_F(EngineTest, RoomTestOpensNewBlockAtLimit)
{
    COrvaService service;
    BYTE* first = Access::PlaceRecord(service, 11, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, Access::CurrentBlock(service));
    EXPECT_EQ(Access::Heap(service).GetTableCapacity(), 4096u);
    EXPECT_EQ(Access::Heap(service).GetBlockCount(), 1u);

    struct Case
    {
        DWORD header;
        DWORD name;
        DWORD sum; // cursor + header + name
        bool newBlock;
    };
    const Case cases[] = {
        {11, 0, 65535, false}, {19, 0, 65535, false}, {19, 765, 65535, false},
        {11, 5, 65536, true},  {19, 765, 65536, true}, {19, 0, 65537, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "header " << c.header << " name " << c.name << " sum " << c.sum);
        const DWORD blocks = Access::Heap(service).GetBlockCount();
        BYTE* block = Access::CurrentBlock(service);
        Access::PoolCursor(service) = c.sum - c.header - c.name;
        BYTE* at = Access::PlaceRecord(service, c.header, c.name);
        if (c.newBlock)
        {
            EXPECT_EQ(Access::Heap(service).GetBlockCount(), blocks + 1);
            EXPECT_EQ(at, Access::CurrentBlock(service));
            EXPECT_NE(at, block);
            EXPECT_EQ(Access::PoolCursor(service), 0u);
        }
        else
        {
            EXPECT_EQ(Access::Heap(service).GetBlockCount(), blocks);
            EXPECT_EQ(at, block + c.sum - c.header - c.name);
        }
    }
}

TEST_F(EngineTest, TableGrowsBy64KiBAndNewSpaceReadsZero)
{
    COrvaService::RecordTable table{};
    BYTE marker = 0;
    ASSERT_EQ(Access::Append(table, &marker), 1u);
    EXPECT_EQ(table.capacity, 0x10000u);
    for (DWORD i = 2; i <= 8192; ++i)
        ASSERT_EQ(Access::Append(table, &marker), i);
    EXPECT_EQ(table.capacity, 0x10000u);
    ASSERT_EQ(Access::Append(table, &marker), 8193u);
    EXPECT_EQ(table.capacity, 0x20000u);
    for (DWORD i = 0; i < 8193; ++i)
        ASSERT_EQ(table.pointer[i], &marker);
    for (DWORD i = 8193; i < 16384; ++i)
        ASSERT_EQ(table.pointer[i], nullptr) << i;
    HeapFree(GetProcessHeap(), 0, table.pointer);
}

// The block table never grows: the 4097th block is refused instead of written past it.
TEST_F(EngineTest, BlockTableRefusesThe4097thBlock)
{
    CHeapManager manager;
    for (int i = 0; i < 4096; ++i)
        ASSERT_NE(manager.Alloc(16), nullptr) << i;
    EXPECT_EQ(manager.Alloc(16), nullptr);
    EXPECT_EQ(manager.GetBlockCount(), 4096u);
}

TEST_F(EngineTest, RefusedTableBlockOrGrowthChangesNothing)
{
    {
        CHeapManager manager;
        pt::HeapFailAfter(0, 1); // the block table
        EXPECT_EQ(manager.Alloc(64), nullptr);
        EXPECT_EQ(manager.GetBlockTable(), nullptr);
        EXPECT_NE(manager.Alloc(64), nullptr);
        EXPECT_EQ(manager.GetBlockCount(), 1u);
    }
    {
        CHeapManager manager;
        pt::HeapFailAfter(1, 1); // the first block
        EXPECT_EQ(manager.Alloc(64), nullptr);
        EXPECT_NE(manager.GetBlockTable(), nullptr);
        EXPECT_EQ(manager.GetBlockCount(), 0u);
    }
    {
        COrvaService::RecordTable table{};
        BYTE marker = 0;
        pt::HeapFailAfter(0, 1);
        EXPECT_EQ(Access::Append(table, &marker), 0u);
        EXPECT_EQ(table.pointer, nullptr);
        for (DWORD i = 1; i <= 8192; ++i)
            ASSERT_EQ(Access::Append(table, &marker), i);
        pt::HeapFailAfter(0, 1); // the growth to 0x20000
        EXPECT_EQ(Access::Append(table, &marker), 0u);
        EXPECT_EQ(table.count, 8192u);
        EXPECT_EQ(table.capacity, 0x10000u);
        EXPECT_EQ(table.pointer[8191], &marker);
        HeapFree(GetProcessHeap(), 0, table.pointer);
    }
}

// Whatever allocation the heap refuses, the build ends that volume with the records it
// stored, each one whole and linked.
TEST_F(EngineTest, BuildEndsCleanlyWhenTheHeapRefuses)
{
    std::vector<orva::enginetest::Entry> records{{orva::enginetest::kRootFrn, orva::enginetest::kRootFrn, true, u"."},
                                                 {0x100, orva::enginetest::kRootFrn, true, u"top"}};
    for (ULONGLONG i = 0; i < 20000; ++i)
        records.push_back({0x200 + i, 0x100, (i % 4) == 0, u"entry-" + std::u16string(1, u'a' + i % 26)});
    for (unsigned allowed = 0; allowed < 14; ++allowed)
    {
        SCOPED_TRACE(testing::Message() << "allocations allowed: " << allowed);
        pt::ClearScriptedVolumes();
        pt::AddScriptedVolume(orva::enginetest::VolumeWith('E', 0xE, records));
        COrvaService service;
        ASSERT_TRUE(service.AddVolume(0xE, orva::enginetest::VolumeNameOf('E').c_str(), 1 << 20, 1 << 16, 0, FALSE));
        pt::HeapFailAfter(allowed);
        const DWORD count = service.CreateDatabase();
        pt::HeapFailNone();
        EXPECT_LE(count, records.size());
        EXPECT_EQ(Access::Ready(service), count != 0 ? TRUE : FALSE);
        const DWORD stored = Access::FolderIndex(service).count + Access::FileIndex(service).count;
        EXPECT_EQ(stored, count);
        ASSERT_EQ(service.Query(u"", 0), count);
        for (const orva::enginetest::Row& row : orva::enginetest::AllRows(service, count))
        {
            if (row.name == u"top" || row.name == u".")
                EXPECT_EQ(row.path, u"E:");
            else
                EXPECT_EQ(row.path, u"E:\\top") << orva::enginetest::Utf8(row.name);
        }
    }
}

TEST_F(EngineTest, DestructorReleasesTablesThenNamesThenBlocksThenBlockTable)
{
    std::vector<orva::enginetest::Entry> records;
    for (ULONGLONG i = 0; i < 6000; ++i)
        records.push_back({0x100 + i, orva::enginetest::kRootFrn, (i % 2) == 0, u"name-" + std::u16string(40, u'x')});
    pt::AddScriptedVolume(orva::enginetest::VolumeWith('F', 0xF, records));
    auto* service = new COrvaService();
    ASSERT_TRUE(service->AddVolume(0xF, orva::enginetest::VolumeNameOf('F').c_str(), 1 << 20, 1 << 16, 0, FALSE));
    ASSERT_EQ(service->CreateDatabase(), 6000u);
    ASSERT_EQ(service->Query(u"name", 0), 6000u);

    std::vector<LPVOID> expected{Access::FolderIndex(*service).pointer, Access::FileIndex(*service).pointer,
                                 Access::FolderResult(*service).pointer, Access::FileResult(*service).pointer,
                                 Access::FolderNames(*service).bytes, Access::FileNames(*service).bytes};
    const CHeapManager& heap = Access::Heap(*service);
    ASSERT_GT(heap.GetBlockCount(), 2u);
    for (DWORD i = 0; i < heap.GetBlockCount(); ++i)
        expected.push_back(heap.GetBlockTable()[i]);
    expected.push_back(const_cast<LPVOID*>(heap.GetBlockTable()));

    g_frees.clear();
    g_recordFrees = true;
    delete service;
    g_recordFrees = false;
    EXPECT_EQ(g_frees, expected);
}
