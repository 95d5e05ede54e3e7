// Result rows: a match of the last query as name, folder path, folder flag, size and
// last-write time. The folder path is rebuilt from the parent references on every call,
// and size and time are read from the file system.
//
// Example: for the file C:\Windows\System32\notepad.exe the walk goes System32 ->
// Windows -> (no parent), giving "C:\Windows\System32"; a file directly in the root
// gives "C:", and its full path for the attribute read is "C:\pagefile.sys".
#include "orva/OrvaService.h"

#include "IndexRecords.h"
#include "platform/File.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

using namespace orva::engine;

namespace
{
// A folder path is at most 32,767 units and every level adds at least two ("\x"), so a
// longer parent chain can only be a loop.
constexpr size_t kMaxPathDepth = 16384;

// Writes as much of `text` as fits in `size` units, without terminator and without
// splitting a surrogate pair.
void CopyCut(const std::u16string& text, LPWSTR buffer, DWORD size)
{
    size_t units = std::min<size_t>(text.size(), size);
    if (units < text.size() && units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
        --units;
    std::memcpy(buffer, text.data(), units * sizeof(WCHAR));
}
} // namespace

BOOL COrvaService::GetResultItem(DWORD row, LPWSTR name, DWORD nameSize, LPWSTR path, DWORD pathSize,
                                 FILETIME* lastWriteTime, LARGE_INTEGER* size, int* isFolder)
{
    if (row >= m_folderResult.count + m_fileResult.count)
        return FALSE;
    const bool folder = row < m_folderResult.count;
    const NodeView node = folder ? NodeView::OfFolder(m_folderResult.pointer[row])
                                 : NodeView::OfFile(m_fileResult.pointer[row - m_folderResult.count]);

    std::string folderPath;
    if (node.Parent() == nullptr)
        folderPath = {node.Letter(), ':'};
    else
        GetRecursivePath(reinterpret_cast<DWORD_PTR>(node.Parent()), folderPath);

    const std::u16string widePath = orva::platform::ToUtf16(folderPath);
    const std::u16string wideName = orva::platform::ToUtf16({node.Name(), node.NameLength()});
    CopyCut(widePath, path, pathSize);
    CopyCut(wideName, name, nameSize);
    *isFolder = folder ? 1 : 0;
    const std::u16string fullPath = widePath + u'\\' + wideName;
    GetSparseFileInfo(fullPath.c_str(), size, lastWriteTime);
    return TRUE;
}

BOOL COrvaService::GetRecursivePath(DWORD_PTR folderNode, std::string& path) const
{
    std::vector<NodeView> chain;
    // A loop of parents (a damaged volume) is cut where it closes, so that the path
    // names each of its folders once.
    std::unordered_set<const BYTE*> walked;
    const BYTE* at = reinterpret_cast<const BYTE*>(folderNode);
    while (at != nullptr && chain.size() < kMaxPathDepth && walked.insert(at).second)
    {
        chain.push_back(NodeView::OfFolder(at));
        at = chain.back().Parent();
    }
    const bool ended = at == nullptr;
    path = {chain.back().Letter(), ':'};
    for (auto level = chain.rbegin(); level != chain.rend(); ++level)
    {
        path += '\\';
        path.append(level->Name(), level->NameLength());
    }
    return ended ? TRUE : FALSE;
}

BOOL COrvaService::GetSparseFileInfo(LPCWSTR fullPath, LARGE_INTEGER* size, FILETIME* lastWriteTime)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(fullPath, GetFileExInfoStandard, &data))
    {
        size->QuadPart = 0;
        *lastWriteTime = FILETIME{0, 0};
        return FALSE;
    }
    size->QuadPart = static_cast<LONGLONG>((ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    *lastWriteTime = data.ftLastWriteTime;
    return TRUE;
}
