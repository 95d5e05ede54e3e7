// Files and volume devices: CreateFileW, CloseHandle, GetFileInformationByHandle and
// GetFileAttributesExW.
//
// Three kinds of names reach CreateFileW: a volume device ("\\.\X:" or a volume name
// without its trailing backslash), opened read-only whatever access is asked; an entry
// of a volume that is not mounted (its root "X:\" above all), read from the volume
// itself; and ordinary Linux paths, a drive-letter path on a mounted volume included.
#include "Handles.h"
#include "ScriptedState.h"

#include "platform/LastError.h"
#include "platform/ntfs/NtfsVolume.h"
#include "platform/Paths.h"
#include "platform/Time.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <list>
#include <sys/stat.h>
#include <unistd.h>

namespace orva::platform::volume
{
namespace
{
HANDLE FailHandle(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

bool IsNtfs(const VolumeEntry& volume)
{
    return volume.description.fileSystem == u"NTFS";
}

// Open NTFS readers for attribute look-ups on unmounted volumes, most recent first: a
// result list asks for one row after the other, and opening a volume costs far more than
// one look-up. A reader is keyed by the image's identity, so a rebuilt image is reopened.
class NtfsReaders
{
public:
    BOOL GetAttributes(const VolumeEntry& volume, const std::string& insidePath,
                       WIN32_FILE_ATTRIBUTE_DATA* data)
    {
        struct stat status = {};
        if (::stat(volume.description.source.c_str(), &status) != 0)
            return Fail(ErrorFromErrno(errno));
        Key key{volume.description.source, volume.offset, status.st_ino, status.st_size,
                status.st_mtim.tv_sec * 1000000000ll + status.st_mtim.tv_nsec};
        std::lock_guard guard(m_lock);
        auto found =
            std::find_if(m_readers.begin(), m_readers.end(), [&](const Reader& r) { return r.key == key; });
        if (found == m_readers.end())
        {
            DWORD error = 0;
            std::unique_ptr<ntfs::NtfsVolume> reader =
                ntfs::NtfsVolume::Open(volume.description.source, volume.offset, volume.length, &error);
            if (!reader)
                return Fail(error);
            m_readers.push_front({key, std::move(reader)});
            if (m_readers.size() > kKept)
                m_readers.pop_back();
        }
        else
            m_readers.splice(m_readers.begin(), m_readers, found);
        return m_readers.front().reader->GetAttributes(insidePath, data);
    }

private:
    static constexpr size_t kKept = 4;
    struct Key
    {
        std::string source;
        std::uint64_t offset;
        ino_t inode;
        off_t size;
        long long modified;
        bool operator==(const Key&) const = default;
    };
    struct Reader
    {
        Key key;
        std::unique_ptr<ntfs::NtfsVolume> reader;
    };
    std::mutex m_lock;
    std::list<Reader> m_readers; // Guarded by m_lock.
};

NtfsReaders& Readers()
{
    static NtfsReaders readers;
    return readers;
}

// Attributes of an entry of a volume that is not mounted.
BOOL VolumeEntryAttributes(const VolumeEntry& volume, const std::string& insidePath,
                           WIN32_FILE_ATTRIBUTE_DATA* data)
{
    if (volume.scripted)
    {
        std::u16string path = ToUtf16(insidePath);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        return ScriptedAttributes(*volume.scripted, path, data);
    }
    if (!IsNtfs(volume))
        return Fail(ERROR_NOT_READY);
    return Readers().GetAttributes(volume, insidePath, data);
}

FILETIME TimeOf(const timespec& time)
{
    return FileTimeFromUnix(time.tv_sec, static_cast<std::uint32_t>(time.tv_nsec));
}

DWORD AttributesOf(const struct stat& status)
{
    DWORD attributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void FillFromStat(const struct stat& status, WIN32_FILE_ATTRIBUTE_DATA* data)
{
    data->dwFileAttributes = AttributesOf(status);
    // Linux keeps no creation time in struct stat; the status-change time stands in.
    data->ftCreationTime = TimeOf(status.st_ctim);
    data->ftLastAccessTime = TimeOf(status.st_atim);
    data->ftLastWriteTime = TimeOf(status.st_mtim);
    const auto size = S_ISDIR(status.st_mode) ? 0ull : static_cast<std::uint64_t>(status.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
}

BY_HANDLE_FILE_INFORMATION InformationFrom(const WIN32_FILE_ATTRIBUTE_DATA& data, DWORD serial,
                                           std::uint64_t fileIndex, DWORD links)
{
    BY_HANDLE_FILE_INFORMATION information{};
    information.dwFileAttributes = data.dwFileAttributes;
    information.ftCreationTime = data.ftCreationTime;
    information.ftLastAccessTime = data.ftLastAccessTime;
    information.ftLastWriteTime = data.ftLastWriteTime;
    information.dwVolumeSerialNumber = serial;
    information.nFileSizeHigh = data.nFileSizeHigh;
    information.nFileSizeLow = data.nFileSizeLow;
    information.nNumberOfLinks = links;
    information.nFileIndexHigh = static_cast<DWORD>(fileIndex >> 32);
    information.nFileIndexLow = static_cast<DWORD>(fileIndex);
    return information;
}

// "\\.\X:" or "\\?\Volume{...}" (a volume name without its trailing backslash).
std::optional<std::optional<VolumeEntry>> DeviceOf(std::u16string_view name)
{
    if (name.starts_with(u"\\\\.\\") && name.size() == 6 && name[5] == u':')
        return FindVolumeByLetter(DriveRootLetter(name.substr(4)));
    if (IsVolumeName(std::u16string(name) + u"\\"))
        return FindVolumeByName(std::u16string(name) + u"\\");
    return std::nullopt;
}

HANDLE OpenDevice(const std::optional<VolumeEntry>& volume, DWORD creationDisposition)
{
    if (!volume)
        return FailHandle(ERROR_FILE_NOT_FOUND);
    if (creationDisposition != OPEN_EXISTING && creationDisposition != OPEN_ALWAYS)
        return FailHandle(ERROR_ACCESS_DENIED);
    if (volume->scripted)
    {
        if (!volume->description.readable)
            return FailHandle(ERROR_ACCESS_DENIED);
    }
    else
    {
        // Read-only whatever access was asked: nothing is ever written to a volume.
        int fd = ::open(volume->description.source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return FailHandle(ErrorFromErrno(errno));
        ::close(fd);
    }
    return InsertHandle(std::make_shared<VolumeDevice>(*volume));
}

// The root directory of a volume: for NTFS its file reference number comes from the
// volume itself (record 5 with its sequence number); a mounted volume the NTFS reader
// cannot open, or another file system, gives the mount point's inode.
HANDLE OpenScriptedRoot(const VolumeEntry& volume)
{
    BY_HANDLE_FILE_INFORMATION information{};
    {
        std::lock_guard guard(volume.scripted->lock);
        const testing::ScriptedVolume& script = volume.scripted->script;
        if (!script.rootOpens)
            return FailHandle(ERROR_ACCESS_DENIED);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        information = InformationFrom(data, script.serialNumber, script.rootFrn, /*links=*/1);
    }
    // The handle counts itself in the script's log, under the same lock: made after it.
    return InsertHandle(std::make_shared<VolumeEntryHandle>(volume, information));
}

HANDLE OpenRoot(const VolumeEntry& volume)
{
    if (volume.scripted)
        return OpenScriptedRoot(volume);
    DWORD error = ERROR_NOT_READY;
    if (IsNtfs(volume))
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        std::unique_ptr<ntfs::NtfsVolume> reader =
            ntfs::NtfsVolume::Open(volume.description.source, volume.offset, volume.length, &error);
        if (reader && reader->GetAttributes("/", &data))
            return InsertHandle(std::make_shared<VolumeEntryHandle>(
                volume, InformationFrom(data, reader->SerialNumber(), reader->RootFileReferenceNumber(), 1)));
        if (reader)
            error = GetLastError();
    }
    struct stat status = {};
    if (!volume.description.mountPoints.empty() &&
        ::stat(volume.description.mountPoints.front().c_str(), &status) == 0)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FillFromStat(status, &data);
        return InsertHandle(std::make_shared<VolumeEntryHandle>(
            volume, InformationFrom(data, volume.description.serialNumber, status.st_ino, status.st_nlink)));
    }
    return FailHandle(error);
}

int OpenFlags(DWORD desiredAccess, DWORD creationDisposition)
{
    int flags = O_CLOEXEC;
    const bool write = (desiredAccess & GENERIC_WRITE) != 0;
    flags |= write ? ((desiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (creationDisposition)
    {
    case CREATE_NEW:
        return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return flags | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS:
        return flags | O_CREAT;
    case TRUNCATE_EXISTING:
        return flags | O_TRUNC;
    default:
        return flags;
    }
}

HANDLE OpenLinuxPath(const std::string& path, DWORD desiredAccess, DWORD creationDisposition, DWORD flags)
{
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING)
        return FailHandle(ERROR_INVALID_PARAMETER);
    struct stat status = {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    {
        // Directories open only for their information, and only as Windows allows it.
        if ((flags & FILE_FLAG_BACKUP_SEMANTICS) == 0 || creationDisposition == CREATE_NEW)
            return FailHandle(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd < 0 ? FailHandle(ErrorFromErrno(errno)) : InsertHandle(std::make_shared<OpenFile>(fd));
    }
    int fd = ::open(path.c_str(), OpenFlags(desiredAccess, creationDisposition), 0666);
    if (fd < 0)
        return FailHandle(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
    return InsertHandle(std::make_shared<OpenFile>(fd));
}

HANDLE OpenVolumeEntry(const DrivePath& path, DWORD desiredAccess, DWORD flags)
{
    std::optional<VolumeEntry> volume = FindVolumeByLetter(path.letter);
    if (!volume)
        return FailHandle(ERROR_PATH_NOT_FOUND);
    if (path.insidePath == "/")
        return (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0 ? OpenRoot(*volume)
                                                         : FailHandle(ERROR_ACCESS_DENIED);
    // An unmounted volume is read, never written.
    if ((desiredAccess & GENERIC_WRITE) != 0)
        return FailHandle(ERROR_ACCESS_DENIED);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!VolumeEntryAttributes(*volume, path.insidePath, &data))
        return INVALID_HANDLE_VALUE;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0)
        return FailHandle(ERROR_ACCESS_DENIED);
    return InsertHandle(std::make_shared<VolumeEntryHandle>(
        *volume, InformationFrom(data, volume->description.serialNumber, /*fileIndex=*/0, /*links=*/1)));
}
} // namespace
} // namespace orva::platform::volume

using namespace orva::platform;
using namespace orva::platform::volume;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, SECURITY_ATTRIBUTES*,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE)
{
    if (fileName == nullptr || *fileName == 0)
        return FailHandle(ERROR_PATH_NOT_FOUND);
    std::u16string_view name(fileName);
    if (std::optional<std::optional<VolumeEntry>> device = DeviceOf(name))
        return OpenDevice(*device, creationDisposition);
    // A volume's root, mounted or not: for NTFS the volume itself gives the root's file
    // reference number.
    if (IsVolumeName(name) || (name.size() == 3 && DriveRootLetter(name) != 0))
    {
        std::optional<VolumeEntry> volume = FindVolumeByRoot(name);
        if (!volume)
            return FailHandle(IsVolumeName(name) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        if ((flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0)
            return FailHandle(ERROR_ACCESS_DENIED);
        return OpenRoot(*volume);
    }
    std::optional<DrivePath> path = ResolvePath(name);
    if (!path)
        return FailHandle(ERROR_PATH_NOT_FOUND);
    if (path->kind == DrivePath::Kind::VolumeInternal)
        return OpenVolumeEntry(*path, desiredAccess, flagsAndAttributes);
    return OpenLinuxPath(path->linuxPath, desiredAccess, creationDisposition, flagsAndAttributes);
}

BOOL CloseHandle(HANDLE object)
{
    if (!RemoveHandle(object, [](const HandleObject& handle)
                      { return dynamic_cast<const VolumeSearch*>(&handle) == nullptr; }))
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    std::shared_ptr<HandleObject> object = FindHandle(file);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (information == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (auto* entry = dynamic_cast<VolumeEntryHandle*>(object.get()))
    {
        *information = entry->information;
        return TRUE;
    }
    if (auto* open = dynamic_cast<OpenFile*>(object.get()))
    {
        struct stat status = {};
        if (::fstat(open->fd, &status) != 0)
            return Fail(ErrorFromErrno(errno));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FillFromStat(status, &data);
        *information = InformationFrom(data, static_cast<DWORD>(status.st_dev), status.st_ino,
                                       static_cast<DWORD>(status.st_nlink));
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS infoLevel, LPVOID fileInformation)
{
    if (infoLevel != GetFileExInfoStandard || fileInformation == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (fileName == nullptr || *fileName == 0)
        return Fail(ERROR_PATH_NOT_FOUND);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(fileInformation);
    std::optional<DrivePath> path = ResolvePath(fileName);
    if (!path)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (path->kind == DrivePath::Kind::VolumeInternal)
    {
        std::optional<VolumeEntry> volume = FindVolumeByLetter(path->letter);
        if (!volume)
            return Fail(ERROR_PATH_NOT_FOUND);
        return VolumeEntryAttributes(*volume, path->insidePath, data);
    }
    struct stat status = {};
    if (::stat(path->linuxPath.c_str(), &status) != 0)
        return Fail(ErrorFromErrno(errno));
    FillFromStat(status, data);
    return TRUE;
}
