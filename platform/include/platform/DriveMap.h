// The drive map: drives.ini in the config folder maps drive letters to volumes (by
// volume name) and to attached image files. A volume of a Windows file system (NTFS,
// FAT, exFAT) that has no letter gets the first free letter from C when it is first
// seen, and keeps it.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

namespace orva::platform
{
struct VolumeDescription
{
    std::u16string volumeName; // "\\?\Volume{GUID}\"
    char letter = 0;           // 0 when none
    UINT driveType = 0;
    std::u16string fileSystem; // "NTFS", "FAT32", "ext4", ...
    std::u16string label;
    DWORD serialNumber = 0;
    ULONGLONG sizeBytes = 0;
    std::string source;                   // block device or image file
    std::vector<std::string> mountPoints; // Linux mount points
    bool readable = false;                // the current user may read the device or image
};

// Every volume of the machine, in enumeration order (FindFirstVolumeW's order).
std::vector<VolumeDescription> ListVolumes();

// Attaches `imagePath` under `letter`: partition 0 = the whole image as one volume, or for
// a disk image every partition that holds a file system, the first under `letter`;
// 1.. = that entry of its MBR or GPT table. FALSE with a Windows error code:
// ERROR_FILE_NOT_FOUND (no such file), ERROR_ACCESS_DENIED (not readable),
// ERROR_UNRECOGNIZED_VOLUME (no file system found, or not a file), ERROR_ALREADY_EXISTS
// (letter taken, or the same image and partition attached already),
// ERROR_INVALID_PARAMETER (bad letter or partition number).
BOOL AttachImage(char letter, const std::string& imagePath, unsigned partition);
// FALSE with ERROR_INVALID_DRIVE when nothing is attached under `letter`.
BOOL DetachImage(char letter);
} // namespace orva::platform
