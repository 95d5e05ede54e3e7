// OrvaDesktop.ini, the desktop program's list of volumes to index.
//
// The file lies in the current directory. Section "Orva" holds "VolumeCount"; sections
// VOLUME_1 to VOLUME_n hold one volume each (the volume with index i, counted from 0, in
// VOLUME_(i+1)):
//
//     [Orva]
//     VolumeCount=2
//     [VOLUME_1]
//     VolumeRootPath=\\?\Volume{...}\      the volume name as enumerated
//     SerialNumber=0x1A2B3C4D              "0x%08X"
//     UsnMaximumSize=8388608               change-journal maximum size, bytes
//     UsnAllocationDelta=1048576           change-journal allocation delta, bytes
//     InitHash=0x000186A0                  100000, carried to the engine
//     MonitorChanges=1
//     [VOLUME_2]
//     ...
//
// Everything goes through the platform's profile functions, so section and key names
// match without regard to case and a missing file, section or key reads as its default
// ("0", or an empty root path). Numbers read as SettingsNumber.h describes.
#pragma once

#include "platform/WinTypes.h"

// One volume section in memory, handed field by field to COrvaService::AddVolume.
struct CVolumeSettings
{
    DWORD SerialNumber = 0;                  // "SerialNumber", base 16
    WCHAR VolumeRootPath[MAX_PATH + 1] = {}; // "VolumeRootPath"
    LONGLONG UsnMaximumSize = 0;             // "UsnMaximumSize", signed decimal
    LONGLONG UsnAllocationDelta = 0;         // "UsnAllocationDelta", signed decimal
    DWORD InitHash = 0;                      // "InitHash", base 16
    BOOL MonitorChanges = FALSE;             // "MonitorChanges", signed decimal
};

// Writes the current directory followed by "\OrvaDesktop.ini" into `path` (MAX_PATH
// units). No separator is removed: at the file-system root the result is
// "/\OrvaDesktop.ini", which the platform's file functions accept. When the path does not
// fit, `path` is left empty and FALSE is returned, so that no other file is read or
// written in its place.
BOOL GetSettingsFilePath(LPWSTR path);

// "VolumeCount" of section "Orva" as a signed decimal; 0 when absent or not a number.
LONG ReadVolumeCount(LPCWSTR path);

// Appends one section for every fixed NTFS volume of the machine, in enumeration order,
// after whatever count the file already holds (volumes already listed are listed again).
// A volume whose information cannot be read ends the discovery; what was written stays.
void DiscoverVolumes(LPCWSTR path);

// Raises "VolumeCount" by one (written first) and writes the new section's six keys.
void AppendVolumeSection(LPCWSTR path, DWORD serialNumber, LPCWSTR volumeName);

// Fills every field of `settings` from section VOLUME_(index+1), defaults where a key or
// the section is missing (an empty root path and zeros: the caller cannot tell a missing
// section from an empty one).
void ReadVolumeSettings(LPCWSTR path, DWORD index, CVolumeSettings& settings);
