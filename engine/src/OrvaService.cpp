// COrvaService: construction, destruction, the storage steps of the name pool and the
// index tables, and volume registration.
//
// Storage: a record is placed at the pool cursor when cursor + header + name < limit
// (strictly less: the zero byte after the name must lie in the block too); otherwise a
// new 64 KiB block is taken and the old block's tail stays empty. Tables grow by 64 KiB
// (HEAP_ZERO_MEMORY, so unused entries read zero) when count + 1 exceeds the entries
// their capacity holds. Example: with 8-byte entries the 8,193rd append grows a table
// from 0x10000 to 0x20000 bytes.
#include "orva/OrvaService.h"

#include "IndexRecords.h"
#include "platform/Heap.h"
#include "platform/TextConversion.h"
#include "platform/Volume.h"

#include <cstdint>
#include <memory>

using namespace orva::engine;

COrvaService::COrvaService()
    : m_volumes{}, m_itemCount(0), m_poolCursor(0), m_poolLimit(0), m_currentBlock(nullptr), m_ready(FALSE),
      m_folderIndex{}, m_fileIndex{}, m_folderResult{}, m_fileResult{}, m_heapManager(), m_storageRefused(FALSE),
      m_duplicateFrnReported(FALSE), m_folderNames{}, m_fileNames{}
{
}

// The heap manager, destroyed after this body, then frees every block and its table.
COrvaService::~COrvaService()
{
    for (CChangeJournal*& volume : m_volumes)
    {
        delete volume;
        volume = nullptr;
    }
    ReleaseTable(m_folderIndex);
    ReleaseTable(m_fileIndex);
    ReleaseTable(m_folderResult);
    ReleaseTable(m_fileResult);
    ReleaseNameScan(m_folderNames);
    ReleaseNameScan(m_fileNames);
}

BYTE* COrvaService::PlaceRecord(DWORD headerSize, DWORD nameLength)
{
    if (!(m_poolCursor + headerSize + nameLength < m_poolLimit))
    {
        auto* block = static_cast<BYTE*>(m_heapManager.Alloc(kBlockSize));
        if (block == nullptr)
            return nullptr;
        m_currentBlock = block;
        m_poolLimit = kBlockSize;
        m_poolCursor = 0;
    }
    return m_currentBlock + m_poolCursor;
}

DWORD COrvaService::AppendToTable(RecordTable& table, BYTE* record)
{
    if (table.count + 1 > table.capacity / sizeof(BYTE*))
    {
        if (table.capacity > UINT32_MAX - kTableGrowth)
            return 0;
        const DWORD grown = table.capacity + kTableGrowth;
        void* memory = table.pointer == nullptr
                           ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, grown)
                           : HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, table.pointer, grown);
        if (memory == nullptr)
            return 0;
        table.pointer = static_cast<BYTE**>(memory);
        table.capacity = grown;
    }
    table.pointer[table.count] = record;
    return ++table.count;
}

void COrvaService::ReleaseTable(RecordTable& table)
{
    if (table.pointer != nullptr)
        HeapFree(GetProcessHeap(), 0, table.pointer);
    table = RecordTable{};
}

BOOL COrvaService::AddVolume(DWORD serialNumber, LPCWSTR rootPath, ULONGLONG maximumSize, ULONGLONG allocationDelta,
                             DWORD initHash, BOOL monitorChanges)
{
    if (VolumeExists(serialNumber))
        return FALSE;

    WCHAR label[MAX_PATH];
    WCHAR fileSystem[MAX_PATH];
    DWORD reportedSerial = 0;
    DWORD maximumComponentLength = 0;
    DWORD fileSystemFlags = 0;
    // The serial number reported here is not compared with the caller's.
    if (!GetVolumeInformationW(rootPath, label, MAX_PATH, &reportedSerial, &maximumComponentLength, &fileSystemFlags,
                               fileSystem, MAX_PATH))
        return FALSE;
    if (lstrcmpiW(fileSystem, u"NTFS") != 0)
        return FALSE;

    CChangeJournal* made = nullptr;
    if (!CChangeJournal::Create(rootPath, serialNumber, maximumSize, allocationDelta, initHash, monitorChanges, made))
        return FALSE;
    std::unique_ptr<CChangeJournal> journal(made);
    if (!journal->EnableUsn(maximumSize, allocationDelta))
        return FALSE;

    // Create accepts only the letters A to Z. A volume that held this letter before (it
    // has another serial number, or the check above would have refused) is let go.
    CChangeJournal*& slot = m_volumes[journal->GetDriverLetter() - 'A'];
    delete slot;
    slot = journal.release();
    return TRUE;
}

BOOL COrvaService::VolumeExists(DWORD serialNumber) const
{
    for (const CChangeJournal* volume : m_volumes)
    {
        if (volume != nullptr && volume->GetSerialNumber() == serialNumber)
            return TRUE;
    }
    return FALSE;
}
