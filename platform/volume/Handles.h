// The handle table: HANDLE values are keys of a small table of objects, so a stale or
// made-up handle is refused (ERROR_INVALID_HANDLE) instead of being followed.
#pragma once

#include "VolumeTable.h"

#include "platform/File.h"

#include <memory>
#include <mutex>

namespace orva::ntfs
{
class NtfsVolume;
}

namespace orva::platform::volume
{
struct HandleObject
{
    virtual ~HandleObject() = default;
};

// FindFirstVolumeW's search: the names found when it started.
struct VolumeSearch final : HandleObject
{
    std::mutex lock;
    std::vector<std::u16string> names; // Guarded by lock.
    size_t next = 0;                   // Guarded by lock.
};

// A volume device ("\\.\X:"), opened read-only. The NTFS reader is opened on first use.
struct VolumeDevice final : HandleObject
{
    explicit VolumeDevice(VolumeEntry entry);
    ~VolumeDevice() override;
    VolumeEntry volume;
    std::mutex lock;
    std::unique_ptr<ntfs::NtfsVolume> ntfs; // Guarded by lock.
};

// A directory or file on a volume that is not mounted (the root "X:\" above all): what
// GetFileInformationByHandle reports was read when it was opened.
struct VolumeEntryHandle final : HandleObject
{
    VolumeEntryHandle(VolumeEntry entry, const BY_HANDLE_FILE_INFORMATION& information);
    ~VolumeEntryHandle() override;
    VolumeEntry volume;
    BY_HANDLE_FILE_INFORMATION information;
};

// An ordinary Linux file or directory.
struct OpenFile final : HandleObject
{
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() override;
    int fd;
};

// Never returns null or INVALID_HANDLE_VALUE.
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> FindHandle(HANDLE handle);
// The object of `handle` when it is a T, else null.
template <class T> std::shared_ptr<T> FindHandleOf(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}
// Removes the entry of `handle` when `accept` takes its object.
bool RemoveHandle(HANDLE handle, bool (*accept)(const HandleObject&));
} // namespace orva::platform::volume
