// The command line of orva-search, parsed into a plain struct. Each option is defined
// once, with its help text, in SearchOptions.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva::search
{
struct SearchOptions
{
    std::string keyword;              // empty: every entry
    std::vector<std::string> volumes; // --volume, in the order given
    std::string settings;             // --settings; empty: ./OrvaDesktop.ini
    bool count = false;
    bool longFormat = false;
    bool json = false;
    bool quiet = false;
    std::optional<std::uint64_t> limit;
    bool help = false;
    bool version = false;
};

// Parses argv; nothing, with a message in `error`, for a bad command line.
std::optional<SearchOptions> ParseOptions(int argc, char** argv, std::string* error);
std::string HelpText();
} // namespace orva::search
