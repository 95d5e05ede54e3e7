// The machine's block devices: every entry of /sys/class/block whose contents libblkid
// recognises as a file system. A device the user may not open is still listed when the
// udev database, libblkid's cache or its mount knows its file system, marked not
// readable.
#include "Probe.h"
#include "VolumeTable.h"

#include "platform/Paths.h"
#include "platform/Volume.h"

#include <blkid.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/statvfs.h>
#include <unistd.h>

namespace orva::platform::volume
{
namespace
{
namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The udev database's record of a device ("E:ID_FS_TYPE=ntfs" lines).
std::optional<FileSystemProbe> FromUdev(const std::string& deviceNumber)
{
    std::ifstream in("/run/udev/data/b" + deviceNumber);
    if (!in)
        return std::nullopt;
    FileSystemProbe probe;
    std::string usage, scheme, partitionUuid;
    for (std::string line; std::getline(in, line);)
    {
        auto take = [&](std::string_view key, std::string& into)
        {
            if (line.starts_with(key))
                into = line.substr(key.size());
        };
        take("E:ID_FS_TYPE=", probe.type);
        take("E:ID_FS_VERSION=", probe.version);
        take("E:ID_FS_UUID=", probe.uuid);
        take("E:ID_FS_LABEL=", probe.label);
        take("E:ID_FS_USAGE=", usage);
        take("E:ID_PART_ENTRY_SCHEME=", scheme);
        take("E:ID_PART_ENTRY_UUID=", partitionUuid);
    }
    if (probe.type.empty() || usage != "filesystem")
        return std::nullopt;
    if (scheme == "gpt")
        probe.partitionGuid = partitionUuid;
    return probe;
}

// libblkid's cache (/run/blkid/blkid.tab): what a privileged probe found earlier. Only
// looked up (BLKID_DEV_FIND): no entry is made or verified, so the cache is left unchanged
// and never written back.
std::optional<FileSystemProbe> FromBlkidCache(const std::string& devicePath)
{
    blkid_cache cache = nullptr;
    if (blkid_get_cache(&cache, nullptr) != 0)
        return std::nullopt;
    std::optional<FileSystemProbe> found;
    if (blkid_dev device = blkid_get_dev(cache, devicePath.c_str(), BLKID_DEV_FIND))
    {
        FileSystemProbe probe;
        blkid_tag_iterate tags = blkid_tag_iterate_begin(device);
        const char* type = nullptr;
        const char* value = nullptr;
        while (blkid_tag_next(tags, &type, &value) == 0)
        {
            std::string_view name(type);
            if (name == "TYPE")
                probe.type = value;
            else if (name == "UUID")
                probe.uuid = value;
            else if (name == "LABEL")
                probe.label = value;
            else if (name == "VERSION")
                probe.version = value;
        }
        blkid_tag_iterate_end(tags);
        if (!probe.type.empty())
            found = probe;
    }
    blkid_put_cache(cache);
    return found;
}

// A mounted device that cannot be opened: the kernel names its file system, and the
// file system's id (statvfs) stands in for the UUID that cannot be read.
std::optional<FileSystemProbe> FromMount(const std::string& deviceNumber)
{
    std::optional<MountedFileSystem> mount = FindMount(deviceNumber);
    struct statvfs status = {};
    if (!mount || ::statvfs(mount->mountPoint.c_str(), &status) != 0)
        return std::nullopt;
    FileSystemProbe probe;
    probe.type = mount->type == "ntfs3" ? "ntfs" : mount->type;
    char id[16];
    std::snprintf(id, sizeof id, "%08lX", static_cast<unsigned long>(status.f_fsid & 0xFFFFFFFFul));
    probe.uuid = id;
    return probe;
}

UINT DriveTypeOf(const std::string& name, const fs::path& sysDirectory)
{
    if (name.starts_with("zram") || name.starts_with("ram"))
        return DRIVE_RAMDISK;
    fs::path disk = fs::exists(sysDirectory / "partition") ? sysDirectory.parent_path() : sysDirectory;
    if (name.starts_with("sr") || ReadLine(disk / "device" / "type") == "5")
        return DRIVE_CDROM;
    if (ReadLine(disk / "removable") == "1")
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

// The device's file system, probed when the device can be opened (`readable`), else
// from what the system recorded about it.
std::optional<FileSystemProbe> FindFileSystem(const std::string& devicePath, const std::string& deviceNumber,
                                              bool* readable)
{
    int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    *readable = fd >= 0;
    if (fd >= 0)
    {
        std::optional<FileSystemProbe> probe = ProbeFileSystem(fd, 0, 0);
        ::close(fd);
        return probe;
    }
    if (errno != EACCES && errno != EPERM)
        return std::nullopt;
    if (std::optional<FileSystemProbe> probe = FromUdev(deviceNumber))
        return probe;
    if (std::optional<FileSystemProbe> probe = FromBlkidCache(devicePath))
        return probe;
    return FromMount(deviceNumber);
}

std::optional<VolumeEntry> ProbeBlockDevice(const std::string& name)
{
    std::error_code error;
    const fs::path sysDirectory = fs::canonical(fs::path("/sys/class/block") / name, error);
    if (error)
        return std::nullopt;
    const std::uint64_t sectors = std::strtoull(ReadLine(sysDirectory / "size").c_str(), nullptr, 10);
    if (sectors == 0)
        return std::nullopt;
    const std::string devicePath = "/dev/" + name;
    const std::string deviceNumber = ReadLine(sysDirectory / "dev");

    VolumeEntry entry;
    std::optional<FileSystemProbe> probe =
        FindFileSystem(devicePath, deviceNumber, &entry.description.readable);
    if (!probe)
        return std::nullopt;
    VolumeDescription& description = entry.description;
    description.volumeName = MakeVolumeName(probe->partitionGuid, probe->uuid, "block:" + name);
    description.driveType = DriveTypeOf(name, sysDirectory);
    description.fileSystem = WindowsFileSystemName(*probe);
    description.label = ToUtf16(probe->label);
    description.serialNumber = SerialFromUuid(*probe);
    description.sizeBytes = sectors * 512;
    description.source = devicePath;
    entry.deviceNumber = deviceNumber;
    return entry;
}
} // namespace

std::vector<VolumeEntry> ProbeBlockDevices()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& device : fs::directory_iterator("/sys/class/block", error))
        names.push_back(device.path().filename().string());
    // Kernel names in a fixed order (vda before vda1 before vdb), so the enumeration
    // order does not depend on the directory's.
    std::sort(names.begin(), names.end());
    std::vector<VolumeEntry> volumes;
    for (const std::string& name : names)
        if (std::optional<VolumeEntry> entry = ProbeBlockDevice(name))
            volumes.push_back(std::move(*entry));
    return volumes;
}
} // namespace orva::platform::volume
