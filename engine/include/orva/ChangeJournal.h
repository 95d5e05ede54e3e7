// CChangeJournal: one registered NTFS volume: who it is (volume name, drive letter,
// serial number), its change journal as last queried, its root directory's file
// reference number, and, after a build, its ranges in the folder and file index tables.
//
// Objects exist only on the heap, made by Create; the COrvaService that holds one in a
// volume slot owns it. The destructor does not close the volume handle: whoever opens
// it closes it.
#pragma once

#include "orva/OrvaCoreApi.h"
#include "platform/ChangeJournalControl.h"
#include "platform/WinTypes.h"

class ORVACORE_API CChangeJournal
{
public:
    // Probes the volume (opened by name, read and write asked) and makes a new object.
    // FALSE, with `journal` untouched, when the volume cannot be opened, its first mount
    // path is not a drive root "A:\" to "Z:\" (no drive letter), or its root directory
    // cannot be opened and read. The four middle arguments are not used. Throws
    // CMemoryException when the object cannot be allocated.
    static BOOL Create(LPCWSTR rootPath, DWORD serialNumber, ULONGLONG maximumSize, ULONGLONG allocationDelta,
                       DWORD initHash, BOOL monitorChanges, CChangeJournal*& journal);
    ~CChangeJournal();
    CChangeJournal& operator=(const CChangeJournal& other) = default;

    BOOL Open();
    void Close();
    // Bytes written by FSCTL_ENUM_USN_DATA from `startFrn`, with LowUsn 0 and HighUsn the
    // stored NextUsn; 0 for the end of the table and for every failure.
    DWORD EnumUsnData(ULONGLONG startFrn, LPVOID buffer, DWORD bufferSize);
    // TRUE when an active journal is known (queried, or created then queried).
    BOOL EnableUsn(ULONGLONG maximumSize, ULONGLONG allocationDelta);
    void DisableUsn();

    LPCWSTR GetRootPath() const { return m_rootPath; }
    char GetDriverLetter() const { return m_driveLetter; }
    DWORD GetSerialNumber() const { return m_serialNumber; }
    ULONGLONG GetRootFrn() const { return m_rootFrn; }
    const USN_JOURNAL_DATA_V0& GetJournalData() const { return m_journalData; }
    HANDLE GetVolumeHandle() const { return m_volumeHandle; }
    void SetVolumeHandle(HANDLE handle) { m_volumeHandle = handle; }

    void SetFolderIndexRange(DWORD begin, DWORD end);
    void SetFileIndexRange(DWORD begin, DWORD end);
    DWORD GetFolderIndexBegin() const { return m_folderIndexBegin; }
    DWORD GetFolderIndexEnd() const { return m_folderIndexEnd; }
    DWORD GetFileIndexBegin() const { return m_fileIndexBegin; }
    DWORD GetFileIndexEnd() const { return m_fileIndexEnd; }

    // Opens the volume device "\\.\X:" (letter form) or the volume of a volume name;
    // INVALID_HANDLE_VALUE when it cannot be opened or the name has no drive letter.
    static HANDLE OpenVolume(WCHAR driveLetter, DWORD desiredAccess, BOOL overlapped);
    static HANDLE OpenVolume(LPCWSTR volumeName, DWORD desiredAccess, BOOL overlapped);

private:
    CChangeJournal(LPCWSTR rootPath, DWORD serialNumber, char driveLetter, ULONGLONG rootFrn);
    // The drive letter of the volume's first mount path and its root directory's FRN.
    static BOOL ReadVolumeIdentity(LPCWSTR rootPath, char& driveLetter, ULONGLONG& rootFrn);

    WCHAR m_rootPath[MAX_PATH];
    char m_driveLetter;
    DWORD m_serialNumber;
    USN_JOURNAL_DATA_V0 m_journalData;
    HANDLE m_volumeHandle;
    ULONGLONG m_rootFrn;
    DWORD m_folderIndexBegin;
    DWORD m_folderIndexEnd;
    DWORD m_fileIndexBegin;
    DWORD m_fileIndexEnd;
};
