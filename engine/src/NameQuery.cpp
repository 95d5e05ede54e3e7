// The name query: fills the folder and file result lists with the records whose names
// contain the keyword (all of them for an empty keyword), folders first, each list in
// index table order. NameMatcher decides a match; see NameMatcher.h for its meaning.
#include "orva/OrvaService.h"

#include "IndexRecords.h"
#include "NameMatcher.h"
#include "platform/Heap.h"

#include <cstring>

using namespace orva::engine;

namespace
{
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
} // namespace

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
    for (DWORD i = 0; i < m_folderIndex.count; ++i)
    {
        const NodeView node = NodeView::OfFolder(m_folderIndex.pointer[i]);
        if (matcher.Matches(node.Name(), node.NameLength()) &&
            AddFolderToResult(reinterpret_cast<DWORD_PTR>(m_folderIndex.pointer[i])) == 0)
        {
            ReleaseTable(m_folderResult);
            return 0;
        }
    }
    for (DWORD i = 0; i < m_fileIndex.count; ++i)
    {
        const NodeView node = NodeView::OfFile(m_fileIndex.pointer[i]);
        if (matcher.Matches(node.Name(), node.NameLength()) &&
            AddFileToResult(reinterpret_cast<DWORD_PTR>(m_fileIndex.pointer[i])) == 0)
        {
            ReleaseTable(m_folderResult);
            ReleaseTable(m_fileResult);
            return 0;
        }
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
