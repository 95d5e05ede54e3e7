// orva-mkimage: builds an NTFS image from a folder tree or a list of paths, as an
// ordinary user. Exit 0 when the image is written, 2 on any error.
#include "ImageBuilder.h"
#include "ImageEntries.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace
{
using namespace orva::mkimage;

struct Arguments
{
    std::string fromDir;
    std::string fromList;
    std::string size;
    std::string label;
    std::string partition;
    std::string journalId;
    std::string serial;
    bool usnJournal = false;
    bool help = false;
    std::vector<std::string> positional;
};

struct Option
{
    const char* name;
    const char* value; // null for a flag
    const char* help;
    std::string Arguments::*text;
    bool Arguments::*flag;
};

const Option kOptions[] = {
    {"--from-dir", "DIR", "copy the names, sizes and times of the folder tree below DIR", &Arguments::fromDir,
     nullptr},
    {"--from-list", "FILE",
     "read entries from FILE ('-' for standard input), one a line:\n"
     "      PATH[<tab>SIZE[<tab>MTIME[<tab>USN]]], PATH ending in '/' for a folder,\n"
     "      SIZE in bytes, MTIME in Unix seconds",
     &Arguments::fromList, nullptr},
    {"--size", "SIZE", "file-system size in bytes, or with K, M or G (default: from the number of entries)",
     &Arguments::size, nullptr},
    {"--label", "TEXT", "volume label", &Arguments::label, nullptr},
    {"--partition", "mbr|gpt", "put the file system in a partition at 1 MiB of an MBR or GPT disk image",
     &Arguments::partition, nullptr},
    {"--usn-journal", nullptr, "write $Extend\\$UsnJrnl; entries without a USN get increasing USNs", nullptr,
     &Arguments::usnJournal},
    {"--journal-id", "N", "the journal's identifier (default: the time of the build)", &Arguments::journalId,
     nullptr},
    {"--serial", "N", "the 64-bit volume serial number, decimal or 0x... (default: random)",
     &Arguments::serial, nullptr},
    {"--help", nullptr, "show this help", nullptr, &Arguments::help},
};

void PrintHelp()
{
    std::printf("Usage: orva-mkimage (--from-dir DIR | --from-list FILE) [options] IMAGE\n\n"
                "Builds an NTFS image file (no root or FUSE needed: mkntfs and libntfs-3g).\n"
                "File contents are not copied: files are sparse, with their sizes.\n\nOptions:\n");
    for (const Option& option : kOptions)
        std::printf("  %s%s%s\n      %s\n", option.name, option.value ? " " : "",
                    option.value ? option.value : "", option.help);
}

bool Parse(int argc, char** argv, Arguments* arguments, std::string* error)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string word = argv[i];
        if (word == "-h")
        {
            arguments->help = true;
            continue;
        }
        if (word.size() < 2 || word.compare(0, 2, "--") != 0)
        {
            arguments->positional.push_back(word);
            continue;
        }
        const Option* match = nullptr;
        for (const Option& option : kOptions)
            match = word == option.name ? &option : match;
        if (match == nullptr)
        {
            *error = "unknown option " + word + " (see --help)";
            return false;
        }
        if (match->flag != nullptr)
        {
            arguments->*(match->flag) = true;
            continue;
        }
        if (i + 1 >= argc)
        {
            *error = word + " needs a value: " + match->value;
            return false;
        }
        arguments->*(match->text) = argv[++i];
    }
    return true;
}

std::optional<std::uint64_t> ParseSize(const std::string& text)
{
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || value == 0)
        return std::nullopt;
    const std::string unit(end, text.data() + text.size());
    const std::uint64_t factor = unit.empty()  ? 1
                                 : unit == "K" ? 1ull << 10
                                 : unit == "M" ? 1ull << 20
                                 : unit == "G" ? 1ull << 30
                                               : 0;
    if (factor == 0 || value > UINT64_MAX / factor)
        return std::nullopt;
    return value * factor;
}

// A whole number above 0, decimal or with 0x in hexadecimal.
std::optional<std::uint64_t> ParseNumber(const std::string& text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    std::uint64_t value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    if (ec != std::errc{} || stop != end || value == 0)
        return std::nullopt;
    return value;
}

// The checked configuration, or a message.
bool Configure(const Arguments& arguments, ImageOptions* options, std::string* error)
{
    if (arguments.positional.size() != 1)
    {
        *error = "give exactly one IMAGE file to write (see --help)";
        return false;
    }
    if (arguments.fromDir.empty() == arguments.fromList.empty())
    {
        *error = "give either --from-dir DIR or --from-list FILE";
        return false;
    }
    options->output = arguments.positional[0];
    options->label = arguments.label;
    options->usnJournal = arguments.usnJournal;
    if (!arguments.size.empty())
    {
        const std::optional<std::uint64_t> size = ParseSize(arguments.size);
        if (!size)
        {
            *error = "--size " + arguments.size + ": not a size (bytes, or a number with K, M or G)";
            return false;
        }
        options->sizeBytes = *size;
    }
    if (arguments.partition == "mbr")
        options->partition = PartitionStyle::Mbr;
    else if (arguments.partition == "gpt")
        options->partition = PartitionStyle::Gpt;
    else if (!arguments.partition.empty())
    {
        *error = "--partition " + arguments.partition + ": use mbr or gpt";
        return false;
    }
    if (!arguments.journalId.empty())
    {
        const std::optional<std::uint64_t> id = ParseNumber(arguments.journalId);
        if (!id || !options->usnJournal)
        {
            *error = "--journal-id needs --usn-journal and a number above 0";
            return false;
        }
        options->journalId = *id;
    }
    if (!arguments.serial.empty())
    {
        const std::optional<std::uint64_t> serial = ParseNumber(arguments.serial);
        if (!serial)
        {
            *error = "--serial " + arguments.serial + ": not a number above 0";
            return false;
        }
        options->serialNumber = *serial;
    }
    return true;
}

bool ReadEntries(const Arguments& arguments, std::vector<ImageEntry>* entries, std::string* error)
{
    if (!arguments.fromDir.empty())
    {
        std::uint64_t skipped = 0;
        if (!ReadEntryTree(arguments.fromDir, entries, &skipped, error))
            return false;
        if (skipped > 0)
            std::fprintf(stderr, "orva-mkimage: %llu links, special files and names Windows cannot hold left out\n",
                         static_cast<unsigned long long>(skipped));
        return true;
    }
    if (arguments.fromList == "-")
        return ReadEntryList(std::cin, entries, error);
    std::ifstream list(arguments.fromList);
    if (!list)
    {
        *error = arguments.fromList + ": cannot be read";
        return false;
    }
    if (!ReadEntryList(list, entries, error))
    {
        *error = arguments.fromList + ", " + *error;
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    ImageOptions options;
    std::vector<ImageEntry> entries;
    std::string error;
    if (Parse(argc, argv, &arguments, &error) && arguments.help)
    {
        PrintHelp();
        return 0;
    }
    if (!error.empty() || !Configure(arguments, &options, &error) ||
        !ReadEntries(arguments, &entries, &error) || !BuildImage(options, entries, &error))
    {
        std::fprintf(stderr, "orva-mkimage: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s: %zu entries\n", options.output.c_str(), entries.size());
    return 0;
}
