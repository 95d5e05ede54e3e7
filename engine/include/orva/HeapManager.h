// CHeapManager: the block allocator of the name pool.
//
// Alloc hands out blocks from the process heap and records each in the block table,
// which is allocated on the first Alloc with _DEFAULT_HEAP_LENGTH entries and never
// grows. The destructor frees every recorded block, then the table.
//
// Failure: Alloc returns null when the heap refuses the table or the block, and also
// when the table is full (the 4097th block), so the pool never writes past the table.
#pragma once

#include "orva/OrvaCoreApi.h"
#include "platform/WinTypes.h"

class ORVACORE_API CHeapManager
{
public:
    CHeapManager();
    ~CHeapManager();
    CHeapManager& operator=(const CHeapManager& other) = default;

    // A new block of `size` bytes (not zeroed), or null.
    LPVOID Alloc(DWORD size);

    DWORD GetBlockCount() const { return m_blockCount; }
    DWORD GetTableCapacity() const { return m_tableCapacity; }
    LPVOID const* GetBlockTable() const { return m_blockTable; }

private:
    BOOL CreateHeapTable(DWORD entries);

    static const int _DEFAULT_HEAP_LENGTH;

    LPVOID* m_blockTable; // every block allocated so far, in allocation order
    HANDLE m_heap;        // the process heap
    DWORD m_blockCount;   // blocks allocated = next free entry of m_blockTable
    DWORD m_tableCapacity;

    friend struct HeapManagerTestAccess;
};
