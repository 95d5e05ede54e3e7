// The index build: from the registered volumes' master file tables to the sorted and
// linked name index.
//
// CreateDatabase visits the volume slots A to Z. For each volume BuildIndexTable
//   1. enumerates the MFT with FSCTL_ENUM_USN_DATA into a 64 KiB buffer, request after
//      request (each answer: the FRN to continue from, then USN_RECORD_V2s), adding one
//      FolderNode or FileNode per record (ParseRecordFromUsn, AddFolder, AddFile);
//   2. sorts the volume's folder range by FRN;
//   3. replaces every parent FRN by the address of the parent FolderNode, found by
//      binary search over that range (ConvertFRNToPointer, FindParentNode);
//   4. sorts the folder range and the file range by name.
// Each phase is timed into Perf.log, then the whole build; the ready flag is set last.
//
// Example: the records C:\ (FRN 5), C:\Docs (FRN 40, parent 5) and C:\Docs\a.txt
// (parent 40) give FolderNodes "." and "Docs" with empty parent references (the root
// FRN stands for "top level") and a FileNode "a.txt" whose parent is the "Docs" node.
//
// The walk trusts nothing in an answer: a record whose length is below the record
// header, not 8-byte aligned or running past the valid bytes, or whose name runs past
// its record, ends that answer's walk.
#include "orva/OrvaService.h"

#include "IndexRecords.h"
#include "orva/TimingLog.h"
#include "platform/ChangeJournalControl.h"
#include "platform/Counter.h"
#include "platform/File.h"
#include "platform/Heap.h"
#include "platform/MessageBox.h"
#include "platform/TextConversion.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

using namespace orva::engine;

namespace
{
constexpr DWORD kEnumBufferSize = 0x10000;
constexpr DWORD kRecordHeaderSize = offsetof(USN_RECORD_V2, FileName);
const auto kFolderContext = reinterpret_cast<void*>(std::uintptr_t{1});
const auto kFileContext = reinterpret_cast<void*>(std::uintptr_t{2});

LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

void LogPhase(LPCWSTR label, LONGLONG start, LONGLONG end, LONGLONG frequency)
{
    CTimingLog::GetInstance();
    CTimingLog::WriteEntry(label, start, end, frequency);
}

// Holds a volume's handle and enumeration buffer for one BuildIndexTable, and gives
// both back on every way out, a timing-log exception included.
class VolumeBuildResources
{
public:
    explicit VolumeBuildResources(CChangeJournal* journal) : m_journal(journal), m_buffer(nullptr) {}
    ~VolumeBuildResources()
    {
        if (m_buffer != nullptr)
            HeapFree(GetProcessHeap(), 0, m_buffer);
        m_journal->Close();
        m_journal->SetVolumeHandle(INVALID_HANDLE_VALUE);
    }
    VolumeBuildResources(const VolumeBuildResources&) = delete;
    VolumeBuildResources& operator=(const VolumeBuildResources&) = delete;

    BYTE* AllocateBuffer()
    {
        m_buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kEnumBufferSize));
        return m_buffer;
    }

private:
    CChangeJournal* m_journal;
    BYTE* m_buffer;
};

// A sort key that orders like the comparison it stands for, so most comparisons need
// not read the records, which lie scattered through the pool: the FRN for the FRN order,
// the first 16 name bytes (A-Z as a-z, big-endian, zero-padded) for the name order.
// Equal keys are decided by the comparison itself.
struct SortKey
{
    ULONGLONG high;
    ULONGLONG low;
    BYTE* record;
};
using MakeKey = SortKey (*)(BYTE* record);

SortKey FrnKey(BYTE* folder) { return {FolderFrn(folder), 0, folder}; }

template <DWORD ParentOffset>
SortKey NamePrefixKey(BYTE* record)
{
    const NodeView node{record + ParentOffset};
    const auto* name = reinterpret_cast<const BYTE*>(node.Name());
    ULONGLONG part[2] = {0, 0};
    for (DWORD i = 0; i < 16; ++i)
    {
        const BYTE c = i < node.NameLength() ? name[i] : 0;
        part[i / 8] = (part[i / 8] << 8) | ((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c);
    }
    return {part[0], part[1], record};
}

// Sorts table entries [begin, end) with a comparison in qsort_s form, by key first.
void SortRange(BYTE** table, DWORD begin, DWORD end, MakeKey key,
               int (*compare)(void*, const void*, const void*), void* context)
{
    if (end - begin < 2)
        return;
    const auto byComparison = [&](BYTE* left, BYTE* right) { return compare(context, &left, &right) < 0; };
    std::vector<SortKey> keyed;
    try
    {
        keyed.reserve(end - begin);
    }
    catch (const std::bad_alloc&)
    {
        std::sort(table + begin, table + end, byComparison);
        return;
    }
    for (DWORD i = begin; i < end; ++i)
        keyed.push_back(key(table[i]));
    std::sort(keyed.begin(), keyed.end(), [&](const SortKey& left, const SortKey& right) {
        if (left.high != right.high)
            return left.high < right.high;
        if (left.low != right.low)
            return left.low < right.low;
        return byComparison(left.record, right.record);
    });
    for (DWORD i = begin; i < end; ++i)
        table[i] = keyed[i - begin].record;
}

// The record's name in UTF-8; 0 bytes when it does not convert (a record's name has at
// most 255 UTF-16 units on NTFS, which always fit).
WORD ConvertName(const USN_RECORD_V2* record, char (&name)[kMaxNameBytes])
{
    const int units = record->FileNameLength / sizeof(WCHAR);
    if (units == 0)
        return 0;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, record->FileName, units, name, kMaxNameBytes,
                                          /*defaultChar=*/nullptr, /*usedDefaultChar=*/nullptr);
    return static_cast<WORD>(bytes > 0 ? bytes : 0);
}

// Whether the record at `offset` lies whole inside the valid bytes, name included.
bool RecordIsSound(const BYTE* buffer, DWORD offset, DWORD validLength)
{
    const DWORD remaining = validLength - offset;
    if (remaining < kRecordHeaderSize)
        return false;
    DWORD recordLength;
    WORD nameLength;
    std::memcpy(&recordLength, buffer + offset + offsetof(USN_RECORD_V2, RecordLength), sizeof recordLength);
    std::memcpy(&nameLength, buffer + offset + offsetof(USN_RECORD_V2, FileNameLength), sizeof nameLength);
    return recordLength >= kRecordHeaderSize && recordLength <= remaining && recordLength % 8 == 0 &&
           kRecordHeaderSize + nameLength <= recordLength;
}
} // namespace

DWORD COrvaService::CreateDatabase()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG start = Now();

    m_ready.store(FALSE, std::memory_order_release);
    m_itemCount = 0;
    m_duplicateFrnReported = FALSE;
    // A rebuild starts from empty tables; records of the earlier build stay in the pool.
    m_folderIndex.count = 0;
    m_fileIndex.count = 0;
    ReleaseNameScan(m_folderNames);
    ReleaseNameScan(m_fileNames);

    DWORD total = 0;
    for (CChangeJournal* volume : m_volumes)
    {
        if (volume != nullptr)
            total += BuildIndexTable(volume);
    }

    MakeNameScan(m_folderIndex, kFolderParentOffset, m_folderNames);
    MakeNameScan(m_fileIndex, kFileParentOffset, m_fileNames);
    LogPhase(u"COrvaService::CreateDatabase", start, Now(), frequency.QuadPart);
    m_itemCount = total;
    m_ready.store(total != 0 ? TRUE : FALSE, std::memory_order_release);
    return total;
}

DWORD COrvaService::BuildIndexTable(CChangeJournal* journal)
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);

    HANDLE volume = CChangeJournal::OpenVolume(journal->GetRootPath(), GENERIC_READ | GENERIC_WRITE,
                                               /*overlapped=*/FALSE);
    journal->SetVolumeHandle(volume);
    if (volume == INVALID_HANDLE_VALUE)
        return 0;
    VolumeBuildResources resources(journal);
    BYTE* buffer = resources.AllocateBuffer();
    if (buffer == nullptr)
        return 0;

    const DWORD folderBegin = m_folderIndex.count;
    const DWORD fileBegin = m_fileIndex.count;
    DWORD total = 0;
    ULONGLONG nextFrn = 0;
    m_storageRefused = FALSE;
    LONGLONG start = Now();
    for (;;)
    {
        MFT_ENUM_DATA_V0 request{nextFrn, /*LowUsn=*/0, journal->GetJournalData().NextUsn};
        DWORD returned = 0;
        const BOOL succeeded = DeviceIoControl(volume, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer,
                                               kEnumBufferSize, &returned, /*overlapped=*/nullptr);
        const DWORD valid = succeeded ? std::min(returned, kEnumBufferSize) : 0;
        total += ParseRecordFromUsn(buffer, valid, journal);
        // A failed request, the end of the table included, ends the enumeration; so does
        // an answer too short to say where to continue, storage the heap refused, and an
        // answer that would not move the enumeration on (it would be asked for forever).
        if (valid < sizeof nextFrn || m_storageRefused || ReadU64(buffer) <= nextFrn)
            break;
        nextFrn = ReadU64(buffer);
    }
    LogPhase(u"解析USN日志", start, Now(), frequency.QuadPart);

    journal->SetFolderIndexRange(folderBegin, m_folderIndex.count);
    journal->SetFileIndexRange(fileBegin, m_fileIndex.count);

    start = Now();
    SortRange(m_folderIndex.pointer, folderBegin, m_folderIndex.count, FrnKey, FrnCompareFunction,
              &m_duplicateFrnReported);
    LogPhase(u"文件夹索引表快速排序", start, Now(), frequency.QuadPart);

    start = Now();
    ConvertFRNToPointer(journal);
    LogPhase(u"转换FRN为缓冲区指针", start, Now(), frequency.QuadPart);

    start = Now();
    SortRange(m_folderIndex.pointer, folderBegin, m_folderIndex.count, NamePrefixKey<kFolderParentOffset>,
              NameCompareFunction, kFolderContext);
    LogPhase(u"文件夹名称排序", start, Now(), frequency.QuadPart);

    start = Now();
    SortRange(m_fileIndex.pointer, fileBegin, m_fileIndex.count, NamePrefixKey<kFileParentOffset>,
              NameCompareFunction, kFileContext);
    LogPhase(u"文件名称排序", start, Now(), frequency.QuadPart);
    return total;
}

DWORD COrvaService::ParseRecordFromUsn(LPVOID buffer, DWORD validLength, CChangeJournal* journal)
{
    auto* bytes = static_cast<const BYTE*>(buffer);
    DWORD walked = 0;
    for (DWORD offset = sizeof(ULONGLONG); offset < validLength && RecordIsSound(bytes, offset, validLength);)
    {
        const auto* record = reinterpret_cast<const USN_RECORD_V2*>(bytes + offset);
        const DWORD added = (record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? AddFolder(record, journal)
                                                                                : AddFile(record, journal);
        if (added == 0)
        {
            m_storageRefused = TRUE;
            break;
        }
        ++walked;
        offset += record->RecordLength;
    }
    return walked;
}

DWORD COrvaService::AddFolder(const USN_RECORD_V2* record, CChangeJournal* journal)
{
    char name[kMaxNameBytes];
    const WORD nameLength = ConvertName(record, name);
    BYTE* at = PlaceRecord(kFolderHeaderSize, nameLength);
    if (at == nullptr)
        return 0;
    const DWORD count = AppendToTable(m_folderIndex, at);
    if (count == 0)
        return 0;
    WriteU64(at + kFolderFrnOffset, record->FileReferenceNumber);
    WriteU64(at + kFolderParentOffset, record->ParentFileReferenceNumber);
    at[kFolderLetterOffset] = static_cast<BYTE>(journal->GetDriverLetter());
    WriteU16(at + kFolderNameLengthOffset, nameLength);
    std::memcpy(at + kFolderHeaderSize, name, nameLength);
    at[kFolderHeaderSize + nameLength] = 0;
    m_poolCursor += kFolderHeaderSize + nameLength;
    return count;
}

DWORD COrvaService::AddFile(const USN_RECORD_V2* record, CChangeJournal* journal)
{
    char name[kMaxNameBytes];
    const WORD nameLength = ConvertName(record, name);
    BYTE* at = PlaceRecord(kFileHeaderSize, nameLength);
    if (at == nullptr)
        return 0;
    const DWORD count = AppendToTable(m_fileIndex, at);
    if (count == 0)
        return 0;
    WriteU64(at + kFileParentOffset, record->ParentFileReferenceNumber);
    at[kFileLetterOffset] = static_cast<BYTE>(journal->GetDriverLetter());
    WriteU16(at + kFileNameLengthOffset, nameLength);
    std::memcpy(at + kFileHeaderSize, name, nameLength);
    at[kFileHeaderSize + nameLength] = 0;
    m_poolCursor += kFileHeaderSize + nameLength;
    return count;
}

int COrvaService::FrnCompareFunction(void* context, const void* left, const void* right)
{
    const BYTE* leftNode = *static_cast<BYTE* const*>(left);
    const BYTE* rightNode = *static_cast<BYTE* const*>(right);
    const ULONGLONG leftFrn = FolderFrn(leftNode);
    const ULONGLONG rightFrn = FolderFrn(rightNode);
    if (leftFrn != rightFrn)
        return leftFrn < rightFrn ? -1 : 1;
    // Two folders of one volume with one FRN: the index cannot link their children
    // reliably. Said once per build; a record compared with itself is no duplicate.
    auto* reported = static_cast<BOOL*>(context);
    if (leftNode != rightNode && !*reported)
    {
        *reported = TRUE;
        AfxMessageBox(u"EQU", MB_OK);
    }
    return 0;
}

// ASCII letters compare in lower case, every other byte by its value; a name that is
// the start of another sorts first.
int COrvaService::NameCompareFunction(void* context, const void* left, const void* right)
{
    const DWORD parentOffset = context == kFolderContext ? kFolderParentOffset : kFileParentOffset;
    const NodeView leftNode{*static_cast<BYTE* const*>(left) + parentOffset};
    const NodeView rightNode{*static_cast<BYTE* const*>(right) + parentOffset};
    const auto* leftName = reinterpret_cast<const BYTE*>(leftNode.Name());
    const auto* rightName = reinterpret_cast<const BYTE*>(rightNode.Name());
    const WORD leftLength = leftNode.NameLength();
    const WORD rightLength = rightNode.NameLength();
    const WORD shorter = std::min(leftLength, rightLength);
    for (WORD i = 0; i < shorter; ++i)
    {
        const int l = (leftName[i] >= 'A' && leftName[i] <= 'Z') ? leftName[i] + ('a' - 'A') : leftName[i];
        const int r = (rightName[i] >= 'A' && rightName[i] <= 'Z') ? rightName[i] + ('a' - 'A') : rightName[i];
        if (l != r)
            return l - r;
    }
    return static_cast<int>(leftLength) - static_cast<int>(rightLength);
}

// Binary search of the volume's folder range, which is in FRN order while this runs.
// It reads FRN fields only, so ConvertFRNToPointer may rewrite parent fields meanwhile.
BYTE* COrvaService::FindParentNode(ULONGLONG frn, CChangeJournal* journal)
{
    LONGLONG low = journal->GetFolderIndexBegin();
    LONGLONG high = static_cast<LONGLONG>(journal->GetFolderIndexEnd()) - 1;
    while (low <= high)
    {
        const LONGLONG middle = low + (high - low) / 2;
        BYTE* node = m_folderIndex.pointer[middle];
        const ULONGLONG found = FolderFrn(node);
        if (found == frn)
            return node;
        if (found < frn)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return nullptr;
}

void COrvaService::ConvertFRNToPointer(CChangeJournal* journal)
{
    const auto link = [&](BYTE* parentField) {
        const ULONGLONG parentFrn = ReadU64(parentField);
        const BYTE* parent = parentFrn == journal->GetRootFrn() ? nullptr : FindParentNode(parentFrn, journal);
        WriteU64(parentField, reinterpret_cast<DWORD_PTR>(parent));
    };
    for (DWORD i = journal->GetFolderIndexBegin(); i < journal->GetFolderIndexEnd(); ++i)
        link(m_folderIndex.pointer[i] + kFolderParentOffset);
    for (DWORD i = journal->GetFileIndexBegin(); i < journal->GetFileIndexEnd(); ++i)
        link(m_fileIndex.pointer[i] + kFileParentOffset);
}
