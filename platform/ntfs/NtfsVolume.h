// Read-only access to one NTFS volume through libntfs-3g: a block device, an image
// file, or a partition at an offset inside an image. The volume is opened with
// NTFS_MNT_RDONLY | NTFS_MNT_FORENSIC and nothing is ever written to it.
//
// The volume layer (platform/volume) owns handles and the drive map and calls this
// class to answer the change-journal control codes and to read attributes of entries of
// an unmounted volume.
#pragma once

#include "platform/ChangeJournalControl.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orva::ntfs
{
class NtfsVolume final
{
public:
    // Opens the NTFS file system found at [offset, offset + length) of `path` (length 0:
    // to the end). Null on failure, with a Windows error code in `error`
    // (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_UNRECOGNIZED_VOLUME, ...).
    static std::unique_ptr<NtfsVolume> Open(const std::string& path, std::uint64_t offset, std::uint64_t length,
                                            DWORD* error);
    ~NtfsVolume();
    NtfsVolume(const NtfsVolume&) = delete;
    NtfsVolume& operator=(const NtfsVolume&) = delete;

    // Low 32 bits of the boot sector's 64-bit serial number, as Windows reports it.
    DWORD SerialNumber() const;
    std::u16string Label() const;
    std::uint64_t SizeBytes() const;
    // File reference number of the root directory: record 5 with its sequence number.
    std::uint64_t RootFileReferenceNumber() const;

    // FSCTL_ENUM_USN_DATA (see ChangeJournalControl.h). FALSE with SetLastError on failure.
    BOOL EnumUsnData(const MFT_ENUM_DATA_V0& request, void* output, DWORD outputSize, DWORD* bytesReturned);
    // The on-disk $Extend\$UsnJrnl, if any: FALSE when the volume has none.
    BOOL QueryOnDiskJournal(USN_JOURNAL_DATA_V0* journal);
    // The highest $STANDARD_INFORMATION USN of any record (0 on a volume without journal).
    USN HighestUsn();

    // Attributes of `insidePath` ("/a/b", '/' separated, UTF-8) looked up in the volume.
    BOOL GetAttributes(const std::string& insidePath, WIN32_FILE_ATTRIBUTE_DATA* data);

private:
    struct Impl;
    explicit NtfsVolume(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
} // namespace orva::ntfs
