#include "platform/Heap.h"

#include "platform/Exceptions.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using orva::platform::testing::HeapFailAfter;
using orva::platform::testing::HeapFailNone;

namespace
{
class Heap : public ::testing::Test
{
protected:
    void TearDown() override { HeapFailNone(); }
};

bool AllZero(const void* memory, SIZE_T from, SIZE_T to)
{
    const auto* bytes = static_cast<const BYTE*>(memory);
    return std::all_of(bytes + from, bytes + to, [](BYTE b) { return b == 0; });
}
} // namespace

TEST_F(Heap, ZeroMemoryZeroesNewBlockAndGrownTail)
{
    // Dirty the allocator's free lists first so a zero read is not luck.
    for (int i = 0; i < 8; ++i)
    {
        void* dirty = HeapAlloc(GetProcessHeap(), 0, 0x30000);
        std::memset(dirty, 0xAB, 0x30000);
        HeapFree(GetProcessHeap(), 0, dirty);
    }
    auto* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 0x10000));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 0, 0x10000));
    std::memset(block, 0x5A, 0x10000);

    block = static_cast<BYTE*>(HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, 0x20000));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), 0x20000u);
    EXPECT_EQ(block[0], 0x5A);
    EXPECT_EQ(block[0xFFFF], 0x5A);
    EXPECT_TRUE(AllZero(block, 0x10000, 0x20000));

    // An odd old size: the tail starts exactly at the old size, not at malloc's rounding.
    block = static_cast<BYTE*>(HeapReAlloc(GetProcessHeap(), 0, block, 13));
    std::memset(block, 0x77, 13);
    block = static_cast<BYTE*>(HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, 100));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[12], 0x77);
    EXPECT_TRUE(AllZero(block, 13, 100));
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
}

TEST_F(Heap, BlocksAreAlignedForAnyType)
{
    for (SIZE_T bytes : {SIZE_T{1}, SIZE_T{7}, SIZE_T{4096}})
    {
        void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
        HeapFree(GetProcessHeap(), 0, block);
    }
}

TEST_F(Heap, SeamRefusesPlannedAllocationsAndKeepsOldBlock)
{
    auto* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, 16));
    std::memset(block, 0x11, 16);

    HeapFailAfter(/*allowed=*/1, /*refused=*/2);
    void* allowed = HeapAlloc(GetProcessHeap(), 0, 8);
    EXPECT_NE(allowed, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, 64), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), 16u);
    EXPECT_EQ(block[15], 0x11);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
    void* afterPlan = HeapAlloc(GetProcessHeap(), 0, 8);
    EXPECT_NE(afterPlan, nullptr);

    HeapFailAfter(0);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
    EXPECT_THROW(HeapAlloc(GetProcessHeap(), HEAP_GENERATE_EXCEPTIONS, 8), CMemoryException);
    HeapFailNone();
    void* again = HeapAlloc(GetProcessHeap(), 0, 8);
    EXPECT_NE(again, nullptr);

    for (void* p : {static_cast<void*>(block), allowed, afterPlan, again})
        EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, p));
}

TEST_F(Heap, SeamCountsAllocationsOfAllThreads)
{
    HeapFailAfter(/*allowed=*/1000, /*refused=*/1000);
    std::atomic<int> granted{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
            {
                void* p = HeapAlloc(GetProcessHeap(), 0, 32);
                (p ? granted : refused)++;
                HeapFree(GetProcessHeap(), 0, p);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(granted.load(), 3000);
    EXPECT_EQ(refused.load(), 1000);
}

TEST_F(Heap, RefusesForeignHandlesAndImpossibleSizes)
{
    int notAHeap = 0;
    EXPECT_EQ(HeapAlloc(&notAHeap, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_MAX - 4), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
}

TEST_F(Heap, InPlaceOnlyShrinksButNeverMoves)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, 64);
    EXPECT_EQ(HeapReAlloc(GetProcessHeap(), HEAP_REALLOC_IN_PLACE_ONLY, block, 32), block);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), 32u);
    EXPECT_EQ(HeapReAlloc(GetProcessHeap(), HEAP_REALLOC_IN_PLACE_ONLY, block, 1 << 20), nullptr);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), 32u);
    HeapFree(GetProcessHeap(), 0, block);
}
