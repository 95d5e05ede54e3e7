// Partition tables for disk images with one NTFS partition starting at 1 MiB: a classic
// MBR (type 0x07) or a GPT (Microsoft basic data) with its protective MBR and backup.
#pragma once

#include <cstdint>
#include <string>

namespace orva::mkimage
{
constexpr std::uint64_t kPartitionOffset = 1024 * 1024;

// Size of a disk image that holds a partition of `partitionBytes` (a multiple of 512):
// the 1 MiB in front, and for GPT 1 MiB behind for the backup table.
std::uint64_t DiskImageSize(std::uint64_t partitionBytes, bool gpt);

// Write the table of a disk (of `diskBytes`, for GPT's backup at its end) with one
// partition of `partitionBytes` at kPartitionOffset into the open file `fd`. False with
// a message on a write error.
bool WriteMbr(int fd, std::uint64_t partitionBytes, std::string* error);
bool WriteGpt(int fd, std::uint64_t diskBytes, std::uint64_t partitionBytes, std::string* error);

// Copies the data of `sourceFd` (its holes stay holes) into `targetFd` at `offset`.
bool CopySparse(int sourceFd, int targetFd, std::uint64_t offset, std::string* error);
} // namespace orva::mkimage
