// The volumes orva-search indexes: read from a settings file, or named on the command
// line (drive letter, volume name or image file; images are attached under a free
// drive letter for the duration of the search).
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

namespace orva::search
{
struct VolumeToIndex
{
    std::string shown;          // as the user named it, for messages
    std::u16string volumeName;  // "\\?\Volume{...}\"
    DWORD serialNumber = 0;
    ULONGLONG maximumSize = 8 * 1024 * 1024;
    ULONGLONG allocationDelta = 1024 * 1024;
    DWORD initHash = 100000;
    BOOL monitorChanges = TRUE;
};

// Images attached by this run, detached again when the object goes.
class AttachedImages
{
public:
    AttachedImages() = default;
    ~AttachedImages();
    AttachedImages(const AttachedImages&) = delete;
    AttachedImages& operator=(const AttachedImages&) = delete;

    // Attaches `path` under the first free letter from C; 0 with a message on failure.
    char Attach(const std::string& path, std::string* error);

private:
    std::vector<char> m_letters;
};

// Every section of the settings file `path` (empty: OrvaDesktop.ini in the current
// directory). False with a message when the file is missing or lists no volume.
bool VolumesFromSettings(const std::string& path, std::vector<VolumeToIndex>* volumes, std::string* error);

// The volume a command-line argument names. False with a message when it names none.
bool VolumeFromArgument(const std::string& argument, AttachedImages& images, VolumeToIndex* volume,
                        std::string* error);
} // namespace orva::search
