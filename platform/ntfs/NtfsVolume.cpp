// NtfsVolume: one NTFS file system opened read-only through libntfs-3g.
//
// Enumeration (FSCTL_ENUM_USN_DATA) is the hot path, and costs little more than copying
// the MFT out of the page cache: it never opens an inode per record. MFT records are read in
// batches of kBatchRecords with ntfs_mft_records_read (which applies the fixups), the
// last batch is kept so that consecutive calls continue where the previous one stopped,
// and each record is parsed in place by ParseMftRecord, which checks every offset. Only a
// base record whose long name sits in an extension record (it has an $ATTRIBUTE_LIST and
// no long name of its own: a file with many hard links, say) is opened as an inode, to
// follow its attribute list.
//
// One call: records are examined from the record number of StartFileReferenceNumber
// upwards; each in-use named base record whose USN lies in [LowUsn, HighUsn] becomes one
// USN_RECORD_V2 after the 8-byte header, until the next one would not fit. The header
// holds the record number to continue from. Example, on a fresh volume, from FRN 0 with
// a 160-byte buffer: $MFT (record 0, 72 bytes) and $MFTMirr (record 1, 80 bytes) fill
// it after the header, which says 2; the next call starts at $LogFile (record 2). The
// call after the last record fails with ERROR_HANDLE_EOF; a buffer too small for the
// first record that qualifies fails with ERROR_INSUFFICIENT_BUFFER.
#include "platform/ntfs/NtfsVolume.h"

#include "MftRecord.h"
#include "Ntfs3g.h"
#include "platform/LastError.h"
#include "ReadOnlyDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orva::ntfs
{
namespace
{
constexpr std::uint64_t kBatchRecords = 256;
constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
constexpr std::size_t kBootSectorSize = 512;
constexpr std::size_t kBootOemId = 3;
constexpr std::size_t kBootSerialNumber = 0x48;
constexpr WORD kFileNameOffset = offsetof(USN_RECORD_V2, FileName);
constexpr USN kMaxUsn = 0x7FFFFFFFFFFF0000;
// $Max holds MaximumSize, AllocationDelta, UsnJournalID and LowestValidUsn.
constexpr std::size_t kJournalMaxSize = 32;

constexpr DWORD RecordLengthFor(std::size_t nameUnits)
{
    return static_cast<DWORD>((kFileNameOffset + nameUnits * 2 + 7) & ~std::size_t{7});
}

// A name chosen for one record, with the parent its $FILE_NAME names.
struct ChosenName
{
    std::uint64_t parentFrn = 0;
    const std::uint8_t* units = nullptr; // UTF-16LE, unaligned
    std::size_t length = 0;
};

std::uint64_t DeviceSize(int fd, const struct stat& status)
{
    if (S_ISREG(status.st_mode))
        return static_cast<std::uint64_t>(status.st_size);
    std::uint64_t size = 0;
    if (S_ISBLK(status.st_mode) && ::ioctl(fd, BLKGETSIZE64, &size) == 0)
        return size;
    return 0;
}

bool ReadFully(int fd, void* buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t got =
            ::pread(fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void WriteRecord(std::uint8_t* at, std::uint64_t frn, const MftRecordInfo& info, const ChosenName& name)
{
    USN_RECORD_V2 header{};
    header.RecordLength = RecordLengthFor(name.length);
    header.MajorVersion = 2;
    header.MinorVersion = 0;
    header.FileReferenceNumber = frn;
    header.ParentFileReferenceNumber = name.parentFrn;
    header.Usn = info.usn;
    header.SecurityId = info.securityId;
    header.FileAttributes = info.fileAttributes | (info.directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    header.FileNameLength = static_cast<WORD>(name.length * 2);
    header.FileNameOffset = kFileNameOffset;
    std::memcpy(at, &header, kFileNameOffset);
    std::memcpy(at + kFileNameOffset, name.units, name.length * 2);
    const std::size_t used = kFileNameOffset + name.length * 2;
    std::memset(at + used, 0, header.RecordLength - used);
}

// Windows reports a file with no attribute bits as FILE_ATTRIBUTE_NORMAL.
DWORD AttributesOf(ntfs_inode* inode)
{
    constexpr DWORD kIndexPresent = 0x10000000; // libntfs-3g's marker of an $I30 index
    DWORD attributes = static_cast<DWORD>(inode->flags) & ~kIndexPresent;
    if (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

FILETIME FileTimeOf(sle64 ntfsTime)
{
    // NTFS keeps times as FILETIME does: 100 ns units since 1601-01-01 UTC.
    const auto value = static_cast<std::uint64_t>(ntfsTime);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}
} // namespace

struct NtfsVolume::Impl
{
    ~Impl()
    {
        if (volume != nullptr)
            ntfs_umount(volume, /*force=*/ntfs_bool(0));
        if (range.fd >= 0)
            ::close(range.fd);
    }

    bool Mount(DWORD* error);
    const std::uint8_t* LoadRecord(std::uint64_t recordNumber);
    bool NameFromAttributeList(std::uint64_t recordNumber, std::u16string* name, std::uint64_t* parentFrn);

    ReadOnlyDeviceRange range;
    ntfs_volume* volume = nullptr;
    DWORD serialNumber = 0;
    std::u16string label;
    std::uint64_t rootFrn = 0;
    std::uint64_t recordCount = 0;
    std::size_t recordSize = 0;

    // libntfs-3g keeps state per volume (inode and attribute caches) that is not safe
    // to share between threads: every call takes this lock.
    std::mutex lock;
    // The last batch of records read. Guarded by lock.
    std::vector<std::uint8_t> batch;
    std::uint64_t batchFirst = 0;
    std::uint64_t batchCount = 0;
};

bool NtfsVolume::Impl::Mount(DWORD* error)
{
    std::uint8_t boot[kBootSectorSize];
    if (!ReadFully(range.fd, boot, sizeof boot, range.offset) ||
        std::memcmp(boot + kBootOemId, "NTFS    ", 8) != 0)
    {
        *error = ERROR_UNRECOGNIZED_VOLUME;
        return false;
    }
    std::uint64_t serial64 = 0;
    std::memcpy(&serial64, boot + kBootSerialNumber, sizeof serial64);
    serialNumber = static_cast<DWORD>(serial64);

    ntfs_device* device = NewReadOnlyDevice("orva-volume", &range);
    if (device == nullptr)
    {
        *error = ErrorFromErrno(errno);
        return false;
    }
    volume = ntfs_device_mount(device, NTFS_MNT_RDONLY | NTFS_MNT_FORENSIC);
    if (volume == nullptr)
    {
        const int mountErrno = errno;
        ntfs_device_free(device);
        *error = mountErrno == EACCES ? ERROR_ACCESS_DENIED : ERROR_UNRECOGNIZED_VOLUME;
        return false;
    }
    recordSize = volume->mft_record_size;
    recordCount =
        static_cast<std::uint64_t>(volume->mft_na->initialized_size) >> volume->mft_record_size_bits;

    s64 labelBytes = 0;
    if (void* raw = ntfs_attr_readall(volume->vol_ni, AT_VOLUME_NAME, AT_UNNAMED, 0, &labelBytes))
    {
        label.resize(static_cast<std::size_t>(labelBytes) / 2);
        std::memcpy(label.data(), raw, label.size() * 2);
        std::free(raw);
    }
    ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
    if (root == nullptr)
    {
        *error = ERROR_FILE_CORRUPT;
        return false;
    }
    rootFrn = (static_cast<std::uint64_t>(root->mrec->sequence_number) << 48) | FILE_root;
    ntfs_inode_close(root);
    return true;
}

// The record, fixups applied, or a record that parses as Damaged when it cannot be read.
const std::uint8_t* NtfsVolume::Impl::LoadRecord(std::uint64_t recordNumber)
{
    if (recordNumber < batchFirst || recordNumber >= batchFirst + batchCount)
    {
        const std::uint64_t count = std::min(kBatchRecords, recordCount - recordNumber);
        batch.resize(kBatchRecords * recordSize);
        auto* records = reinterpret_cast<MFT_RECORD*>(batch.data());
        if (ntfs_mft_records_read(volume, recordNumber, static_cast<s64>(count), records) != 0)
        {
            // One unreadable stretch must not hide the rest of the batch: read singly,
            // and leave what cannot be read zeroed (no "FILE" magic).
            for (std::uint64_t i = 0; i < count; ++i)
            {
                std::uint8_t* one = batch.data() + i * recordSize;
                if (ntfs_mft_records_read(volume, recordNumber + i, 1, reinterpret_cast<MFT_RECORD*>(one)) !=
                    0)
                    std::memset(one, 0, recordSize);
            }
        }
        batchFirst = recordNumber;
        batchCount = count;
    }
    return batch.data() + (recordNumber - batchFirst) * recordSize;
}

// The first long name among all $FILE_NAME attributes of a record, its extension
// records included, or a DOS name where it has no other.
bool NtfsVolume::Impl::NameFromAttributeList(std::uint64_t recordNumber, std::u16string* name,
                                             std::uint64_t* parentFrn)
{
    ntfs_inode* inode = ntfs_inode_open(volume, recordNumber);
    if (inode == nullptr)
        return false;
    ntfs_attr_search_ctx* search = ntfs_attr_get_search_ctx(inode, nullptr);
    bool found = false;
    bool foundLong = false;
    while (search != nullptr && !foundLong &&
           ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, search) == 0)
    {
        const ATTR_RECORD* attr = search->attr;
        const std::size_t attrLength = attr->length;
        const std::size_t valueOffset = attr->value_offset;
        const std::size_t valueLength = attr->value_length;
        if (attr->non_resident || valueOffset > attrLength || valueLength > attrLength - valueOffset)
            continue;
        FileNameValue fileName;
        if (!ParseFileNameValue(reinterpret_cast<const std::uint8_t*>(attr) + valueOffset, valueLength,
                                &fileName) ||
            fileName.nameLength == 0 || (found && fileName.nameSpace == kDosNameSpace))
            continue;
        name->resize(fileName.nameLength);
        std::memcpy(name->data(), fileName.name, fileName.nameLength * 2);
        *parentFrn = fileName.parentFrn;
        found = true;
        foundLong = fileName.nameSpace != kDosNameSpace;
    }
    if (search != nullptr)
        ntfs_attr_put_search_ctx(search);
    ntfs_inode_close(inode);
    return found;
}

NtfsVolume::NtfsVolume(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

NtfsVolume::~NtfsVolume() = default;

std::unique_ptr<NtfsVolume> NtfsVolume::Open(const std::string& path, std::uint64_t offset,
                                             std::uint64_t length, DWORD* error)
{
    auto impl = std::make_unique<Impl>();
    impl->range.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl->range.fd < 0)
    {
        *error = ErrorFromErrno(errno);
        return nullptr;
    }
    struct stat status = {};
    if (::fstat(impl->range.fd, &status) != 0)
    {
        *error = ErrorFromErrno(errno);
        return nullptr;
    }
    const std::uint64_t size = DeviceSize(impl->range.fd, status);
    if (offset >= size)
    {
        *error = ERROR_UNRECOGNIZED_VOLUME;
        return nullptr;
    }
    impl->range.offset = offset;
    impl->range.length = length == 0 ? size - offset : std::min(length, size - offset);
    if (!impl->Mount(error))
        return nullptr;
    return std::unique_ptr<NtfsVolume>(new NtfsVolume(std::move(impl)));
}

DWORD NtfsVolume::SerialNumber() const
{
    return m_impl->serialNumber;
}

std::u16string NtfsVolume::Label() const
{
    return m_impl->label;
}

std::uint64_t NtfsVolume::SizeBytes() const
{
    // What Windows reports as a volume's total size: its clusters.
    return static_cast<std::uint64_t>(m_impl->volume->nr_clusters) << m_impl->volume->cluster_size_bits;
}

std::uint64_t NtfsVolume::RootFileReferenceNumber() const
{
    return m_impl->rootFrn;
}

BOOL NtfsVolume::EnumUsnData(const MFT_ENUM_DATA_V0& request, void* output, DWORD outputSize,
                             DWORD* bytesReturned)
{
    *bytesReturned = 0;
    if (output == nullptr || outputSize < sizeof(DWORDLONG))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::lock_guard guard(m_impl->lock);
    auto* out = static_cast<std::uint8_t*>(output);
    std::size_t written = sizeof(DWORDLONG);
    std::uint64_t recordNumber = request.StartFileReferenceNumber & kRecordNumberMask;
    std::u16string extensionName;
    for (; recordNumber < m_impl->recordCount; ++recordNumber)
    {
        const std::uint8_t* record = m_impl->LoadRecord(recordNumber);
        MftRecordInfo info;
        if (ParseMftRecord(record, m_impl->recordSize, &info) != MftRecordKind::Base ||
            info.usn < request.LowUsn || info.usn > request.HighUsn)
            continue;
        ChosenName name{info.parentFrn, record + info.nameOffset, info.nameLength};
        if ((!info.hasName || info.nameIsDosOnly) && info.hasAttributeList &&
            m_impl->NameFromAttributeList(recordNumber, &extensionName, &name.parentFrn))
        {
            name.units = reinterpret_cast<const std::uint8_t*>(extensionName.data());
            name.length = extensionName.size();
        }
        else if (!info.hasName)
            continue;
        const DWORD length = RecordLengthFor(name.length);
        if (length > outputSize - written)
        {
            if (written == sizeof(DWORDLONG))
            {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            break;
        }
        const std::uint64_t frn = (static_cast<std::uint64_t>(info.sequence) << 48) | recordNumber;
        WriteRecord(out + written, frn, info, name);
        written += length;
    }
    if (written == sizeof(DWORDLONG))
    {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    const DWORDLONG next = recordNumber;
    std::memcpy(out, &next, sizeof next);
    *bytesReturned = static_cast<DWORD>(written);
    return TRUE;
}

BOOL NtfsVolume::QueryOnDiskJournal(USN_JOURNAL_DATA_V0* journal)
{
    std::lock_guard guard(m_impl->lock);
    ntfs_inode* inode = ntfs_pathname_to_inode(m_impl->volume, nullptr, "$Extend/$UsnJrnl");
    if (inode == nullptr)
        return FALSE;
    static ntfschar maxName[] = {u'$', u'M', u'a', u'x'};
    static ntfschar jName[] = {u'$', u'J'};
    ntfs_attr* max = ntfs_attr_open(inode, AT_DATA, maxName, 4);
    ntfs_attr* j = ntfs_attr_open(inode, AT_DATA, jName, 2);
    std::uint64_t fields[kJournalMaxSize / 8] = {};
    const bool ok = max != nullptr && j != nullptr &&
                    ntfs_attr_pread(max, 0, kJournalMaxSize, fields) == static_cast<s64>(kJournalMaxSize);
    if (ok)
    {
        *journal = USN_JOURNAL_DATA_V0{};
        journal->MaximumSize = fields[0];
        journal->AllocationDelta = fields[1];
        journal->UsnJournalID = fields[2];
        journal->LowestValidUsn = static_cast<USN>(fields[3]);
        journal->FirstUsn = journal->LowestValidUsn;
        journal->NextUsn = j->data_size;
        journal->MaxUsn = kMaxUsn;
    }
    if (max != nullptr)
        ntfs_attr_close(max);
    if (j != nullptr)
        ntfs_attr_close(j);
    ntfs_inode_close(inode);
    return ok ? TRUE : FALSE;
}

USN NtfsVolume::HighestUsn()
{
    std::lock_guard guard(m_impl->lock);
    USN highest = 0;
    for (std::uint64_t recordNumber = 0; recordNumber < m_impl->recordCount; ++recordNumber)
    {
        MftRecordInfo info;
        if (ParseMftRecord(m_impl->LoadRecord(recordNumber), m_impl->recordSize, &info) ==
            MftRecordKind::Base)
            highest = std::max(highest, info.usn);
    }
    return highest;
}

BOOL NtfsVolume::GetAttributes(const std::string& insidePath, WIN32_FILE_ATTRIBUTE_DATA* data)
{
    std::lock_guard guard(m_impl->lock);
    ntfs_inode* inode = ntfs_pathname_to_inode(m_impl->volume, nullptr, insidePath.c_str());
    if (inode == nullptr)
    {
        SetLastError(errno == ENOENT || errno == 0 ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
        return FALSE;
    }
    *data = WIN32_FILE_ATTRIBUTE_DATA{};
    data->dwFileAttributes = AttributesOf(inode);
    data->ftCreationTime = FileTimeOf(inode->creation_time);
    data->ftLastAccessTime = FileTimeOf(inode->last_access_time);
    data->ftLastWriteTime = FileTimeOf(inode->last_data_change_time);
    if ((data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        if (ntfs_attr* unnamedData = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0))
        {
            const auto size = static_cast<std::uint64_t>(unnamedData->data_size);
            data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
            data->nFileSizeLow = static_cast<DWORD>(size);
            ntfs_attr_close(unnamedData);
        }
    }
    ntfs_inode_close(inode);
    return TRUE;
}
} // namespace orva::ntfs
