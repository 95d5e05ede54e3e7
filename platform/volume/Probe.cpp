#include "Probe.h"

#include "platform/Paths.h"

#include <blkid.h>

#include <cctype>
#include <cstring>

namespace orva::platform::volume
{
namespace
{
std::string LookupValue(blkid_probe probe, const char* name)
{
    const char* data = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || data == nullptr)
        return {};
    return std::string(data, strnlen(data, length));
}

std::uint32_t ParseHex32(std::string_view hex)
{
    std::uint32_t value = 0;
    for (char c : hex)
    {
        int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        value = value << 4 | static_cast<std::uint32_t>(digit & 0xF);
    }
    return value;
}

std::string HexDigitsOnly(std::string_view text)
{
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    return digits;
}
} // namespace

std::optional<FileSystemProbe> ProbeFileSystem(int fd, std::uint64_t offset, std::uint64_t length)
{
    blkid_probe probe = blkid_new_probe();
    if (probe == nullptr)
        return std::nullopt;
    std::optional<FileSystemProbe> found;
    if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset),
                               static_cast<blkid_loff_t>(length)) == 0)
    {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL |
                                                     BLKID_SUBLKS_VERSION | BLKID_SUBLKS_USAGE);
        // With partitions on, libblkid also reports the GPT entry of a partition device.
        blkid_probe_enable_partitions(probe, 1);
        blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
        if (blkid_do_safeprobe(probe) == 0 && LookupValue(probe, "USAGE") == "filesystem")
        {
            found = FileSystemProbe{LookupValue(probe, "TYPE"),
                                    LookupValue(probe, "VERSION"),
                                    LookupValue(probe, "UUID"),
                                    LookupValue(probe, "LABEL"),
                                    {}};
            if (LookupValue(probe, "PART_ENTRY_SCHEME") == "gpt")
                found->partitionGuid = LookupValue(probe, "PART_ENTRY_UUID");
        }
    }
    blkid_free_probe(probe);
    return found;
}

std::vector<PartitionProbe> ProbePartitions(int fd)
{
    std::vector<PartitionProbe> partitions;
    blkid_probe probe = blkid_new_probe();
    if (probe == nullptr)
        return partitions;
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0)
    {
        blkid_probe_enable_superblocks(probe, 0);
        blkid_probe_enable_partitions(probe, 1);
        blkid_partlist list = blkid_probe_get_partitions(probe);
        blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
        const bool gpt = table != nullptr && std::string_view(blkid_parttable_get_type(table)) == "gpt";
        int count = list ? blkid_partlist_numof_partitions(list) : 0;
        for (int i = 0; i < count; ++i)
        {
            blkid_partition entry = blkid_partlist_get_partition(list, i);
            PartitionProbe partition;
            partition.number = blkid_partition_get_partno(entry);
            // blkid counts in 512-byte sectors whatever the table's sector size.
            partition.offset = static_cast<std::uint64_t>(blkid_partition_get_start(entry)) * 512;
            partition.length = static_cast<std::uint64_t>(blkid_partition_get_size(entry)) * 512;
            if (const char* guid = blkid_partition_get_uuid(entry); gpt && guid != nullptr)
                partition.guid = guid;
            partitions.push_back(partition);
        }
    }
    blkid_free_probe(probe);
    return partitions;
}

std::u16string WindowsFileSystemName(const FileSystemProbe& probe)
{
    if (probe.type == "ntfs")
        return u"NTFS";
    if (probe.type == "exfat")
        return u"exFAT";
    if (probe.type == "vfat" || probe.type == "msdos")
        return probe.version == "FAT32" ? u"FAT32" : u"FAT";
    return ToUtf16(probe.type);
}

DWORD SerialFromUuid(const FileSystemProbe& probe)
{
    std::string digits = HexDigitsOnly(probe.uuid);
    if (probe.type == "ntfs" && digits.size() >= 8)
        return ParseHex32(std::string_view(digits).substr(digits.size() - 8));
    return ParseHex32(std::string_view(digits).substr(0, 8));
}

bool IsWindowsFileSystem(std::u16string_view fileSystem)
{
    return fileSystem == u"NTFS" || fileSystem == u"FAT32" || fileSystem == u"FAT" || fileSystem == u"exFAT";
}
} // namespace orva::platform::volume
