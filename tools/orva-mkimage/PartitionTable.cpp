#include "PartitionTable.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace orva::mkimage
{
namespace
{
constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kGptEntries = 128;
constexpr std::uint64_t kGptEntrySize = 128;
constexpr std::uint64_t kGptArraySectors = kGptEntries * kGptEntrySize / kSector; // 32
constexpr std::size_t kMbrTable = 446;
constexpr std::size_t kMbrDiskSignature = 440;
constexpr std::uint8_t kMbrTypeNtfs = 0x07;
constexpr std::uint8_t kMbrTypeProtective = 0xEE;
// Microsoft basic data, EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, in its on-disk byte order.
constexpr std::uint8_t kBasicDataType[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                             0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

template <typename T> void Put(std::uint8_t* at, T value)
{
    std::memcpy(at, &value, sizeof value); // little-endian host, as the formats are
}

void RandomGuid(std::uint8_t* guid)
{
    std::random_device random;
    for (int i = 0; i < 16; i += 4)
        Put<std::uint32_t>(guid + i, random());
    guid[7] = static_cast<std::uint8_t>((guid[7] & 0x0F) | 0x40); // version 4
    guid[8] = static_cast<std::uint8_t>((guid[8] & 0x3F) | 0x80); // variant 1
}

bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, std::string* error)
{
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t wrote = ::pwrite(fd, static_cast<const char*>(data) + done, size - done,
                                       static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
        {
            *error = std::string("cannot write the image: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// One MBR partition entry in LBA form; the CHS fields say "beyond CHS range".
void PutMbrEntry(std::uint8_t* sector, std::uint8_t type, std::uint64_t firstSector, std::uint64_t sectors)
{
    std::uint8_t* entry = sector + kMbrTable;
    const std::uint8_t chs[3] = {0xFE, 0xFF, 0xFF};
    std::memcpy(entry + 1, chs, 3);
    entry[4] = type;
    std::memcpy(entry + 5, chs, 3);
    Put<std::uint32_t>(entry + 8, static_cast<std::uint32_t>(firstSector));
    Put<std::uint32_t>(entry + 12, static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFF)));
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

void PutGptHeader(std::uint8_t* sector, std::uint64_t myLba, std::uint64_t alternateLba,
                  std::uint64_t entriesLba, std::uint64_t lastUsable, const std::uint8_t* diskGuid,
                  std::uint32_t entriesCrc)
{
    std::memcpy(sector, "EFI PART", 8);
    Put<std::uint32_t>(sector + 8, 0x00010000);
    Put<std::uint32_t>(sector + 12, 92);
    Put<std::uint64_t>(sector + 24, myLba);
    Put<std::uint64_t>(sector + 32, alternateLba);
    Put<std::uint64_t>(sector + 40, kGptArraySectors + 2);
    Put<std::uint64_t>(sector + 48, lastUsable);
    std::memcpy(sector + 56, diskGuid, 16);
    Put<std::uint64_t>(sector + 72, entriesLba);
    Put<std::uint32_t>(sector + 80, kGptEntries);
    Put<std::uint32_t>(sector + 84, kGptEntrySize);
    Put<std::uint32_t>(sector + 88, entriesCrc);
    Put<std::uint32_t>(sector + 16, 0);
    Put<std::uint32_t>(sector + 16, static_cast<std::uint32_t>(crc32(0, sector, 92)));
}
} // namespace

std::uint64_t DiskImageSize(std::uint64_t partitionBytes, bool gpt)
{
    return kPartitionOffset + partitionBytes + (gpt ? kPartitionOffset : 0);
}

bool WriteMbr(int fd, std::uint64_t partitionBytes, std::string* error)
{
    std::uint8_t sector[kSector] = {};
    std::random_device random;
    Put<std::uint32_t>(sector + kMbrDiskSignature, random());
    PutMbrEntry(sector, kMbrTypeNtfs, kPartitionOffset / kSector, partitionBytes / kSector);
    return WriteAt(fd, sector, sizeof sector, 0, error);
}

bool WriteGpt(int fd, std::uint64_t diskBytes, std::uint64_t partitionBytes, std::string* error)
{
    const std::uint64_t sectors = diskBytes / kSector;
    const std::uint64_t firstSector = kPartitionOffset / kSector;
    std::uint8_t mbr[kSector] = {};
    PutMbrEntry(mbr, kMbrTypeProtective, 1, sectors - 1);
    mbr[kMbrTable + 2] = 0x02; // CHS 0/0/2: sector 1
    mbr[kMbrTable + 1] = 0x00;
    mbr[kMbrTable + 3] = 0x00;

    std::vector<std::uint8_t> entries(kGptEntries * kGptEntrySize, 0);
    std::memcpy(entries.data(), kBasicDataType, 16);
    RandomGuid(entries.data() + 16);
    Put<std::uint64_t>(entries.data() + 32, firstSector);
    Put<std::uint64_t>(entries.data() + 40, firstSector + partitionBytes / kSector - 1);
    const char16_t name[] = u"Basic data partition";
    std::memcpy(entries.data() + 56, name, sizeof name - sizeof(char16_t));
    const auto entriesCrc =
        static_cast<std::uint32_t>(crc32(0, entries.data(), static_cast<uInt>(entries.size())));

    std::uint8_t diskGuid[16];
    RandomGuid(diskGuid);
    const std::uint64_t lastLba = sectors - 1;
    const std::uint64_t backupEntriesLba = lastLba - kGptArraySectors;
    const std::uint64_t lastUsable = backupEntriesLba - 1;
    std::uint8_t primary[kSector] = {};
    std::uint8_t backup[kSector] = {};
    PutGptHeader(primary, 1, lastLba, 2, lastUsable, diskGuid, entriesCrc);
    PutGptHeader(backup, lastLba, 1, backupEntriesLba, lastUsable, diskGuid, entriesCrc);
    return WriteAt(fd, mbr, kSector, 0, error) && WriteAt(fd, primary, kSector, kSector, error) &&
           WriteAt(fd, entries.data(), entries.size(), 2 * kSector, error) &&
           WriteAt(fd, entries.data(), entries.size(), backupEntriesLba * kSector, error) &&
           WriteAt(fd, backup, kSector, lastLba * kSector, error);
}

bool CopySparse(int sourceFd, int targetFd, std::uint64_t offset, std::string* error)
{
    std::vector<char> buffer(1024 * 1024);
    off_t position = 0;
    while (true)
    {
        const off_t dataStart = ::lseek(sourceFd, position, SEEK_DATA);
        if (dataStart < 0 && errno == ENXIO)
            return true; // no data after position
        if (dataStart < 0)
        {
            *error = std::string("cannot read the file system: ") + std::strerror(errno);
            return false;
        }
        const off_t dataEnd = ::lseek(sourceFd, dataStart, SEEK_HOLE);
        for (off_t at = dataStart; at < dataEnd;)
        {
            const auto chunk =
                static_cast<std::size_t>(std::min<off_t>(dataEnd - at, static_cast<off_t>(buffer.size())));
            const ssize_t got = ::pread(sourceFd, buffer.data(), chunk, at);
            if (got <= 0)
            {
                *error = std::string("cannot read the file system: ") + std::strerror(errno);
                return false;
            }
            if (!WriteAt(targetFd, buffer.data(), static_cast<std::size_t>(got),
                         offset + static_cast<std::uint64_t>(at), error))
                return false;
            at += got;
        }
        position = dataEnd;
    }
}
} // namespace orva::mkimage
