// Files and volume devices. The platform never writes to a volume: a volume device
// ("\\.\X:") opens read-only whatever access is asked. A volume's root directory
// opens with FILE_FLAG_BACKUP_SEMANTICS. Ordinary paths follow Paths.h.
#pragma once

#include "platform/WinTypes.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

struct SECURITY_ATTRIBUTES;

struct BY_HANDLE_FILE_INFORMATION
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52);
static_assert(offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexHigh) == 44);

struct WIN32_FILE_ATTRIBUTE_DATA
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == 36);
static_assert(offsetof(WIN32_FILE_ATTRIBUTE_DATA, nFileSizeHigh) == 28);

enum GET_FILEEX_INFO_LEVELS
{
    GetFileExInfoStandard,
    GetFileExMaxInfoLevel
};

// "\\.\X:" or a volume name without its trailing backslash: the volume device, read-only
// (CREATE_NEW, CREATE_ALWAYS and TRUNCATE_EXISTING fail with ERROR_ACCESS_DENIED, as does
// a device the user may not read). "X:\" or a volume name: the root directory, only with
// FILE_FLAG_BACKUP_SEMANTICS. An entry of a volume that is not mounted opens for reading
// its information. Other paths are Linux files (directories need
// FILE_FLAG_BACKUP_SEMANTICS); an existing file with CREATE_NEW gives ERROR_FILE_EXISTS.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// FALSE with ERROR_INVALID_HANDLE for a handle that is not open (or is a volume search).
BOOL CloseHandle(HANDLE object);
// For an NTFS volume's root directory nFileIndexHigh/Low hold its file reference number
// (record 5 with its sequence number in the top 16 bits).
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
// Size and times of a path; on an unmounted volume read from the volume itself.
BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS infoLevel, LPVOID fileInformation);
