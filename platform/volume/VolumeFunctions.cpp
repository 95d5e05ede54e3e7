// Volume enumeration and information: FindFirstVolumeW and friends over the volume
// table.
#include "Handles.h"
#include "VolumeTable.h"

#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Volume.h"

#include <algorithm>

namespace orva::platform::volume
{
namespace
{
BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Copies `text` with its terminating zero; FALSE when `size` units cannot hold both.
bool CopyText(std::u16string_view text, LPWSTR buffer, DWORD size)
{
    if (buffer == nullptr || text.size() >= size)
        return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

// A volume name or a drive root: the volume, or nothing with the error set.
std::optional<VolumeEntry> VolumeOfRoot(LPCWSTR root)
{
    if (root == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    std::u16string_view text(root);
    if (!IsVolumeName(text) && DriveRootLetter(text) == 0)
    {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    std::optional<VolumeEntry> volume = FindVolumeByRoot(text);
    if (!volume)
        SetLastError(IsVolumeName(text) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return volume;
}

std::u16string PathNameList(const VolumeDescription& description)
{
    std::u16string list;
    if (description.letter != 0)
        list += std::u16string{static_cast<char16_t>(description.letter), u':', u'\\', 0};
    for (const std::string& mountPoint : description.mountPoints)
        list += ToUtf16(mountPoint) + u'\0';
    list += u'\0';
    return list;
}

DWORD FileSystemFlags(std::u16string_view fileSystem)
{
    constexpr DWORD casePreserved = 0x2, unicodeOnDisk = 0x4, supportsUsnJournal = 0x02000000;
    if (fileSystem == u"NTFS")
        return casePreserved | unicodeOnDisk | supportsUsnJournal;
    return casePreserved | unicodeOnDisk;
}
} // namespace
} // namespace orva::platform::volume

using namespace orva::platform;
using namespace orva::platform::volume;

HANDLE FindFirstVolumeW(LPWSTR volumeName, DWORD bufferLength)
{
    auto search = std::make_shared<VolumeSearch>();
    for (const VolumeEntry& volume : AllVolumes())
        if (!volume.description.volumeName.empty())
            search->names.push_back(volume.description.volumeName);
    if (search->names.empty())
    {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!CopyText(search->names.front(), volumeName, bufferLength))
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    search->next = 1;
    return InsertHandle(std::move(search));
}

BOOL FindNextVolumeW(HANDLE findVolume, LPWSTR volumeName, DWORD bufferLength)
{
    std::shared_ptr<VolumeSearch> search = FindHandleOf<VolumeSearch>(findVolume);
    if (!search)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard guard(search->lock);
    if (search->next >= search->names.size())
        return Fail(ERROR_NO_MORE_FILES);
    if (!CopyText(search->names[search->next], volumeName, bufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    ++search->next;
    return TRUE;
}

BOOL FindVolumeClose(HANDLE findVolume)
{
    if (!RemoveHandle(findVolume, [](const HandleObject& object)
                      { return dynamic_cast<const VolumeSearch*>(&object) != nullptr; }))
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

UINT GetDriveTypeW(LPCWSTR rootPathName)
{
    std::optional<VolumeEntry> volume = VolumeOfRoot(rootPathName);
    return volume ? volume->description.driveType : DRIVE_NO_ROOT_DIR;
}

BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize)
{
    std::optional<VolumeEntry> volume = VolumeOfRoot(rootPathName);
    if (!volume)
        return FALSE;
    const VolumeDescription& description = volume->description;
    if (description.fileSystem.empty())
        return Fail(ERROR_UNRECOGNIZED_VOLUME);
    if ((volumeNameBuffer != nullptr && !CopyText(description.label, volumeNameBuffer, volumeNameSize)) ||
        (fileSystemNameBuffer != nullptr &&
         !CopyText(description.fileSystem, fileSystemNameBuffer, fileSystemNameSize)))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (volumeSerialNumber != nullptr)
        *volumeSerialNumber = description.serialNumber;
    if (maximumComponentLength != nullptr)
        *maximumComponentLength = 255;
    if (fileSystemFlags != nullptr)
        *fileSystemFlags = FileSystemFlags(description.fileSystem);
    return TRUE;
}

BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWSTR volumePathNames, DWORD bufferLength,
                                      LPDWORD returnLength)
{
    if (volumeName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    // Only volume names: a drive root is refused here, as on Windows.
    if (!IsVolumeName(volumeName))
        return Fail(ERROR_INVALID_NAME);
    std::optional<VolumeEntry> volume = FindVolumeByName(volumeName);
    if (!volume)
        return Fail(ERROR_FILE_NOT_FOUND);
    const std::u16string list = PathNameList(volume->description);
    const auto needed = static_cast<DWORD>(list.size());
    if (returnLength != nullptr)
        *returnLength = needed;
    if (volumePathNames == nullptr || bufferLength < needed)
        return Fail(ERROR_MORE_DATA);
    std::copy(list.begin(), list.end(), volumePathNames);
    return TRUE;
}
