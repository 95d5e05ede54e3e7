// The volumes of an image file: a raw volume image, or a whole-disk image whose MBR or
// GPT partition table holds one volume per partition.
#include "Probe.h"
#include "VolumeTable.h"

#include "platform/Paths.h"
#include "platform/Volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orva::platform::volume
{
namespace
{
VolumeEntry MakeImageVolume(const std::string& imagePath, const FileSystemProbe& probe, unsigned partition,
                            std::uint64_t offset, std::uint64_t length, const std::string& partitionGuid)
{
    VolumeEntry entry;
    entry.offset = offset;
    entry.length = length;
    VolumeDescription& description = entry.description;
    description.volumeName =
        MakeVolumeName(partitionGuid, probe.uuid, "image:" + imagePath + ":" + std::to_string(partition));
    description.driveType = DRIVE_FIXED;
    description.fileSystem = WindowsFileSystemName(probe);
    description.label = ToUtf16(probe.label);
    description.serialNumber = SerialFromUuid(probe);
    description.sizeBytes = length;
    description.source = imagePath;
    description.readable = true;
    return entry;
}
} // namespace

std::vector<VolumeEntry> ProbeImage(const std::string& imagePath, unsigned partition)
{
    std::vector<VolumeEntry> volumes;
    int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return volumes;
    struct stat status = {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
    {
        const auto imageSize = static_cast<std::uint64_t>(status.st_size);
        std::optional<FileSystemProbe> whole = partition == 0 ? ProbeFileSystem(fd, 0, 0) : std::nullopt;
        if (whole)
            volumes.push_back(MakeImageVolume(imagePath, *whole, 0, 0, imageSize, {}));
        else
            for (const PartitionProbe& entry : ProbePartitions(fd))
            {
                if (partition != 0 && static_cast<unsigned>(entry.number) != partition)
                    continue;
                if (std::optional<FileSystemProbe> probe = ProbeFileSystem(fd, entry.offset, entry.length))
                    volumes.push_back(MakeImageVolume(imagePath, *probe, static_cast<unsigned>(entry.number),
                                                      entry.offset, entry.length, entry.guid));
            }
    }
    ::close(fd);
    return volumes;
}
} // namespace orva::platform::volume
