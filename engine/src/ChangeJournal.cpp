// CChangeJournal: one registered volume and its change journal.
//
// A volume is named by its volume name; every open goes through the drive letter of
// the volume's first mount path ("E:\" gives the device "\\.\E:"). A volume without
// such a letter (mounted only in a folder, or not at all) cannot be opened here.
#include "orva/ChangeJournal.h"

#include "platform/ChangeJournalControl.h"
#include "platform/Exceptions.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Volume.h"

#include <cstring>
#include <new>
#include <string>

namespace
{
// Closes a handle on every way out of a scope.
class HandleCloser
{
public:
    explicit HandleCloser(HANDLE handle) : m_handle(handle) {}
    ~HandleCloser()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    HandleCloser(const HandleCloser&) = delete;
    HandleCloser& operator=(const HandleCloser&) = delete;

private:
    HANDLE m_handle;
};

// The drive letter of the volume's first mount path when that path is a drive root
// ("E:\"), else 0.
WCHAR FirstMountLetter(LPCWSTR volumeName)
{
    std::u16string paths(MAX_PATH, u'\0');
    DWORD length = 0;
    if (!GetVolumePathNamesForVolumeNameW(volumeName, paths.data(), static_cast<DWORD>(paths.size()), &length))
    {
        // A volume with many Linux mount points lists more than MAX_PATH units.
        if (GetLastError() != ERROR_MORE_DATA || length <= paths.size())
            return 0;
        paths.assign(length, u'\0');
        if (!GetVolumePathNamesForVolumeNameW(volumeName, paths.data(), length, &length))
            return 0;
    }
    const WCHAR letter = paths[0];
    if (letter < u'A' || letter > u'Z' || paths[1] != u':' || paths[2] != u'\\')
        return 0;
    return letter;
}

HANDLE OpenRootDirectory(WCHAR letter)
{
    const WCHAR root[] = {letter, u':', u'\\', u'\0'};
    return CreateFileW(root, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       /*securityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       /*templateFile=*/nullptr);
}

BOOL QueryJournal(HANDLE volume, USN_JOURNAL_DATA_V0& data)
{
    std::memset(&data, 0, sizeof data);
    DWORD returned = 0;
    return DeviceIoControl(volume, FSCTL_QUERY_USN_JOURNAL, /*inBuffer=*/nullptr, 0, &data, sizeof data, &returned,
                           /*overlapped=*/nullptr);
}
} // namespace

CChangeJournal::CChangeJournal(LPCWSTR rootPath, DWORD serialNumber, char driveLetter, ULONGLONG rootFrn)
    : m_rootPath{}, m_driveLetter(driveLetter), m_serialNumber(serialNumber), m_journalData{},
      m_volumeHandle(INVALID_HANDLE_VALUE), m_rootFrn(rootFrn), m_folderIndexBegin(0), m_folderIndexEnd(0),
      m_fileIndexBegin(0), m_fileIndexEnd(0)
{
    DWORD i = 0;
    for (; i + 1 < MAX_PATH && rootPath[i] != u'\0'; ++i)
        m_rootPath[i] = rootPath[i];
    m_rootPath[i] = u'\0';
}

// The volume handle belongs to whoever opened it.
CChangeJournal::~CChangeJournal() = default;

BOOL CChangeJournal::ReadVolumeIdentity(LPCWSTR rootPath, char& driveLetter, ULONGLONG& rootFrn)
{
    const WCHAR letter = FirstMountLetter(rootPath);
    if (letter == 0)
        return FALSE;
    HANDLE root = OpenRootDirectory(letter);
    if (root == INVALID_HANDLE_VALUE)
        return FALSE;
    HandleCloser closer(root);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(root, &information))
        return FALSE;
    rootFrn = (ULONGLONG{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    driveLetter = static_cast<char>(letter);
    return TRUE;
}

BOOL CChangeJournal::Create(LPCWSTR rootPath, DWORD serialNumber, ULONGLONG /*maximumSize*/,
                            ULONGLONG /*allocationDelta*/, DWORD /*initHash*/, BOOL /*monitorChanges*/,
                            CChangeJournal*& journal)
{
    HANDLE probe = OpenVolume(rootPath, GENERIC_READ | GENERIC_WRITE, /*overlapped=*/FALSE);
    if (probe == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(probe);

    char letter = 0;
    ULONGLONG rootFrn = 0;
    if (!ReadVolumeIdentity(rootPath, letter, rootFrn))
        return FALSE;
    auto* made = new (std::nothrow) CChangeJournal(rootPath, serialNumber, letter, rootFrn);
    if (made == nullptr)
        throw CMemoryException();
    journal = made;
    return TRUE;
}

BOOL CChangeJournal::Open()
{
    m_volumeHandle = OpenVolume(m_rootPath, GENERIC_READ | GENERIC_WRITE, /*overlapped=*/FALSE);
    return m_volumeHandle != INVALID_HANDLE_VALUE;
}

// The field keeps its value: every Close follows its own Open.
void CChangeJournal::Close()
{
    if (m_volumeHandle != INVALID_HANDLE_VALUE)
        CloseHandle(m_volumeHandle);
}

DWORD CChangeJournal::EnumUsnData(ULONGLONG startFrn, LPVOID buffer, DWORD bufferSize)
{
    MFT_ENUM_DATA_V0 request{startFrn, /*LowUsn=*/0, m_journalData.NextUsn};
    DWORD returned = 0;
    if (!DeviceIoControl(m_volumeHandle, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer, bufferSize, &returned,
                         /*overlapped=*/nullptr))
        return 0;
    return returned;
}

// An existing journal is kept whatever its sizes; only a volume whose query fails gets
// a new one.
BOOL CChangeJournal::EnableUsn(ULONGLONG maximumSize, ULONGLONG allocationDelta)
{
    HANDLE volume = OpenVolume(m_rootPath, GENERIC_READ | GENERIC_WRITE, /*overlapped=*/FALSE);
    if (volume == INVALID_HANDLE_VALUE)
        return FALSE;
    HandleCloser closer(volume);

    if (QueryJournal(volume, m_journalData))
        return m_journalData.UsnJournalID != 0;

    CREATE_USN_JOURNAL_DATA create{maximumSize, allocationDelta};
    DWORD returned = 0;
    if (!DeviceIoControl(volume, FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, /*outBuffer=*/nullptr, 0,
                         &returned, /*overlapped=*/nullptr))
        return FALSE;
    if (!QueryJournal(volume, m_journalData))
        return FALSE;
    return m_journalData.UsnJournalID != 0;
}

void CChangeJournal::DisableUsn()
{
    HANDLE volume = OpenVolume(m_rootPath, GENERIC_READ | GENERIC_WRITE, /*overlapped=*/FALSE);
    if (volume == INVALID_HANDLE_VALUE)
        return;
    HandleCloser closer(volume);

    if (m_journalData.UsnJournalID == 0)
        QueryJournal(volume, m_journalData);
    if (m_journalData.UsnJournalID == 0)
        return;
    // The deletion runs in the background; the call does not wait for it.
    DELETE_USN_JOURNAL_DATA remove{m_journalData.UsnJournalID, USN_DELETE_FLAG_DELETE};
    DWORD returned = 0;
    DeviceIoControl(volume, FSCTL_DELETE_USN_JOURNAL, &remove, sizeof remove, /*outBuffer=*/nullptr, 0, &returned,
                    /*overlapped=*/nullptr);
    std::memset(&m_journalData, 0, sizeof m_journalData);
}

void CChangeJournal::SetFolderIndexRange(DWORD begin, DWORD end)
{
    m_folderIndexBegin = begin;
    m_folderIndexEnd = end;
}

void CChangeJournal::SetFileIndexRange(DWORD begin, DWORD end)
{
    m_fileIndexBegin = begin;
    m_fileIndexEnd = end;
}

HANDLE CChangeJournal::OpenVolume(WCHAR driveLetter, DWORD desiredAccess, BOOL overlapped)
{
    const WCHAR device[] = {u'\\', u'\\', u'.', u'\\', driveLetter, u':', u'\0'};
    return CreateFileW(device, desiredAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, /*securityAttributes=*/nullptr,
                       OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, /*templateFile=*/nullptr);
}

HANDLE CChangeJournal::OpenVolume(LPCWSTR volumeName, DWORD desiredAccess, BOOL overlapped)
{
    const WCHAR letter = FirstMountLetter(volumeName);
    if (letter == 0)
        return INVALID_HANDLE_VALUE;
    return OpenVolume(letter, desiredAccess, overlapped);
}
