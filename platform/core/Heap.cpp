// The process heap on the C allocator.
//
// Every block carries a small header in front of the caller's bytes that holds the size
// the caller asked for: HEAP_ZERO_MEMORY on HeapReAlloc must zero exactly the bytes added
// beyond the old size, and HeapSize must answer the requested size, while
// malloc_usable_size only gives an upper bound. The header is 16 bytes, so the caller's
// bytes keep the alignment malloc gives (alignof(std::max_align_t)).
#include "platform/Heap.h"

#include "platform/Exceptions.h"
#include "platform/LastError.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace
{
struct alignas(std::max_align_t) BlockHeader
{
    SIZE_T requested;
};
static_assert(sizeof(BlockHeader) == alignof(std::max_align_t));

// Any non-null value serves as the handle; the address of a private object cannot be
// mistaken for anything else.
char g_processHeapTag;

// The refusal plan of the test seam. `g_planActive` keeps the plan's lock out of the hot
// path when no plan is set.
std::atomic<bool> g_planActive{false};
std::mutex g_planLock;
unsigned g_planAllowed = 0; // Guarded by g_planLock.
unsigned g_planRefused = 0; // Guarded by g_planLock.
constexpr unsigned kRefuseForever = ~0u;

bool SeamRefuses()
{
    if (!g_planActive.load(std::memory_order_acquire))
        return false;
    std::lock_guard lock(g_planLock);
    if (g_planAllowed > 0)
    {
        --g_planAllowed;
        return false;
    }
    if (g_planRefused == kRefuseForever)
        return true;
    if (g_planRefused > 0)
    {
        if (--g_planRefused == 0)
            g_planActive.store(false, std::memory_order_release);
        return true;
    }
    g_planActive.store(false, std::memory_order_release);
    return false;
}

BlockHeader* HeaderOf(LPCVOID memory)
{
    return const_cast<BlockHeader*>(static_cast<const BlockHeader*>(memory) - 1);
}

bool IsProcessHeap(HANDLE heap)
{
    return heap == static_cast<HANDLE>(&g_processHeapTag);
}

LPVOID Refuse(DWORD flags, DWORD error)
{
    SetLastError(error);
    if (flags & HEAP_GENERATE_EXCEPTIONS)
        throw CMemoryException();
    return nullptr;
}

bool TooLarge(SIZE_T bytes)
{
    return bytes > SIZE_MAX / 2 - sizeof(BlockHeader);
}
} // namespace

HANDLE GetProcessHeap()
{
    return static_cast<HANDLE>(&g_processHeapTag);
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (!IsProcessHeap(heap))
        return Refuse(flags, ERROR_INVALID_HANDLE);
    if (TooLarge(bytes) || SeamRefuses())
        return Refuse(flags, ERROR_NOT_ENOUGH_MEMORY);
    const SIZE_T total = sizeof(BlockHeader) + bytes;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, total) : std::malloc(total);
    if (!block)
        return Refuse(flags, ERROR_NOT_ENOUGH_MEMORY);
    auto* header = static_cast<BlockHeader*>(block);
    header->requested = bytes;
    return header + 1;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, SIZE_T bytes)
{
    if (!IsProcessHeap(heap) || !memory)
        return Refuse(flags, memory ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    BlockHeader* header = HeaderOf(memory);
    const SIZE_T oldBytes = header->requested;
    if (flags & HEAP_REALLOC_IN_PLACE_ONLY)
    {
        // Shrinking keeps the block where it is; growing in place is not promised by the
        // C allocator, so it is refused.
        if (bytes > oldBytes)
            return Refuse(flags, ERROR_NOT_ENOUGH_MEMORY);
        header->requested = bytes;
        return memory;
    }
    if (TooLarge(bytes) || SeamRefuses())
        return Refuse(flags, ERROR_NOT_ENOUGH_MEMORY);
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + bytes));
    if (!moved)
        return Refuse(flags, ERROR_NOT_ENOUGH_MEMORY);
    moved->requested = bytes;
    if ((flags & HEAP_ZERO_MEMORY) && bytes > oldBytes)
        std::memset(reinterpret_cast<BYTE*>(moved + 1) + oldBytes, 0, bytes - oldBytes);
    return moved + 1;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID memory)
{
    if (!IsProcessHeap(heap))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (memory)
        std::free(HeaderOf(memory));
    return TRUE;
}

SIZE_T HeapSize(HANDLE heap, DWORD /*flags*/, LPCVOID memory)
{
    if (!IsProcessHeap(heap) || !memory)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<SIZE_T>(-1);
    }
    return HeaderOf(memory)->requested;
}

namespace orva::platform::testing
{
void HeapFailAfter(unsigned allowed, unsigned refused)
{
    std::lock_guard lock(g_planLock);
    g_planAllowed = allowed;
    g_planRefused = refused;
    g_planActive.store(refused > 0, std::memory_order_release);
}

void HeapFailNone()
{
    std::lock_guard lock(g_planLock);
    g_planAllowed = 0;
    g_planRefused = 0;
    g_planActive.store(false, std::memory_order_release);
}
} // namespace orva::platform::testing
