// COrvaService: the name index of every registered NTFS volume.
//
// Calling order: AddVolume once per volume, then CreateDatabase (on one thread), then
// any number of Query calls, each followed by GetResultItem for rows below the count it
// returned. Query and GetResultItem must not run at the same time as each other or as a
// build; the ready flag keeps queries out of an unfinished index.
//
// Failure is a value: 0, FALSE or an empty result. Two things leave the engine
// otherwise: a failure of the timing log (CFileException out of CreateDatabase) and an
// allocation failure in AddVolume (CMemoryException).
#pragma once

#include "orva/ChangeJournal.h"
#include "orva/HeapManager.h"
#include "orva/OrvaCoreApi.h"
#include "platform/WinTypes.h"

#include <atomic>

class ORVACORE_API COrvaService
{
public:
    COrvaService();
    ~COrvaService();
    COrvaService(const COrvaService&) = delete;
    COrvaService& operator=(const COrvaService&) = delete;

    BOOL AddVolume(DWORD serialNumber, LPCWSTR rootPath, ULONGLONG maximumSize, ULONGLONG allocationDelta,
                   DWORD initHash, BOOL monitorChanges);
    BOOL VolumeExists(DWORD serialNumber) const;

    DWORD CreateDatabase();
    DWORD GetItemCount() const { return m_itemCount; }

    DWORD Query(LPCWSTR keyword, int flag);

    BOOL GetResultItem(DWORD row, LPWSTR name, DWORD nameSize, LPWSTR path, DWORD pathSize, FILETIME* lastWriteTime,
                       LARGE_INTEGER* size, int* isFolder);

    // A growable array of record addresses; capacity is counted in bytes.
    struct RecordTable
    {
        BYTE** pointer;
        DWORD capacity;
        DWORD count;
    };

private:
    DWORD BuildIndexTable(CChangeJournal* journal);
    DWORD ParseRecordFromUsn(LPVOID buffer, DWORD validLength, CChangeJournal* journal);
    DWORD AddFolder(const USN_RECORD_V2* record, CChangeJournal* journal);
    DWORD AddFile(const USN_RECORD_V2* record, CChangeJournal* journal);
    static int FrnCompareFunction(void* context, const void* left, const void* right);
    static int NameCompareFunction(void* context, const void* left, const void* right);
    BYTE* FindParentNode(ULONGLONG frn, CChangeJournal* journal);
    void ConvertFRNToPointer(CChangeJournal* journal);

    DWORD InnerQueryAll();
    DWORD InnerQueryByKeyword(LPCWSTR keyword, int flag);
    DWORD AddFolderToResult(DWORD_PTR folderNode);
    DWORD AddFileToResult(DWORD_PTR fileNode);

    DWORD GetRecursivePath(DWORD_PTR folderNode, char* buffer, DWORD bufferSize);
    BOOL GetSparseFileInfo(LPCWSTR fullPath, LARGE_INTEGER* size, FILETIME* lastWriteTime);

    CChangeJournal* m_volumes[26];
    DWORD m_itemCount;
    DWORD m_poolCursor;
    DWORD m_poolLimit;
    BYTE* m_currentBlock;
    // Set (release) only after every table, range and link is final; read (acquire) by
    // queries, so a thread that sees it set sees the finished index.
    std::atomic<BOOL> m_ready;
    RecordTable m_folderIndex;
    RecordTable m_fileIndex;
    RecordTable m_folderResult;
    RecordTable m_fileResult;
    CHeapManager m_heapManager;

    friend struct OrvaServiceTestAccess;
};
