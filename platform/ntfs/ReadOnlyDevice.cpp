#include "ReadOnlyDevice.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orva::ntfs
{
namespace
{
ReadOnlyDeviceRange* RangeOf(ntfs_device* dev)
{
    return static_cast<ReadOnlyDeviceRange*>(dev->d_private);
}

int Open(ntfs_device* dev, int flags)
{
    if (NDevOpen(dev))
    {
        errno = EBUSY;
        return -1;
    }
    if ((flags & O_ACCMODE) != O_RDONLY)
    {
        errno = EROFS;
        return -1;
    }
    NDevSetReadOnly(dev);
    NDevSetOpen(dev);
    return 0;
}

int Close(ntfs_device* dev)
{
    if (!NDevOpen(dev))
    {
        errno = EBADF;
        return -1;
    }
    NDevClearOpen(dev);
    return 0;
}

s64 Seek(ntfs_device* dev, s64 offset, int whence)
{
    ReadOnlyDeviceRange* range = RangeOf(dev);
    s64 base = 0;
    if (whence == SEEK_CUR)
        base = range->position;
    else if (whence == SEEK_END)
        base = static_cast<s64>(range->length);
    else if (whence != SEEK_SET)
    {
        errno = EINVAL;
        return -1;
    }
    if (offset < -base)
    {
        errno = EINVAL;
        return -1;
    }
    range->position = base + offset;
    return range->position;
}

// Reads at `position` of the range, never past its end: reads there return 0 bytes.
s64 ReadAt(ReadOnlyDeviceRange* range, void* buf, s64 count, s64 position)
{
    if (count < 0 || position < 0)
    {
        errno = EINVAL;
        return -1;
    }
    const auto length = static_cast<s64>(range->length);
    if (position >= length)
        return 0;
    count = std::min(count, length - position);
    s64 done = 0;
    while (done < count)
    {
        const ssize_t got =
            ::pread(range->fd, static_cast<char*>(buf) + done, static_cast<size_t>(count - done),
                    static_cast<off_t>(range->offset + position + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

s64 Read(ntfs_device* dev, void* buf, s64 count)
{
    ReadOnlyDeviceRange* range = RangeOf(dev);
    const s64 got = ReadAt(range, buf, count, range->position);
    if (got > 0)
        range->position += got;
    return got;
}

s64 PRead(ntfs_device* dev, void* buf, s64 count, s64 offset)
{
    return ReadAt(RangeOf(dev), buf, count, offset);
}

s64 Write(ntfs_device*, const void*, s64)
{
    errno = EROFS;
    return -1;
}

s64 PWrite(ntfs_device*, const void*, s64, s64)
{
    errno = EROFS;
    return -1;
}

int Sync(ntfs_device*)
{
    return 0;
}

int Stat(ntfs_device* dev, struct stat* buf)
{
    ReadOnlyDeviceRange* range = RangeOf(dev);
    if (::fstat(range->fd, buf) != 0)
        return -1;
    buf->st_size = static_cast<off_t>(range->length);
    return 0;
}

int Ioctl(ntfs_device*, unsigned long, void*)
{
    // libntfs-3g asks block-device geometry this way and falls back to seeking.
    errno = ENOTTY;
    return -1;
}

ntfs_device_operations g_readOnlyOperations = {
    .open = Open,
    .close = Close,
    .seek = Seek,
    .read = Read,
    .write = Write,
    .pread = PRead,
    .pwrite = PWrite,
    .sync = Sync,
    .stat = Stat,
    .ioctl = Ioctl,
};
} // namespace

ntfs_device* NewReadOnlyDevice(const char* name, ReadOnlyDeviceRange* range)
{
    return ntfs_device_alloc(name, 0, &g_readOnlyOperations, range);
}
} // namespace orva::ntfs
