// Builds an NTFS image file from a list of entries, as an ordinary user: mkntfs lays out
// an empty file system in the file, then libntfs-3g creates the folders and files in it
// (no mount, no FUSE, no root). File contents are not stored: each file gets its size
// as a sparse unnamed $DATA, so a large tree makes a small image. Optionally the file
// system is placed in a partition (MBR or GPT) at 1 MiB, and a change journal
// ($Extend\$UsnJrnl) is written.
//
// Order: the entries are created in the order given (a folder's missing ancestors just
// before it), each in its parent folder, which is looked up in a map of the folders made
// so far rather than by path on the volume; folder times are set last, deepest first,
// since adding a child changes its folder's time.
#pragma once

#include "ImageEntries.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orva::mkimage
{
enum class PartitionStyle
{
    None, // the image is the file system itself
    Mbr,
    Gpt,
};

struct ImageOptions
{
    std::string output;
    std::uint64_t sizeBytes = 0; // of the file system; 0: computed from the number of entries
    std::string label;
    PartitionStyle partition = PartitionStyle::None;
    // Write $Extend\$UsnJrnl ($Max and a sparse $J). Entries without a USN then get
    // increasing USNs in creation order, and $J's size (the journal's NextUsn) lies above
    // every USN given.
    bool usnJournal = false;
    std::uint64_t journalId = 0; // 0: derived from the time of the build
    // The 64-bit volume serial number (Windows shows its low 32 bits). 0: random, so that
    // images built in the same second still differ (mkntfs seeds it from the clock).
    std::uint64_t serialNumber = 0;
};

// The default file-system size for `entryCount` entries: room for their MFT records and
// directory indexes, with the system files' share for a small volume.
std::uint64_t DefaultImageSize(std::size_t entryCount);

// Writes the image; an existing file at options.output is replaced. False with a
// message when mkntfs is missing or fails, an entry cannot be created (the file system
// is full, two entries have one path, ...) or the output cannot be written; a partly
// written output is then removed.
bool BuildImage(const ImageOptions& options, const std::vector<ImageEntry>& entries, std::string* error);
} // namespace orva::mkimage
