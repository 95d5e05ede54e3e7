#include "SearchOptions.h"

#include <charconv>

namespace orva::search
{
namespace
{
struct Option
{
    const char* name;
    const char* value; // null for a flag
    const char* help;
    std::string SearchOptions::*text;
    bool SearchOptions::*flag;
};

const Option kOptions[] = {
    {"--volume", "VOLUME",
     "index VOLUME: a drive letter (E:), a volume name (\\\\?\\Volume{...}\\) or an NTFS image\n"
     "      file, attached under a free drive letter while the search runs; repeat for more",
     nullptr, nullptr},
    {"--settings", "FILE", "index the volumes listed in FILE (default: OrvaDesktop.ini in the current\n"
                           "      directory, used when no --volume is given)",
     &SearchOptions::settings, nullptr},
    {"--count", nullptr, "print only the number of matching entries", nullptr, &SearchOptions::count},
    {"--long", nullptr, "print size and last-write time (local) before each path", nullptr,
     &SearchOptions::longFormat},
    {"--json", nullptr, "print one JSON object a line: path, name, folder, size, modified (UTC)", nullptr,
     &SearchOptions::json},
    {"--limit", "N", "print at most N entries", nullptr, nullptr},
    {"--quiet", nullptr, "no progress line on standard error", nullptr, &SearchOptions::quiet},
    {"--help", nullptr, "show this help", nullptr, &SearchOptions::help},
    {"--version", nullptr, "show the version", nullptr, &SearchOptions::version},
};

const Option* Find(const std::string& word)
{
    for (const Option& option : kOptions)
    {
        if (word == option.name)
            return &option;
    }
    return nullptr;
}

bool Store(SearchOptions& options, const Option& option, const std::string& value, std::string* error)
{
    if (option.text != nullptr)
        options.*option.text = value;
    else if (std::string(option.name) == "--volume")
        options.volumes.push_back(value);
    else
    {
        std::uint64_t limit = 0;
        const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), limit);
        if (failure != std::errc() || end != value.data() + value.size())
        {
            *error = "--limit " + value + ": not a number";
            return false;
        }
        options.limit = limit;
    }
    return true;
}
} // namespace

std::optional<SearchOptions> ParseOptions(int argc, char** argv, std::string* error)
{
    SearchOptions options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0)
        {
            positional.push_back(word);
            continue;
        }
        if (word == "--")
        {
            optionsEnded = true;
            continue;
        }
        const Option* option = Find(word);
        if (option == nullptr)
        {
            *error = "unknown option " + word + " (see --help)";
            return std::nullopt;
        }
        if (option->value == nullptr)
        {
            options.*option->flag = true;
            continue;
        }
        if (i + 1 >= argc)
        {
            *error = word + " needs " + option->value;
            return std::nullopt;
        }
        if (!Store(options, *option, argv[++i], error))
            return std::nullopt;
    }
    if (positional.size() > 1)
    {
        *error = "give one KEYWORD (quote it when it holds spaces)";
        return std::nullopt;
    }
    if (!positional.empty())
        options.keyword = positional[0];
    if (options.count && options.json)
    {
        *error = "--count and --json do not go together";
        return std::nullopt;
    }
    return options;
}

std::string HelpText()
{
    std::string text = "Usage: orva-search [options] [KEYWORD]\n\n"
                       "Indexes NTFS volumes and prints every file and folder whose name contains\n"
                       "KEYWORD, ignoring case (all entries without one): folders first, one full\n"
                       "path a line.\n\nOptions:\n";
    for (const Option& option : kOptions)
    {
        text += "  ";
        text += option.name;
        if (option.value != nullptr)
            text += std::string(" ") + option.value;
        text += std::string("\n      ") + option.help + "\n";
    }
    text += "\nExit status: 0 when something was found, 1 when nothing was, 2 on an error.\n"
            "Timing of the index build is appended to Perf.log in the current directory.\n";
    return text;
}
} // namespace orva::search
