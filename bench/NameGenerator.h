// NameGenerator: the deterministic tree of folders and files that the benchmark
// volumes hold.
//
// For `count` entries it makes count * 8 / 100 folders and the rest files, each with a
// name of at most 24 characters (about 19 UTF-8 bytes on average): close to 60% plain
// ASCII words, 20% with accented Latin (a few Greek and Cyrillic) letters, 20% Chinese,
// files with an extension. Folders nest at most six
// levels below the root; files land in any folder or (a few) in the root. Names are
// unique within their folder ignoring case, as NTFS wants them. The same count always
// gives the same tree, byte for byte, on every machine: the generator draws from its
// own 64-bit mixer, never from the standard library's distributions.
//
// Example: GenerateTree(5) gives 0 folders and 5 files such as "报告_2016.pdf" or
// "Größe-café.txt" in the root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orva::bench
{
struct GeneratedEntry
{
    std::string path; // '/'-separated from the root, no trailing '/'
    std::string name; // the last component of path
    bool folder = false;
    std::uint64_t size = 0; // bytes, 0 for folders
    std::int64_t mtime = 0; // Unix seconds
};

// Folders first (parents before children), then the files.
std::vector<GeneratedEntry> GenerateTree(std::size_t count);

// The benchmark's keywords by kind: each occurs in some name of any tree of 10,000
// entries or more, except the one labelled "absent", which occurs in none.
struct BenchKeyword
{
    const char* label; // for the results table
    const char* text;  // UTF-8
};
const std::vector<BenchKeyword>& BenchKeywords();
} // namespace orva::bench
