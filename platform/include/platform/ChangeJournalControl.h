// DeviceIoControl with the NTFS change-journal control codes, and their records in the
// documented layouts.
//
// FSCTL_ENUM_USN_DATA: from the record number of StartFileReferenceNumber on, one
// USN_RECORD_V2 per in-use base MFT record that has a name and whose
// $STANDARD_INFORMATION USN lies in [LowUsn, HighUsn]; the output's first 8 bytes hold
// the file reference number to continue from, the records follow, 8-byte aligned. No
// record left: FALSE with ERROR_HANDLE_EOF.
// FSCTL_QUERY_USN_JOURNAL: the on-disk $UsnJrnl, else a journal the platform keeps for
// the volume, else FALSE with ERROR_JOURNAL_NOT_ACTIVE.
// FSCTL_CREATE_USN_JOURNAL / FSCTL_DELETE_USN_JOURNAL: never write to the volume; they
// record (or forget) a journal for it in journals.ini of the state folder. Creating where
// a journal exists keeps its identifier (a recorded one takes the sizes asked for, the
// on-disk one stays as it is); deleting the on-disk journal fails with
// ERROR_ACCESS_DENIED, an identifier that is not the journal's with
// ERROR_INVALID_PARAMETER, and no journal with ERROR_JOURNAL_NOT_ACTIVE.
// Other file systems: FALSE with ERROR_INVALID_FUNCTION.
//
// Every request runs to completion before the call returns (an OVERLAPPED is ignored),
// so `bytesReturned` is required: without it the call fails with ERROR_INVALID_PARAMETER.
// Sizes are checked first: an output below 56 bytes for a query gives
// ERROR_INSUFFICIENT_BUFFER, an input below its record's size (or DeleteFlags that are
// 0 or unknown) ERROR_INVALID_PARAMETER, an enumeration output below 8 bytes
// ERROR_INSUFFICIENT_BUFFER. A handle that is not open gives ERROR_INVALID_HANDLE; one
// that is not a volume device, or an unknown code, ERROR_INVALID_FUNCTION.
#pragma once

#include "platform/WinTypes.h"

#define FSCTL_ENUM_USN_DATA 0x000900B3u
#define FSCTL_CREATE_USN_JOURNAL 0x000900E7u
#define FSCTL_QUERY_USN_JOURNAL 0x000900F4u
#define FSCTL_DELETE_USN_JOURNAL 0x000900F8u

#define USN_DELETE_FLAG_DELETE 0x00000001u
#define USN_DELETE_FLAG_NOTIFY 0x00000002u

struct OVERLAPPED;

struct USN_JOURNAL_DATA_V0
{
    DWORDLONG UsnJournalID;
    USN FirstUsn;
    USN NextUsn;
    USN LowestValidUsn;
    USN MaxUsn;
    DWORDLONG MaximumSize;
    DWORDLONG AllocationDelta;
};
using USN_JOURNAL_DATA = USN_JOURNAL_DATA_V0;

struct MFT_ENUM_DATA_V0
{
    DWORDLONG StartFileReferenceNumber;
    USN LowUsn;
    USN HighUsn;
};
using MFT_ENUM_DATA = MFT_ENUM_DATA_V0;

struct CREATE_USN_JOURNAL_DATA
{
    DWORDLONG MaximumSize;
    DWORDLONG AllocationDelta;
};

struct DELETE_USN_JOURNAL_DATA
{
    DWORDLONG UsnJournalID;
    DWORD DeleteFlags;
};

struct USN_RECORD_V2
{
    DWORD RecordLength;
    WORD MajorVersion;
    WORD MinorVersion;
    DWORDLONG FileReferenceNumber;
    DWORDLONG ParentFileReferenceNumber;
    USN Usn;
    LARGE_INTEGER TimeStamp;
    DWORD Reason;
    DWORD SourceInfo;
    DWORD SecurityId;
    DWORD FileAttributes;
    WORD FileNameLength;
    WORD FileNameOffset;
    WCHAR FileName[1];
};
using USN_RECORD = USN_RECORD_V2;

static_assert(sizeof(USN_JOURNAL_DATA_V0) == 56);
static_assert(sizeof(MFT_ENUM_DATA_V0) == 24);
static_assert(sizeof(CREATE_USN_JOURNAL_DATA) == 16);
static_assert(sizeof(DELETE_USN_JOURNAL_DATA) == 16);
static_assert(sizeof(USN_RECORD_V2) == 64);
static_assert(offsetof(USN_RECORD_V2, FileReferenceNumber) == 8);
static_assert(offsetof(USN_RECORD_V2, ParentFileReferenceNumber) == 16);
static_assert(offsetof(USN_RECORD_V2, Usn) == 24);
static_assert(offsetof(USN_RECORD_V2, FileAttributes) == 52);
static_assert(offsetof(USN_RECORD_V2, FileNameLength) == 56);
static_assert(offsetof(USN_RECORD_V2, FileNameOffset) == 58);
static_assert(offsetof(USN_RECORD_V2, FileName) == 60);

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, OVERLAPPED* overlapped);
