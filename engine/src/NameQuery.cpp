// The name query: fills the folder and file result lists with the records whose names
// contain the keyword (all of them for an empty keyword), folders first, each list in
// index table order. NameMatcher decides a match; see NameMatcher.h for its meaning.
//
// Speed: the index tables are in name order while the records lie in the pool in
// enumeration order, so reading names through the table touches memory at random. A
// build therefore also lays each table's names out in table order (NameScan), and the
// scan reads those in sequence, split over two threads when the table is large. When
// the heap refused that copy, the scan reads the records, asking for each one a few
// entries ahead. Both ways see the same bytes and give the same matches in the same
// order.
#include "orva/OrvaService.h"

#include "IndexRecords.h"
#include "NameMatcher.h"
#include "platform/Heap.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

using namespace orva::engine;

namespace
{
constexpr DWORD kPrefetchDistance = 16;
// Below this many names a second thread costs more than it saves.
constexpr DWORD kParallelThreshold = 1 << 16;

// A result list holding a copy of a whole table, allocated at its exact size.
bool CopyTable(const COrvaService::RecordTable& table, COrvaService::RecordTable& result)
{
    if (table.count == 0)
        return true;
    const DWORD bytes = table.count * sizeof(BYTE*);
    auto* copy = static_cast<BYTE**>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (copy == nullptr)
        return false;
    std::memcpy(copy, table.pointer, bytes);
    result = {copy, bytes, table.count};
    return true;
}

// Table positions [begin, end) whose names match, in order, from the laid-out names
// starting at byte `offset`.
void ScanLaidOut(const BYTE* bytes, DWORD offset, DWORD begin, DWORD end, const NameMatcher& matcher,
                 std::vector<DWORD>& hits)
{
    for (DWORD i = begin; i < end; ++i)
    {
        const WORD length = ReadU16(bytes + offset);
        if (matcher.MatchesPadded(reinterpret_cast<const char*>(bytes + offset + 2), length))
            hits.push_back(i);
        offset += 2 + length;
    }
}

// The same from the records themselves.
void ScanRecords(const COrvaService::RecordTable& table, DWORD parentOffset, const NameMatcher& matcher,
                 std::vector<DWORD>& hits)
{
    for (DWORD i = 0; i < table.count; ++i)
    {
        if (i + kPrefetchDistance < table.count)
            __builtin_prefetch(table.pointer[i + kPrefetchDistance]);
        const NodeView node{table.pointer[i] + parentOffset};
        if (matcher.Matches(node.Name(), node.NameLength()))
            hits.push_back(i);
    }
}

std::vector<DWORD> MatchingPositions(const COrvaService::RecordTable& table, const COrvaService::NameScan& names,
                                     DWORD parentOffset, const NameMatcher& matcher)
{
    std::vector<DWORD> hits;
    if (names.bytes == nullptr || names.count != table.count)
    {
        ScanRecords(table, parentOffset, matcher, hits);
        return hits;
    }
    const DWORD half = table.count / 2;
    if (table.count < kParallelThreshold)
    {
        ScanLaidOut(names.bytes, 0, 0, table.count, matcher, hits);
        return hits;
    }
    std::vector<DWORD> upper;
    std::thread helper;
    try
    {
        helper = std::thread(ScanLaidOut, names.bytes, names.half, half, table.count, std::cref(matcher),
                             std::ref(upper));
    }
    catch (const std::system_error&)
    {
        ScanLaidOut(names.bytes, names.half, half, table.count, matcher, upper);
    }
    ScanLaidOut(names.bytes, 0, 0, half, matcher, hits);
    if (helper.joinable())
        helper.join();
    hits.insert(hits.end(), upper.begin(), upper.end());
    return hits;
}
} // namespace

void COrvaService::MakeNameScan(const RecordTable& table, DWORD parentOffset, NameScan& scan)
{
    ReleaseNameScan(scan);
    ULONGLONG size = 0;
    for (DWORD i = 0; i < table.count; ++i)
        size += 2 + NodeView{table.pointer[i] + parentOffset}.NameLength();
    if (table.count == 0 || size > UINT32_MAX - NameMatcher::kPadding)
        return;
    // The scan reads whole 16-byte chunks, so the last name is followed by padding.
    auto* bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + NameMatcher::kPadding));
    if (bytes == nullptr)
        return;
    std::memset(bytes + size, 0, NameMatcher::kPadding);
    DWORD offset = 0;
    for (DWORD i = 0; i < table.count; ++i)
    {
        if (i == table.count / 2)
            scan.half = offset;
        const NodeView node{table.pointer[i] + parentOffset};
        WriteU16(bytes + offset, node.NameLength());
        std::memcpy(bytes + offset + 2, node.Name(), node.NameLength());
        offset += 2 + node.NameLength();
    }
    scan.bytes = bytes;
    scan.size = offset;
    scan.count = table.count;
}

void COrvaService::ReleaseNameScan(NameScan& scan)
{
    if (scan.bytes != nullptr)
        HeapFree(GetProcessHeap(), 0, scan.bytes);
    scan = NameScan{};
}

DWORD COrvaService::Query(LPCWSTR keyword, int flag)
{
    if (!m_ready.load(std::memory_order_acquire))
        return 0;
    if (keyword[0] == u'\0')
        return InnerQueryAll();
    return InnerQueryByKeyword(keyword, flag);
}

DWORD COrvaService::InnerQueryAll()
{
    ReleaseTable(m_folderResult);
    ReleaseTable(m_fileResult);
    if (!CopyTable(m_folderIndex, m_folderResult) || !CopyTable(m_fileIndex, m_fileResult))
    {
        ReleaseTable(m_folderResult);
        return 0;
    }
    return m_folderResult.count + m_fileResult.count;
}

DWORD COrvaService::InnerQueryByKeyword(LPCWSTR keyword, int /*flag*/)
{
    ReleaseTable(m_folderResult);
    ReleaseTable(m_fileResult);
    const NameMatcher matcher(keyword);
    std::vector<DWORD> folders;
    std::vector<DWORD> files;
    try
    {
        folders = MatchingPositions(m_folderIndex, m_folderNames, kFolderParentOffset, matcher);
        files = MatchingPositions(m_fileIndex, m_fileNames, kFileParentOffset, matcher);
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    bool stored = true;
    for (auto i = folders.begin(); stored && i != folders.end(); ++i)
        stored = AddFolderToResult(reinterpret_cast<DWORD_PTR>(m_folderIndex.pointer[*i])) != 0;
    for (auto i = files.begin(); stored && i != files.end(); ++i)
        stored = AddFileToResult(reinterpret_cast<DWORD_PTR>(m_fileIndex.pointer[*i])) != 0;
    if (!stored)
    {
        ReleaseTable(m_folderResult);
        ReleaseTable(m_fileResult);
        return 0;
    }
    return m_folderResult.count + m_fileResult.count;
}

DWORD COrvaService::AddFolderToResult(DWORD_PTR folderNode)
{
    return AppendToTable(m_folderResult, reinterpret_cast<BYTE*>(folderNode));
}

DWORD COrvaService::AddFileToResult(DWORD_PTR fileNode)
{
    return AppendToTable(m_fileResult, reinterpret_cast<BYTE*>(fileNode));
}
