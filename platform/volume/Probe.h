// What libblkid finds at one place of a block device or an image file.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva::platform::volume
{
struct FileSystemProbe
{
    std::string type;    // blkid's name: "ntfs", "vfat", "exfat", "ext4", ...
    std::string version; // "FAT32", "FAT16", ... where blkid reports one
    std::string uuid;    // blkid's UUID text (NTFS: the 64-bit serial in 16 hex digits)
    std::string label;
    std::string partitionGuid; // the GPT entry's GUID where the device is a GPT partition
};

struct PartitionProbe
{
    int number = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::string guid; // GPT partition GUID, empty for an MBR entry
};

// The file system at [offset, offset + length) of the open file `fd` (length 0: to the
// end), or nothing when libblkid recognises none.
std::optional<FileSystemProbe> ProbeFileSystem(int fd, std::uint64_t offset, std::uint64_t length);
// The entries of an MBR or GPT partition table at the start of `fd`; empty without one.
std::vector<PartitionProbe> ProbePartitions(int fd);

// The file-system name as Windows spells it ("NTFS", "FAT32", "FAT", "exFAT"), Linux
// file systems by their own names.
std::u16string WindowsFileSystemName(const FileSystemProbe& probe);
// The serial number Windows would report: NTFS the low 32 bits of its 64-bit serial,
// FAT and exFAT their 32-bit serial; other file systems the first 32 bits of their UUID.
DWORD SerialFromUuid(const FileSystemProbe& probe);
// NTFS, FAT, FAT32 and exFAT: the file systems that get a drive letter when first seen.
bool IsWindowsFileSystem(std::u16string_view fileSystem);
} // namespace orva::platform::volume
