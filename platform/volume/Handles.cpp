#include "Handles.h"

#include "ScriptedState.h"

#include "platform/ntfs/NtfsVolume.h"

#include <cstdint>
#include <map>
#include <unistd.h>

namespace orva::platform::volume
{
namespace
{
struct HandleTable
{
    std::mutex lock;
    std::uintptr_t nextValue = 0x100;                                // Guarded by lock.
    std::map<std::uintptr_t, std::shared_ptr<HandleObject>> objects; // Guarded by lock.
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

void CountScriptedHandle(const VolumeEntry& volume, int delta)
{
    if (volume.scripted)
        ScriptedHandleOpened(*volume.scripted, delta);
}
} // namespace

VolumeDevice::VolumeDevice(VolumeEntry entry) : volume(std::move(entry))
{
    CountScriptedHandle(volume, +1);
}

VolumeDevice::~VolumeDevice()
{
    CountScriptedHandle(volume, -1);
}

VolumeEntryHandle::VolumeEntryHandle(VolumeEntry entry, const BY_HANDLE_FILE_INFORMATION& info)
    : volume(std::move(entry)), information(info)
{
    CountScriptedHandle(volume, +1);
}

VolumeEntryHandle::~VolumeEntryHandle()
{
    CountScriptedHandle(volume, -1);
}

OpenFile::~OpenFile()
{
    ::close(fd);
}

HANDLE InsertHandle(std::shared_ptr<HandleObject> object)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    // Multiples of 4, as Windows hands them out; values are not reused.
    const std::uintptr_t value = table.nextValue;
    table.nextValue += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> FindHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle, bool (*accept)(const HandleObject&))
{
    std::shared_ptr<HandleObject> removed;
    {
        HandleTable& table = Table();
        std::lock_guard guard(table.lock);
        auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == table.objects.end() || !accept(*found->second))
            return false;
        removed = std::move(found->second);
        table.objects.erase(found);
    }
    // The object goes (closing its file) outside the table's lock.
    return true;
}
} // namespace orva::platform::volume
