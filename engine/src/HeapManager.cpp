#include "orva/HeapManager.h"

#include "platform/Heap.h"

ORVACORE_API const int CHeapManager::_DEFAULT_HEAP_LENGTH = 4096;

CHeapManager::CHeapManager() : m_blockTable(nullptr), m_heap(nullptr), m_blockCount(0), m_tableCapacity(0)
{
    m_heap = GetProcessHeap();
}

CHeapManager::~CHeapManager()
{
    if (m_blockTable == nullptr)
        return;
    for (DWORD i = 0; i < m_blockCount; ++i)
        HeapFree(m_heap, 0, m_blockTable[i]);
    HeapFree(m_heap, 0, m_blockTable);
}

LPVOID CHeapManager::Alloc(DWORD size)
{
    if (m_blockTable == nullptr && !CreateHeapTable(_DEFAULT_HEAP_LENGTH))
        return nullptr;
    // The table never grows: a full table refuses the block rather than write past it.
    if (m_blockCount >= m_tableCapacity)
        return nullptr;
    LPVOID block = HeapAlloc(m_heap, 0, size);
    if (block == nullptr)
        return nullptr;
    m_blockTable[m_blockCount++] = block;
    return block;
}

BOOL CHeapManager::CreateHeapTable(DWORD entries)
{
    auto* table = static_cast<LPVOID*>(HeapAlloc(m_heap, 0, SIZE_T{entries} * sizeof(LPVOID)));
    if (table == nullptr)
        return FALSE;
    m_blockTable = table;
    m_tableCapacity = entries;
    return TRUE;
}
