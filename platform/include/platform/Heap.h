// The process heap. It is the C allocator underneath; HEAP_ZERO_MEMORY zeroes a new
// block, and on HeapReAlloc it zeroes the bytes added beyond the old size.
//
// Only the handle GetProcessHeap returns is accepted (anything else: ERROR_INVALID_HANDLE).
// HeapSize answers the size last asked for. HEAP_REALLOC_IN_PLACE_ONLY can only shrink.
// All functions may be called from any thread.
//
// Failure: HeapAlloc and HeapReAlloc return null (HeapReAlloc then leaves the old
// block as it was) and set ERROR_NOT_ENOUGH_MEMORY; with HEAP_GENERATE_EXCEPTIONS they
// throw CMemoryException instead.
#pragma once

#include "platform/WinTypes.h"

#define HEAP_NO_SERIALIZE 0x00000001u
#define HEAP_GENERATE_EXCEPTIONS 0x00000004u
#define HEAP_ZERO_MEMORY 0x00000008u
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010u

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID memory);

namespace orva::platform::testing
{
// Test seam: let the next `allowed` allocations (HeapAlloc and HeapReAlloc, on any
// thread) succeed, then refuse the `refused` after them; afterwards allocations succeed
// again. `refused` = ~0u (the default) refuses until HeapFailNone(), which cancels the
// plan. HeapFree is never refused.
void HeapFailAfter(unsigned allowed, unsigned refused = ~0u);
void HeapFailNone();
} // namespace orva::platform::testing
