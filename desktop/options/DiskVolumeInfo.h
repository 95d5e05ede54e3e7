// One volume listed by the settings page.
#pragma once

#include "platform/WinTypes.h"

struct CDiskVolumeInfo
{
    DWORD dwSerialNumber = 0;
    WCHAR szVolumeName[MAX_PATH + 1] = {};     // "\\?\Volume{GUID}\" as enumerated
    WCHAR szPathName[MAX_PATH + 1] = {};       // the first mount path, "C:\"; empty when none
    WCHAR szFileSystemName[MAX_PATH + 1] = {}; // "NTFS", "FAT32", ...
};
