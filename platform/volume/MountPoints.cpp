// Where volumes are mounted: /proc/self/mountinfo, matched by device number for block
// devices, and for image volumes through the loop device that maps the image (its
// backing file and offset) or a FUSE mount that names the image as its source.
#include "VolumeTable.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace orva::platform::volume
{
namespace
{
namespace fs = std::filesystem;

struct MountLine
{
    std::string deviceNumber;
    std::string mountPoint;
    std::string type;
    std::string source;
};

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i)
        if (field[i] == '\\' && i + 3 < field.size())
        {
            text += static_cast<char>(std::stoi(std::string(field.substr(i + 1, 3)), nullptr, 8));
            i += 3;
        }
        else
            text += field[i];
    return text;
}

// Mounts of a volume's root (root field "/"); bind mounts of a sub-folder are not the
// volume's mount points.
std::vector<MountLine> ReadMountInfo()
{
    std::vector<MountLine> mounts;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);)
    {
        std::istringstream fields(line);
        std::string id, parent, deviceNumber, root, mountPoint, field;
        fields >> id >> parent >> deviceNumber >> root >> mountPoint;
        while (fields >> field && field != "-")
        {
        }
        std::string type, source;
        fields >> type >> source;
        if (root == "/")
            mounts.push_back({deviceNumber, Unescape(mountPoint), type, Unescape(source)});
    }
    return mounts;
}

struct LoopBinding
{
    std::string backingFile;
    std::uint64_t offset = 0;
};

std::map<std::string, LoopBinding> ReadLoopBindings()
{
    std::map<std::string, LoopBinding> loops;
    std::error_code error;
    for (const fs::directory_entry& device : fs::directory_iterator("/sys/block", error))
    {
        const fs::path loop = device.path() / "loop";
        std::ifstream backing(loop / "backing_file"), offset(loop / "offset"), number(device.path() / "dev");
        LoopBinding binding;
        std::string deviceNumber;
        if (std::getline(backing, binding.backingFile) && std::getline(number, deviceNumber))
        {
            offset >> binding.offset;
            loops[deviceNumber] = binding;
        }
    }
    return loops;
}

bool MountShowsVolume(const MountLine& mount, const VolumeEntry& volume,
                      const std::map<std::string, LoopBinding>& loops)
{
    if (!volume.deviceNumber.empty())
        return mount.deviceNumber == volume.deviceNumber;
    if (volume.scripted || volume.description.source.empty())
        return false;
    if (auto loop = loops.find(mount.deviceNumber); loop != loops.end())
        return loop->second.backingFile == volume.description.source && loop->second.offset == volume.offset;
    return mount.source == volume.description.source && volume.offset == 0;
}
} // namespace

std::optional<MountedFileSystem> FindMount(const std::string& deviceNumber)
{
    for (const MountLine& mount : ReadMountInfo())
        if (mount.deviceNumber == deviceNumber)
            return MountedFileSystem{mount.type, mount.mountPoint};
    return std::nullopt;
}

void AddMountPoints(std::vector<VolumeEntry>& volumes)
{
    const std::vector<MountLine> mounts = ReadMountInfo();
    const std::map<std::string, LoopBinding> loops = ReadLoopBindings();
    for (VolumeEntry& volume : volumes)
        for (const MountLine& mount : mounts)
            if (MountShowsVolume(mount, volume, loops))
                volume.description.mountPoints.push_back(mount.mountPoint);
}
} // namespace orva::platform::volume
