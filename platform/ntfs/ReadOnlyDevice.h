// A libntfs-3g device that reads a byte range [offset, offset + length) of an open file
// descriptor: a whole image or block device (offset 0), or one partition inside a disk
// image. libntfs-3g's own Unix device always starts at byte 0, which cannot reach a
// partition; this one also refuses every write (EROFS), whatever libntfs-3g attempts.
#pragma once

#include "Ntfs3g.h"

#include <cstdint>

namespace orva::ntfs
{
struct ReadOnlyDeviceRange
{
    int fd = -1; // owned by the caller, open until the device is freed
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // bytes from offset; never 0
    std::int64_t position = 0; // the device's seek position, relative to offset
};

// A device for ntfs_device_mount, named `name` (for libntfs-3g's messages). The range
// must outlive it. Null with errno set on failure. ntfs_umount closes and frees it.
ntfs_device* NewReadOnlyDevice(const char* name, ReadOnlyDeviceRange* range);
} // namespace orva::ntfs
