// orva-bench-names: writes the benchmark tree of COUNT entries as an orva-mkimage list
// (PATH<tab>SIZE<tab>MTIME, folders ending in '/') and as a plain list of the names, one
// a line, for grep. Prints the entry, folder and name-byte counts. Exit 2 on error.
#include "NameGenerator.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <string_view>

int main(int argc, char** argv)
{
    std::size_t count = 0;
    const std::string_view countText = argc == 4 ? argv[1] : "";
    if (argc != 4 ||
        std::from_chars(countText.data(), countText.data() + countText.size(), count).ec != std::errc() ||
        count == 0)
    {
        std::fprintf(stderr, "Usage: orva-bench-names COUNT LIST-FILE NAMES-FILE\n");
        return 2;
    }
    std::ofstream list(argv[2], std::ios::binary);
    std::ofstream names(argv[3], std::ios::binary);
    if (!list || !names)
    {
        std::fprintf(stderr, "orva-bench-names: cannot write %s or %s\n", argv[2], argv[3]);
        return 2;
    }
    std::size_t folders = 0;
    std::size_t nameBytes = 0;
    for (const orva::bench::GeneratedEntry& entry : orva::bench::GenerateTree(count))
    {
        list << entry.path << (entry.folder ? "/" : "") << '\t' << entry.size << '\t' << entry.mtime << '\n';
        names << entry.name << '\n';
        folders += entry.folder ? 1 : 0;
        nameBytes += entry.name.size();
    }
    list.close();
    names.close();
    if (!list || !names)
    {
        std::fprintf(stderr, "orva-bench-names: writing %s or %s failed\n", argv[2], argv[3]);
        return 2;
    }
    std::printf("entries %zu folders %zu name-bytes %zu\n", count, folders, nameBytes);
    return 0;
}
