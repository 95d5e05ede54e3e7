// The volumes this layer knows, as one table: scripted volumes (test seam), the block
// devices of the machine and the image files attached in the drive map.
//
// Building the table probes every block device with libblkid and reads drives.ini, so
// it is kept for a moment and rebuilt when it is older than that or the drive map
// changed: the drive resolver asks for it on every drive-letter path.
#pragma once

#include "platform/DriveMap.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orva::platform::volume
{
struct ScriptedState;

struct VolumeEntry
{
    VolumeDescription description;
    std::uint64_t offset = 0;                // of the file system inside description.source
    std::uint64_t length = 0;                // 0: to the end of the source
    std::string deviceNumber;                // "major:minor" of a block device
    std::shared_ptr<ScriptedState> scripted; // set for a scripted volume
};

// Every volume: scripted ones first, then block devices, then attached images.
std::vector<VolumeEntry> AllVolumes();
// Forgets the kept table, so the next look-up probes again.
void InvalidateVolumes();

// "\\?\Volume{...}\" (case-insensitive GUID).
bool IsVolumeName(std::u16string_view text);
// Two volume names for the same volume (the GUID's case does not matter); never for
// an empty name.
bool VolumeNamesEqual(std::u16string_view left, std::u16string_view right);
// The letter of "X:\" or "X:" (upper case), 0 for anything else.
char DriveRootLetter(std::u16string_view text);

std::optional<VolumeEntry> FindVolumeByName(std::u16string_view volumeName);
std::optional<VolumeEntry> FindVolumeByLetter(char letter);
// A volume name or a drive root "X:\".
std::optional<VolumeEntry> FindVolumeByRoot(std::u16string_view root);

// The probed block devices and the attached images, letters assigned (drive map).
std::vector<VolumeEntry> ProbeMachineVolumes();
// The block devices of /sys/class/block that carry a file system, without letters.
std::vector<VolumeEntry> ProbeBlockDevices();
// The volumes of one image file: the whole image, or the entries of its partition
// table (`partition` 0: every entry with a file system, else only that entry).
std::vector<VolumeEntry> ProbeImage(const std::string& imagePath, unsigned partition);
// The first mount of the block device "major:minor", as /proc/self/mountinfo shows it.
struct MountedFileSystem
{
    std::string type; // the kernel's name: "ext4", "ntfs3", "vfat", ...
    std::string mountPoint;
};
std::optional<MountedFileSystem> FindMount(const std::string& deviceNumber);
// Fills description.mountPoints of each entry from /proc/self/mountinfo.
void AddMountPoints(std::vector<VolumeEntry>& volumes);

// A stable "\\?\Volume{GUID}\" from a GPT partition GUID, or derived from the file
// system's UUID and the volume's place.
std::u16string MakeVolumeName(const std::string& partitionGuid, const std::string& fileSystemUuid,
                              const std::string& place);
} // namespace orva::platform::volume
