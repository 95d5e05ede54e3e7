// What goes into an image: folders and files with their sizes, last-write times and
// (optionally) USNs, read from a list file or copied from a folder tree.
//
// List format, one entry a line, fields separated by tabs:
//     PATH [SIZE [MTIME [USN]]]
// PATH uses '/' between names and ends in '/' for a folder ("docs/", "docs/a.txt").
// SIZE is in bytes (0 for folders), MTIME the last-write time in Unix seconds, USN the
// $STANDARD_INFORMATION USN; an empty field keeps the default (size 0, the time of the
// build, USN 0 or the next journal USN). Folders above an entry need not be listed.
// Empty lines are skipped; a trailing CR is ignored.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace orva::mkimage
{
struct ImageEntry
{
    std::string path; // '/'-separated, relative to the root, no trailing '/'
    bool directory = false;
    std::uint64_t size = 0;
    std::optional<std::int64_t> mtime; // Unix seconds
    std::optional<std::int64_t> usn;
};

// Appends the entries of a list. False with a message naming the line on a malformed
// line or a name NTFS cannot hold (see CheckEntryPath).
bool ReadEntryList(std::istream& input, std::vector<ImageEntry>* entries, std::string* error);

// Appends the folders and regular files below `root` (not `root` itself), parents
// before children, names in byte order; sizes and mtimes from the files, contents not
// copied. Symbolic links, special files and entries whose names NTFS cannot hold (see
// CheckEntryPath; a folder with all below it) are counted in `skipped`, not copied.
bool ReadEntryTree(const std::string& root, std::vector<ImageEntry>* entries, std::uint64_t* skipped,
                   std::string* error);

// Empty when `path` is fit for an image, else what is wrong with it: an empty name, "."
// or "..", a name over 255 UTF-16 units, invalid UTF-8, or a character Windows does not
// allow in names (control characters, \ : * ? " < > |).
std::string CheckEntryPath(const std::string& path);
} // namespace orva::mkimage
