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
//
// Storage: records live in 64 KiB blocks of the name pool (at most 4096 blocks) and are
// freed only with the service; the index tables and result lists grow in 64 KiB steps.
// When the heap refuses a block, the block table or a table growth, the build of that
// volume ends there: the volume keeps what was stored so far, sorted and linked, and
// the item count tells how many records made it.
#pragma once

#include "orva/ChangeJournal.h"
#include "orva/HeapManager.h"
#include "orva/OrvaCoreApi.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <string>

class ORVACORE_API COrvaService
{
public:
    // Allocates nothing and touches no volume.
    COrvaService();
    // Deletes the volumes (slots A to Z), releases the folder and file index tables and
    // the folder and file result lists in that order, then every block of the name pool
    // and the block table.
    ~COrvaService();
    COrvaService(const COrvaService&) = delete;
    COrvaService& operator=(const COrvaService&) = delete;

    // Registers an NTFS volume by its volume name ("\\?\Volume{GUID}\") under the drive
    // letter of its first mount path, and makes sure it has an active change journal
    // (an existing one is kept as it is; otherwise one is created with the sizes given).
    // FALSE when the serial number is registered already, the volume information cannot
    // be read, the file system is not NTFS, the volume has no drive letter A to Z, its
    // device or root directory cannot be opened, or no journal can be had. A volume
    // whose letter's slot holds a volume with another serial number replaces it (the
    // earlier one is deleted). `initHash` and `monitorChanges` have no effect.
    BOOL AddVolume(DWORD serialNumber, LPCWSTR rootPath, ULONGLONG maximumSize, ULONGLONG allocationDelta,
                   DWORD initHash, BOOL monitorChanges);
    BOOL VolumeExists(DWORD serialNumber) const;

    // Builds the index of every registered volume, slots A to Z, binding the calling
    // thread to the first processor (it stays bound). Every phase is timed into Perf.log
    // in the current directory; a failure of that log raises CFileException, and the
    // index then stays not ready. A later call rebuilds the index from scratch (records
    // of the earlier build stay in the pool, unreferenced). Returns the item count.
    DWORD CreateDatabase();
    DWORD GetItemCount() const { return m_itemCount; }

    // Fills the result lists with every folder and then every file whose name contains
    // `keyword` ignoring case (Unicode simple case folding), or with every entry for an
    // empty keyword; returns the number of matches. 0 without touching the lists while
    // the index is not ready. When the heap refuses a result list, the answer is 0 with
    // both lists empty. `flag` has no effect.
    DWORD Query(LPCWSTR keyword, int flag);

    // Row `row` of the last query: folders first. Name and folder path are written
    // without terminator, cut at a character boundary when longer than the size given
    // (the size and time are still read with the whole path). Size and time are those
    // the file system reports now; both are zero when they cannot be read, and the row
    // is still valid. FALSE, with nothing written, for a row at or beyond the count.
    BOOL GetResultItem(DWORD row, LPWSTR name, DWORD nameSize, LPWSTR path, DWORD pathSize, FILETIME* lastWriteTime,
                       LARGE_INTEGER* size, int* isFolder);

    // A growable array of record addresses; capacity is counted in bytes.
    struct RecordTable
    {
        BYTE** pointer;
        DWORD capacity;
        DWORD count;
    };

    // The names of one index table copied one after another in table order, each as a
    // 2-byte length and its bytes, so that a keyword scan reads memory in sequence
    // instead of jumping through the name pool (the table is in name order, the pool in
    // enumeration order). `half` is the byte offset of entry count / 2, where a second
    // thread starts.
    struct NameScan
    {
        BYTE* bytes;
        DWORD size;
        DWORD count;
        DWORD half;
    };

private:
    DWORD BuildIndexTable(CChangeJournal* journal);
    // Walks the records of one enumeration answer; returns the number of records
    // stored. Sets m_storageRefused when the heap refused one (the walk stops there).
    DWORD ParseRecordFromUsn(LPVOID buffer, DWORD validLength, CChangeJournal* journal);
    // The new count of the folder (file) index table, or 0 when the heap refused a block
    // or the table's growth (nothing is then stored).
    DWORD AddFolder(const USN_RECORD_V2* record, CChangeJournal* journal);
    DWORD AddFile(const USN_RECORD_V2* record, CChangeJournal* journal);
    // Sort comparisons over table entries. FrnCompareFunction's context points to a BOOL
    // that records whether the duplicate-FRN box ("EQU") was shown; it is shown once per
    // build. NameCompareFunction's context is 1 for folders, 2 for files.
    static int FrnCompareFunction(void* context, const void* left, const void* right);
    static int NameCompareFunction(void* context, const void* left, const void* right);
    BYTE* FindParentNode(ULONGLONG frn, CChangeJournal* journal);
    void ConvertFRNToPointer(CChangeJournal* journal);

    // Storage steps: place a record in the name pool (null when refused), append an
    // address to a table by the growth rule (the new count, or 0 when refused).
    BYTE* PlaceRecord(DWORD headerSize, DWORD nameLength);
    static DWORD AppendToTable(RecordTable& table, BYTE* record);
    static void ReleaseTable(RecordTable& table);

    // Made at the end of a build for both tables; left null when the heap refuses it,
    // and queries then read the names from the records.
    static void MakeNameScan(const RecordTable& table, DWORD parentOffset, NameScan& scan);
    static void ReleaseNameScan(NameScan& scan);

    DWORD InnerQueryAll();
    DWORD InnerQueryByKeyword(LPCWSTR keyword, int flag);
    DWORD AddFolderToResult(DWORD_PTR folderNode);
    DWORD AddFileToResult(DWORD_PTR fileNode);

    // The full path of a folder in UTF-8 ("C:\Windows\System32"). FALSE when the parent
    // chain does not end (a loop, cut where it closes, or a chain deeper than a path can
    // be): the path then starts at the drive root with the folders walked, each once.
    BOOL GetRecursivePath(DWORD_PTR folderNode, std::string& path) const;
    // Size and last-write time of a path; FALSE, with both zero, when they cannot be read.
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
    // Build state: the heap refused storage during the current volume's build; the
    // duplicate-FRN box was shown during the current build.
    BOOL m_storageRefused;
    BOOL m_duplicateFrnReported;
    NameScan m_folderNames;
    NameScan m_fileNames;

    friend struct OrvaServiceTestAccess;
};
