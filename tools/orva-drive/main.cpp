// orva-drive: lists every volume the platform layer sees and attaches image files under
// drive letters (the drive map, drives.ini in the config folder).
//
// Exit status: 0 on success, 1 when `list` finds no volume, 2 on bad input or a failure.
#include "platform/DriveMap.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Volume.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

using orva::platform::ListVolumes;
using orva::platform::ToUtf8;
using orva::platform::VolumeDescription;

namespace
{
constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

constexpr const char* kHelp =
    "Usage: orva-drive list\n"
    "       orva-drive attach X: IMAGE[:PARTITION]\n"
    "       orva-drive detach X:\n"
    "\n"
    "  list     every volume: drive letter, type, file system, serial number, size,\n"
    "           whether it can be read, volume name, device or image, mount points\n"
    "  attach   give the image file IMAGE the drive letter X; PARTITION picks an entry\n"
    "           of its MBR or GPT table (default: the whole image, or every partition\n"
    "           that holds a file system, the first of them under X)\n"
    "  detach   take the letter X from the image attached under it\n"
    "  --help   show this help\n"
    "\n"
    "The drive map is drives.ini in $XDG_CONFIG_HOME/orva (default ~/.config/orva).\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "orva-drive: %s\n", message.c_str());
    return kExitError;
}

// "E:" or "E", either case.
std::optional<char> ParseLetter(const std::string& word)
{
    if ((word.size() == 1 || (word.size() == 2 && word[1] == ':')) &&
        std::isalpha(static_cast<unsigned char>(word[0])))
        return static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return std::nullopt;
}

struct ImageArgument
{
    std::string path;
    unsigned partition = 0;
};

// IMAGE[:PARTITION]; a file whose own name ends in ":digits" is taken whole.
std::optional<ImageArgument> ParseImage(const std::string& word)
{
    struct stat status = {};
    const size_t colon = word.rfind(':');
    if (colon == std::string::npos || ::stat(word.c_str(), &status) == 0)
        return ImageArgument{word, 0};
    const std::string number = word.substr(colon + 1);
    if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos)
        return ImageArgument{word, 0};
    const unsigned partition = static_cast<unsigned>(std::stoul(number));
    if (partition == 0)
        return std::nullopt;
    return ImageArgument{word.substr(0, colon), partition};
}

const char* DriveTypeName(UINT type)
{
    switch (type)
    {
    case DRIVE_REMOVABLE:
        return "removable";
    case DRIVE_FIXED:
        return "fixed";
    case DRIVE_REMOTE:
        return "remote";
    case DRIVE_CDROM:
        return "cdrom";
    case DRIVE_RAMDISK:
        return "ramdisk";
    default:
        return "unknown";
    }
}

std::string SizeText(ULONGLONG bytes)
{
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4)
    {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

void PrintVolume(const VolumeDescription& volume)
{
    std::string letter = volume.letter != 0 ? std::string{volume.letter, ':'} : "-";
    std::string mounts;
    for (const std::string& mount : volume.mountPoints)
        mounts += (mounts.empty() ? "" : ",") + mount;
    char serial[16];
    std::snprintf(serial, sizeof serial, "%04X-%04X", volume.serialNumber >> 16,
                  volume.serialNumber & 0xFFFF);
    std::printf("%-3s %-9s %-8s %-9s %10s %-3s %s %s %s\n", letter.c_str(), DriveTypeName(volume.driveType),
                volume.fileSystem.empty() ? "?" : ToUtf8(volume.fileSystem).c_str(), serial,
                SizeText(volume.sizeBytes).c_str(), volume.readable ? "yes" : "no",
                ToUtf8(volume.volumeName).c_str(), volume.source.empty() ? "-" : volume.source.c_str(),
                mounts.empty() ? "-" : mounts.c_str());
}

int List()
{
    const std::vector<VolumeDescription> volumes = ListVolumes();
    std::printf("%-3s %-9s %-8s %-9s %10s %-3s %s %s %s\n", "DRV", "TYPE", "FS", "SERIAL", "SIZE", "READ",
                "VOLUME", "SOURCE", "MOUNTS");
    for (const VolumeDescription& volume : volumes)
        PrintVolume(volume);
    return volumes.empty() ? kExitNothing : 0;
}

// Why the letter or image was refused as taken.
std::string TakenMessage(char letter, const std::string& image)
{
    for (const VolumeDescription& volume : ListVolumes())
        if (volume.letter == letter)
            return std::string{letter} + ": is taken by " +
                   (volume.source.empty() ? "another volume" : volume.source) +
                   " (detach it first, or choose another letter)";
    return std::string{letter} + ": is kept in the drive map for a volume that is not present, or " + image +
           " is attached already (see orva-drive list)";
}

int Attach(const std::string& letterWord, const std::string& imageWord)
{
    std::optional<char> letter = ParseLetter(letterWord);
    if (!letter)
        return Fail(letterWord + " is not a drive letter (give one of A: to Z:)");
    std::optional<ImageArgument> image = ParseImage(imageWord);
    if (!image)
        return Fail(imageWord + ": partitions are numbered from 1");
    if (orva::platform::AttachImage(*letter, image->path, image->partition))
    {
        std::printf("%c: %s%s\n", *letter, image->path.c_str(),
                    image->partition ? (":" + std::to_string(image->partition)).c_str() : "");
        return 0;
    }
    switch (GetLastError())
    {
    case ERROR_FILE_NOT_FOUND:
        return Fail(image->path + ": no such file");
    case ERROR_ACCESS_DENIED:
        return Fail(image->path + ": permission denied");
    case ERROR_ALREADY_EXISTS:
        return Fail(TakenMessage(*letter, image->path));
    case ERROR_INVALID_PARAMETER:
        return Fail(image->path + ": no partition " + std::to_string(image->partition) +
                    " in its partition table (see fdisk -l)");
    case ERROR_UNRECOGNIZED_VOLUME:
        return Fail(image->path +
                    (image->partition ? ":" + std::to_string(image->partition) : std::string()) +
                    ": not a file system (for a disk image, give IMAGE:PARTITION)");
    default:
        return Fail(image->path + ": cannot attach (error " + std::to_string(GetLastError()) + ")");
    }
}

int Detach(const std::string& letterWord)
{
    std::optional<char> letter = ParseLetter(letterWord);
    if (!letter)
        return Fail(letterWord + " is not a drive letter (give one of A: to Z:)");
    if (!orva::platform::DetachImage(*letter))
        return Fail(std::string{*letter} + ": no image is attached under this letter");
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h"))
    {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (words.size() == 1 && words[0] == "list")
        return List();
    if (words.size() == 3 && words[0] == "attach")
        return Attach(words[1], words[2]);
    if (words.size() == 2 && words[0] == "detach")
        return Detach(words[1]);
    if (words.empty())
        return Fail("give a command: list, attach or detach (see --help)");
    return Fail("bad arguments for " + words[0] + " (see --help)");
}
