// The machine's volumes: every block device that carries a file system (probed with
// libblkid) and every image file attached in the drive map, each partition of a
// partitioned image a volume of its own.
//
// Volume names are "\\?\Volume{GUID}\", stable across runs for the same volume.
// Functions that take a volume name also take a drive root ("E:\") where Windows does
// (GetVolumeInformationW, GetDriveTypeW).
#pragma once

#include "platform/WinTypes.h"

#define DRIVE_UNKNOWN 0u
#define DRIVE_NO_ROOT_DIR 1u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

// Returns a search handle and the first volume name, or INVALID_HANDLE_VALUE
// (ERROR_NO_MORE_FILES when the machine has no volume, ERROR_FILENAME_EXCED_RANGE when
// the name and its zero do not fit). The search lists the volumes there were when it
// started: scripted volumes (test seam) first, then block devices in kernel-name order,
// then attached images.
HANDLE FindFirstVolumeW(LPWSTR volumeName, DWORD bufferLength);
// FALSE with ERROR_NO_MORE_FILES when no volume is left, ERROR_FILENAME_EXCED_RANGE
// (the search stays where it is) when the name does not fit.
BOOL FindNextVolumeW(HANDLE findVolume, LPWSTR volumeName, DWORD bufferLength);
// Only for search handles (CloseHandle refuses them); FALSE with ERROR_INVALID_HANDLE.
BOOL FindVolumeClose(HANDLE findVolume);

// DRIVE_FIXED for non-removable disks and attached images, DRIVE_REMOVABLE, DRIVE_CDROM,
// DRIVE_RAMDISK (zram, ram) as the kernel reports the device; DRIVE_NO_ROOT_DIR for a
// root that names no volume.
UINT GetDriveTypeW(LPCWSTR rootPathName);

// File-system name as Windows spells it ("NTFS", "FAT32", "FAT", "exFAT"; Linux file
// systems by their own names), the label, and the serial number (for NTFS the low 32
// bits of the 64-bit serial of the boot sector; FAT and exFAT their own serial; other
// file systems the first 32 bits of their UUID). Null buffers and pointers are skipped.
// FALSE with ERROR_INVALID_NAME (not a volume name or drive root), ERROR_FILE_NOT_FOUND
// or ERROR_PATH_NOT_FOUND (no such volume or letter), ERROR_INSUFFICIENT_BUFFER (a text
// does not fit with its zero). A device the user may not read still answers when its
// file system is known (from the udev database, libblkid's cache or its mount).
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                           LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize);

// The mount paths of a volume: "X:\" first when it has a drive letter, then its Linux
// mount points, each zero-terminated, the list ended by one more zero. `returnLength`
// counts the whole list, the final zero included. When the buffer is too small:
// FALSE, ERROR_MORE_DATA, and `returnLength` holds the length needed. Only volume names
// are taken: a drive root ("C:\") fails with ERROR_INVALID_NAME, as on Windows.
BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWSTR volumePathNames, DWORD bufferLength,
                                      LPDWORD returnLength);
