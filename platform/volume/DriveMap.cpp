// The drive map: drives.ini in the config folder, one section per drive letter.
//
//   [E:]
//   VolumeName=\\?\Volume{...}\ (a volume of the machine)
//   [F:]
//   Image=/home/me/disk.img
//   Partition=2
//   VolumeName=\\?\Volume{...}\ (its volume)
//   FileSystem=NTFS
//
// A section with only VolumeName gives a letter to a volume found on the machine; a
// section with Image attaches that image file (Partition 0: the whole image; the volume
// name and file system are recorded so that an image the user can no longer read is
// still listed). A volume of a Windows file system without a section gets the first
// free letter from C the first time it is seen, and the section is written then.
#include "Probe.h"
#include "ScriptedState.h"
#include "VolumeTable.h"

#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Volume.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orva::platform::volume
{
namespace
{
struct DriveMapEntry
{
    std::u16string volumeName;
    std::string image;
    unsigned partition = 0;
    std::u16string fileSystem;
    bool Empty() const { return volumeName.empty() && image.empty(); }
};
using DriveMapTable = std::array<DriveMapEntry, 26>;

std::u16string DriveMapFile()
{
    return ToUtf16(ConfigFolder() + "/drives.ini");
}

std::u16string SectionOf(int index)
{
    return {static_cast<char16_t>(u'A' + index), u':'};
}

std::u16string ReadKey(const std::u16string& file, const std::u16string& section, const char16_t* key)
{
    WCHAR value[4096];
    DWORD length = GetPrivateProfileStringW(section.c_str(), key, u"", value, 4096, file.c_str());
    return std::u16string(value, length);
}

void WriteKey(const std::u16string& file, const std::u16string& section, const char16_t* key,
              const std::u16string& value)
{
    WritePrivateProfileStringW(section.c_str(), key, value.c_str(), file.c_str());
}

DriveMapTable ReadDriveMap(const std::u16string& file)
{
    DriveMapTable table;
    for (int i = 0; i < 26; ++i)
    {
        const std::u16string section = SectionOf(i);
        DriveMapEntry& entry = table[i];
        entry.volumeName = ReadKey(file, section, u"VolumeName");
        entry.image = ToUtf8(ReadKey(file, section, u"Image"));
        if (!entry.image.empty())
        {
            entry.partition = static_cast<unsigned>(
                std::strtoul(ToUtf8(ReadKey(file, section, u"Partition")).c_str(), nullptr, 10));
            entry.fileSystem = ReadKey(file, section, u"FileSystem");
        }
    }
    return table;
}

int LetterIndex(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

// The volumes of an attached image; its first volume takes the entry's letter. An image
// that exists but cannot be read is listed from what the map recorded.
void AppendImageVolumes(std::vector<VolumeEntry>& volumes, int index, const DriveMapEntry& entry)
{
    std::vector<VolumeEntry> found = ProbeImage(entry.image, entry.partition);
    if (found.empty() && ::access(entry.image.c_str(), F_OK) == 0 && ::access(entry.image.c_str(), R_OK) != 0)
    {
        VolumeEntry unreadable;
        unreadable.description.volumeName = entry.volumeName;
        unreadable.description.driveType = DRIVE_FIXED;
        unreadable.description.fileSystem = entry.fileSystem;
        unreadable.description.source = entry.image;
        found.push_back(std::move(unreadable));
    }
    if (found.empty())
        return;
    found.front().description.letter = static_cast<char>('A' + index);
    volumes.insert(volumes.end(), std::make_move_iterator(found.begin()),
                   std::make_move_iterator(found.end()));
}

void AssignLetters(std::vector<VolumeEntry>& volumes, DriveMapTable& map, const std::u16string& file)
{
    for (VolumeEntry& volume : volumes)
    {
        VolumeDescription& description = volume.description;
        if (description.letter != 0)
            continue;
        for (int i = 0; i < 26 && description.letter == 0; ++i)
            if (map[i].image.empty() && VolumeNamesEqual(map[i].volumeName, description.volumeName))
                description.letter = static_cast<char>('A' + i);
        if (description.letter != 0 || !IsWindowsFileSystem(description.fileSystem))
            continue;
        for (int i = 2; i < 26 && description.letter == 0; ++i)
            if (map[i].Empty())
            {
                map[i].volumeName = description.volumeName;
                WriteKey(file, SectionOf(i), u"VolumeName", description.volumeName);
                description.letter = static_cast<char>('A' + i);
            }
    }
}

// A readable regular file: its absolute path in `resolved`.
DWORD CheckImageFile(const std::string& imagePath, std::string* resolved)
{
    char absolute[PATH_MAX];
    struct stat status = {};
    if (::realpath(imagePath.c_str(), absolute) == nullptr || ::stat(absolute, &status) != 0)
        return ERROR_FILE_NOT_FOUND;
    if (!S_ISREG(status.st_mode))
        return ERROR_UNRECOGNIZED_VOLUME;
    if (::access(absolute, R_OK) != 0)
        return ERROR_ACCESS_DENIED;
    *resolved = absolute;
    return ERROR_SUCCESS;
}

// The letter is free and the image's partition is not attached under another one: two
// letters for one volume would give two volumes of the same name.
DWORD CheckDriveMapFree(const DriveMapTable& map, int index, const std::string& image, unsigned partition)
{
    bool taken = !map[index].Empty();
    for (const DriveMapEntry& entry : map)
        taken = taken || (entry.image == image && entry.partition == partition);
    return taken ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
}

bool HasPartition(const std::string& image, unsigned partition)
{
    int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool listed = false;
    for (const PartitionProbe& entry : ProbePartitions(fd))
        listed = listed || static_cast<unsigned>(entry.number) == partition;
    ::close(fd);
    return listed;
}

// Why `imagePath` cannot be attached under drive `index`; or ERROR_SUCCESS, with its
// absolute path in `resolved` and its volumes in `volumes`.
DWORD CheckAttach(int index, const std::string& imagePath, unsigned partition, const std::u16string& driveMap,
                  std::string* resolved, std::vector<VolumeEntry>* volumes)
{
    if (index < 0)
        return ERROR_INVALID_PARAMETER;
    if (DWORD error = CheckImageFile(imagePath, resolved))
        return error;
    if (DWORD error = CheckDriveMapFree(ReadDriveMap(driveMap), index, *resolved, partition))
        return error;
    if (partition != 0 && !HasPartition(*resolved, partition))
        return ERROR_INVALID_PARAMETER;
    *volumes = ProbeImage(*resolved, partition);
    return volumes->empty() ? ERROR_UNRECOGNIZED_VOLUME : ERROR_SUCCESS;
}

std::optional<DrivePath> ResolveDrive(char letter, std::string_view rest)
{
    std::optional<VolumeEntry> volume = FindVolumeByLetter(letter);
    if (!volume)
        return std::nullopt;
    DrivePath path;
    path.letter = volume->description.letter;
    const std::vector<std::string>& mounts = volume->description.mountPoints;
    if (!volume->scripted && !mounts.empty())
    {
        path.kind = DrivePath::Kind::Mounted;
        path.linuxPath =
            mounts.front() == "/" && !rest.empty() ? std::string(rest) : mounts.front() + std::string(rest);
    }
    else
    {
        path.kind = DrivePath::Kind::VolumeInternal;
        path.insidePath = rest.empty() ? "/" : std::string(rest);
    }
    return path;
}

// The resolver is in place as soon as the library is loaded.
const bool g_resolverInstalled = []
{
    SetDriveResolver(&ResolveDrive);
    return true;
}();
} // namespace

std::vector<VolumeEntry> ProbeMachineVolumes()
{
    const std::u16string file = DriveMapFile();
    DriveMapTable map = ReadDriveMap(file);
    std::vector<VolumeEntry> volumes = ProbeBlockDevices();
    for (int i = 0; i < 26; ++i)
        if (!map[i].image.empty())
            AppendImageVolumes(volumes, i, map[i]);
    AssignLetters(volumes, map, file);
    AddMountPoints(volumes);
    return volumes;
}
} // namespace orva::platform::volume

namespace orva::platform
{
using namespace volume;

std::vector<VolumeDescription> ListVolumes()
{
    std::vector<VolumeDescription> descriptions;
    for (VolumeEntry& volume : AllVolumes())
        descriptions.push_back(std::move(volume.description));
    return descriptions;
}

BOOL AttachImage(char letter, const std::string& imagePath, unsigned partition)
{
    const int index = LetterIndex(letter);
    const std::u16string file = DriveMapFile();
    std::string resolved;
    std::vector<VolumeEntry> volumes;
    if (DWORD error = CheckAttach(index, imagePath, partition, file, &resolved, &volumes))
    {
        SetLastError(error);
        return FALSE;
    }
    const std::u16string section = SectionOf(index);
    WriteKey(file, section, u"Image", ToUtf16(resolved));
    WriteKey(file, section, u"Partition", ToUtf16(std::to_string(partition)));
    WriteKey(file, section, u"VolumeName", volumes.front().description.volumeName);
    WriteKey(file, section, u"FileSystem", volumes.front().description.fileSystem);
    InvalidateVolumes();
    return TRUE;
}

BOOL DetachImage(char letter)
{
    const int index = LetterIndex(letter);
    const std::u16string file = DriveMapFile();
    if (index < 0 || ReadDriveMap(file)[index].image.empty())
    {
        SetLastError(ERROR_INVALID_DRIVE);
        return FALSE;
    }
    WritePrivateProfileStringW(SectionOf(index).c_str(), /*key=*/nullptr, /*value=*/nullptr, file.c_str());
    InvalidateVolumes();
    return TRUE;
}
} // namespace orva::platform
