// Read-only access to one NTFS volume through libntfs-3g: a block device, an image
// file, or a partition at an offset inside an image. The volume is opened with
// NTFS_MNT_RDONLY | NTFS_MNT_FORENSIC and nothing is ever written to it.
//
// The volume layer (platform/volume) owns handles and the drive map and calls this
// class to answer the change-journal control codes and to read attributes of entries of
// an unmounted volume. One object may be used from several threads: its calls are
// serialised.
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
    // to the end), an image file or a block device. Null on failure, with a Windows error
    // code in `error`: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED (no read permission),
    // ERROR_UNRECOGNIZED_VOLUME (no NTFS boot sector there, or libntfs-3g cannot mount
    // it), ERROR_FILE_CORRUPT (mounted, but the root directory cannot be read).
    static std::unique_ptr<NtfsVolume> Open(const std::string& path, std::uint64_t offset,
                                            std::uint64_t length, DWORD* error);
    ~NtfsVolume();
    NtfsVolume(const NtfsVolume&) = delete;
    NtfsVolume& operator=(const NtfsVolume&) = delete;

    // Low 32 bits of the boot sector's 64-bit serial number, as Windows reports it.
    DWORD SerialNumber() const;
    std::u16string Label() const;
    std::uint64_t SizeBytes() const;
    // File reference number of the root directory: record 5 with its sequence number.
    std::uint64_t RootFileReferenceNumber() const;

    // FSCTL_ENUM_USN_DATA (see ChangeJournalControl.h); only the low 48 bits (the record
    // number) of StartFileReferenceNumber count. FALSE with SetLastError on failure:
    // ERROR_HANDLE_EOF when no record is left, ERROR_INSUFFICIENT_BUFFER when the output
    // cannot hold the 8-byte header and the first record that qualifies. Damaged or
    // unreadable MFT records are skipped.
    BOOL EnumUsnData(const MFT_ENUM_DATA_V0& request, void* output, DWORD outputSize, DWORD* bytesReturned);
    // The on-disk $Extend\$UsnJrnl, if any: FALSE when the volume has none. FirstUsn is
    // reported as the journal's LowestValidUsn, MaxUsn as 0x7FFFFFFFFFFF0000.
    BOOL QueryOnDiskJournal(USN_JOURNAL_DATA_V0* journal);
    // The highest $STANDARD_INFORMATION USN of any record (0 on a volume without journal).
    USN HighestUsn();

    // Attributes of `insidePath` ("/a/b", '/' separated, UTF-8) looked up in the volume:
    // the $STANDARD_INFORMATION attributes (FILE_ATTRIBUTE_DIRECTORY added for folders,
    // FILE_ATTRIBUTE_NORMAL when none is set), its times, and the size of the unnamed
    // $DATA (0 for folders). Names are matched as libntfs-3g matches them: Win32 names
    // ignoring case, POSIX names exactly. FALSE with ERROR_FILE_NOT_FOUND when the path is
    // not there.
    BOOL GetAttributes(const std::string& insidePath, WIN32_FILE_ATTRIBUTE_DATA* data);

private:
    struct Impl;
    explicit NtfsVolume(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
} // namespace orva::ntfs
