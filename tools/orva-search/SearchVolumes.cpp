#include "SearchVolumes.h"

#include "VolumeSettings.h"
#include "platform/DriveMap.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>

namespace orva::search
{
namespace
{
std::optional<platform::VolumeDescription> FindVolume(char letter, const std::u16string& name)
{
    for (platform::VolumeDescription& volume : platform::ListVolumes())
    {
        if ((letter != 0 && volume.letter == letter) || (!name.empty() && volume.volumeName == name))
            return std::move(volume);
    }
    return std::nullopt;
}

// "E:" or "E", either case.
char ParseLetter(const std::string& word)
{
    if ((word.size() == 1 || (word.size() == 2 && word[1] == ':')) && std::isalpha(static_cast<unsigned char>(word[0])))
        return static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return 0;
}

bool Describe(const std::string& argument, const std::optional<platform::VolumeDescription>& found,
              VolumeToIndex* volume, std::string* error)
{
    if (!found)
    {
        *error = "unknown volume " + argument + " (orva-drive list shows the volumes)";
        return false;
    }
    volume->shown = argument;
    volume->volumeName = found->volumeName;
    volume->serialNumber = found->serialNumber;
    return true;
}
} // namespace

AttachedImages::~AttachedImages()
{
    for (char letter : m_letters)
        platform::DetachImage(letter);
}

char AttachedImages::Attach(const std::string& path, std::string* error)
{
    std::error_code failure;
    const std::string absolute = std::filesystem::absolute(path, failure).string();
    for (char letter = 'C'; letter <= 'Z'; ++letter)
    {
        if (platform::AttachImage(letter, absolute, 0))
        {
            m_letters.push_back(letter);
            return letter;
        }
        const DWORD reason = GetLastError();
        if (reason == ERROR_ALREADY_EXISTS)
            continue;
        *error = "cannot read the image " + path +
                 (reason == ERROR_UNRECOGNIZED_VOLUME ? ": no file system found in it"
                  : reason == ERROR_ACCESS_DENIED     ? ": permission denied"
                                                      : ": " + std::to_string(reason));
        return 0;
    }
    *error = "cannot attach " + path + ": every drive letter is taken (orva-drive detach frees one)";
    return 0;
}

bool VolumesFromSettings(const std::string& path, std::vector<VolumeToIndex>* volumes, std::string* error)
{
    WCHAR file[MAX_PATH + 1] = {};
    if (path.empty())
    {
        if (!GetSettingsFilePath(file))
        {
            *error = "the path of OrvaDesktop.ini in the current directory is too long";
            return false;
        }
    }
    else
    {
        const std::u16string wide = platform::ToUtf16(path);
        wide.copy(file, MAX_PATH);
    }
    const std::optional<std::string> linuxPath = platform::ToLinuxPath(file);
    const std::string shown = path.empty() ? "OrvaDesktop.ini" : path;
    if (!linuxPath || !std::filesystem::is_regular_file(*linuxPath))
    {
        *error = "settings file missing: " + shown + " (name volumes with --volume, or give --settings FILE)";
        return false;
    }
    const LONG count = ReadVolumeCount(file);
    for (LONG index = 0; index < count; ++index)
    {
        CVolumeSettings settings;
        ReadVolumeSettings(file, static_cast<DWORD>(index), settings);
        VolumeToIndex volume;
        volume.shown = platform::ToUtf8(settings.VolumeRootPath);
        volume.volumeName = settings.VolumeRootPath;
        volume.serialNumber = settings.SerialNumber;
        volume.maximumSize = static_cast<ULONGLONG>(settings.UsnMaximumSize);
        volume.allocationDelta = static_cast<ULONGLONG>(settings.UsnAllocationDelta);
        volume.initHash = settings.InitHash;
        volume.monitorChanges = settings.MonitorChanges;
        volumes->push_back(std::move(volume));
    }
    if (volumes->empty())
    {
        *error = "no volumes in " + shown + " (VolumeCount is 0: run OrvaDesktop once, or use --volume)";
        return false;
    }
    return true;
}

bool VolumeFromArgument(const std::string& argument, AttachedImages& images, VolumeToIndex* volume,
                        std::string* error)
{
    if (const char letter = ParseLetter(argument); letter != 0)
        return Describe(argument, FindVolume(letter, {}), volume, error);
    if (argument.starts_with("\\\\?\\Volume{"))
        return Describe(argument, FindVolume(0, platform::ToUtf16(argument)), volume, error);
    std::error_code failure;
    if (!std::filesystem::exists(argument, failure))
    {
        *error = "unknown volume " + argument + ": no drive letter, volume name or file of that name";
        return false;
    }
    const char letter = images.Attach(argument, error);
    return letter != 0 && Describe(argument, FindVolume(letter, {}), volume, error);
}
} // namespace orva::search
