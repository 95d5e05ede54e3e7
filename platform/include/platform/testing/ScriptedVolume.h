// Test seam: a volume whose enumeration, journal and root are given by the test, for
// the engine's edge cases that a real NTFS cannot produce (duplicate folder FRNs, long
// names, missing parents, record lengths that lie).
//
// A scripted volume appears under its letter: FindFirstVolumeW lists its volume name
// (scripted volumes come first, in the order they were added), GetVolumePathNamesForVolumeNameW
// gives "X:\" and then its mount points, GetVolumeInformationW its file system and
// serial, GetDriveTypeW its drive type, CreateFileW opens "\\.\X:" and "X:\",
// GetFileInformationByHandle gives its root FRN, GetFileAttributesExW("X:\a\b") reads
// `attributes`, and DeviceIoControl answers from the script:
//
// - FSCTL_QUERY_USN_JOURNAL: `journal` when journalQuerySucceeds, else FALSE with
//   ERROR_JOURNAL_NOT_ACTIVE.
// - FSCTL_CREATE_USN_JOURNAL: FALSE with ERROR_ACCESS_DENIED unless journalCreateSucceeds;
//   on success later queries succeed and report `journal` with the sizes asked for.
// - FSCTL_DELETE_USN_JOURNAL: with the identifier of an active journal, later queries
//   fail; otherwise FALSE with ERROR_JOURNAL_NOT_ACTIVE or ERROR_INVALID_PARAMETER.
// - FSCTL_ENUM_USN_DATA: the next answer, its bytes cut to the output size.
//
// Requests with bad buffer sizes are refused before they reach the script, as for any
// volume. Removed by ClearScriptedVolumes (handles still open keep working).
#pragma once

#include "platform/ChangeJournalControl.h"
#include "platform/File.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace orva::platform::testing
{
// One answer to one FSCTL_ENUM_USN_DATA request: the bytes written to the output buffer
// (the 8-byte continuation FRN then records) and whether the call succeeds. When
// `succeeds` is false the call fails with `error`.
struct EnumAnswer
{
    std::vector<BYTE> bytes;
    bool succeeds = true;
    DWORD error = 0;
};

struct ScriptedVolume
{
    char letter = 'S';                    // 0: a volume without a drive letter
    std::u16string volumeName;            // empty: derived from the letter (give one with letter 0)
    std::vector<std::string> mountPoints; // Linux mount points, listed after "X:\"
    std::u16string fileSystem = u"NTFS";
    DWORD serialNumber = 0x5C1A7ED0;
    UINT driveType = 3; // DRIVE_FIXED
    ULONGLONG rootFrn = 0x0005000000000005ull;
    bool rootOpens = true;   // CreateFileW of "X:\" succeeds
    bool deviceOpens = true; // CreateFileW of "\\.\X:" succeeds
    bool journalQuerySucceeds = true;
    USN_JOURNAL_DATA_V0 journal{1, 0, 1000, 0, 0x7FFFFFFFFFFF0000ll, 8388608, 1048576};
    bool journalCreateSucceeds = true;
    // Answers to successive FSCTL_ENUM_USN_DATA requests; after the last one the calls
    // fail with ERROR_HANDLE_EOF.
    std::vector<EnumAnswer> enumAnswers;
    // When set, answers each request instead of enumAnswers.
    std::function<EnumAnswer(const MFT_ENUM_DATA_V0&, DWORD outSize)> enumerate;
    // File attributes for "X:\path" look-ups (backslash-separated, without the "X:").
    std::map<std::u16string, WIN32_FILE_ATTRIBUTE_DATA> attributes;

    // What the platform saw: every enumeration request, journal creations and deletions.
    struct Log
    {
        std::vector<MFT_ENUM_DATA_V0> enumRequests;
        std::vector<CREATE_USN_JOURNAL_DATA> creates;
        std::vector<DELETE_USN_JOURNAL_DATA> deletes;
        int queries = 0;
        int openHandles = 0;
    };
};

// Installs (or replaces, by letter) a scripted volume; returns its log, valid until
// ClearScriptedVolumes.
ScriptedVolume::Log& AddScriptedVolume(ScriptedVolume volume);
void ClearScriptedVolumes();

// With `only` true, the volume functions see the scripted volumes alone (no block device,
// no attached image), so that a test does not depend on the machine's volumes; false
// shows the machine's volumes again. ClearScriptedVolumes does not change it.
void ShowOnlyScriptedVolumes(bool only);

// Appends one USN_RECORD_V2 (8-byte aligned) to an enumeration answer.
void AppendUsnRecord(std::vector<BYTE>& bytes, ULONGLONG frn, ULONGLONG parentFrn, DWORD attributes,
                     std::u16string_view name, USN usn = 0);
// Starts an enumeration answer with its continuation FRN.
std::vector<BYTE> EnumHeader(ULONGLONG nextFrn);
} // namespace orva::platform::testing
