#include "ImageEntries.h"

#include "platform/TextConversion.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace orva::mkimage
{
namespace
{
constexpr std::size_t kMaxNameUnits = 255;

// UTF-16 units of a UTF-8 name, or nullopt when it is not valid UTF-8.
std::optional<std::size_t> Utf16Units(const std::string& name)
{
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                            /*destination=*/nullptr, 0);
    if (units <= 0)
        return std::nullopt;
    return static_cast<std::size_t>(units);
}

std::string CheckName(const std::string& name)
{
    if (name.empty())
        return "empty name";
    if (name == "." || name == "..")
        return "name \"" + name + "\" is not allowed";
    for (const char c : name)
    {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\:*?\"<>|", c) != nullptr)
            return "name \"" + name + "\" holds a character Windows does not allow in names";
    }
    const std::optional<std::size_t> units = Utf16Units(name);
    if (!units)
        return "name is not valid UTF-8";
    if (*units > kMaxNameUnits)
        return "name \"" + name.substr(0, 40) + "...\" has " + std::to_string(*units) +
               " UTF-16 units, more than 255";
    return {};
}

template <typename T> bool ParseNumber(const std::string& text, std::optional<T>* value)
{
    if (text.empty())
        return true;
    T parsed{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc{} || end != text.data() + text.size())
        return false;
    *value = parsed;
    return true;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// One list line into an entry; empty text on success, else what is wrong.
std::string ParseLine(const std::string& line, ImageEntry* entry)
{
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() > 4)
        return "more than 4 tab-separated fields";
    entry->path = fields[0];
    entry->directory = !entry->path.empty() && entry->path.back() == '/';
    if (entry->directory)
        entry->path.pop_back();
    if (std::string problem = CheckEntryPath(entry->path); !problem.empty())
        return problem;
    std::optional<std::uint64_t> size;
    if (fields.size() > 1 && !ParseNumber(fields[1], &size))
        return "size \"" + fields[1] + "\" is not a number of bytes";
    if (size && *size != 0 && entry->directory)
        return "a folder has no size";
    entry->size = size.value_or(0);
    if (fields.size() > 2 && !ParseNumber(fields[2], &entry->mtime))
        return "time \"" + fields[2] + "\" is not a number of Unix seconds";
    if (fields.size() > 3 && !ParseNumber(fields[3], &entry->usn))
        return "USN \"" + fields[3] + "\" is not a number";
    if (entry->usn && *entry->usn < 0)
        return "a USN is not negative";
    return {};
}

bool WalkTree(const std::filesystem::path& folder, const std::string& prefix,
              std::vector<ImageEntry>* entries, std::uint64_t* skipped, std::string* error)
{
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec)
    {
        *error = folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
    {
        const std::filesystem::path full = folder / name;
        struct stat status = {};
        if (::lstat(full.c_str(), &status) != 0 || !(S_ISDIR(status.st_mode) || S_ISREG(status.st_mode)))
        {
            ++*skipped;
            continue;
        }
        ImageEntry entry;
        entry.path = prefix + name;
        // A Linux tree may hold names Windows cannot (a colon, a backslash): leave those
        // out, with what is below them, rather than refuse the whole tree.
        if (!CheckEntryPath(entry.path).empty())
        {
            ++*skipped;
            continue;
        }
        entry.directory = S_ISDIR(status.st_mode);
        entry.size = entry.directory ? 0 : static_cast<std::uint64_t>(status.st_size);
        entry.mtime = status.st_mtime;
        entries->push_back(entry);
        if (entry.directory && !WalkTree(full, entry.path + "/", entries, skipped, error))
            return false;
    }
    return true;
}
} // namespace

std::string CheckEntryPath(const std::string& path)
{
    if (path.empty())
        return "empty path";
    std::size_t start = 0;
    while (true)
    {
        const std::size_t slash = path.find('/', start);
        const std::string name =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (std::string problem = CheckName(name); !problem.empty())
            return problem;
        if (slash == std::string::npos)
            return {};
        start = slash + 1;
    }
}

bool ReadEntryList(std::istream& input, std::vector<ImageEntry>* entries, std::string* error)
{
    std::string line;
    for (std::size_t number = 1; std::getline(input, line); ++number)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        ImageEntry entry;
        if (std::string problem = ParseLine(line, &entry); !problem.empty())
        {
            *error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
        entries->push_back(std::move(entry));
    }
    return true;
}

bool ReadEntryTree(const std::string& root, std::vector<ImageEntry>* entries, std::uint64_t* skipped,
                   std::string* error)
{
    struct stat status = {};
    if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    {
        *error = root + ": not a folder";
        return false;
    }
    *skipped = 0;
    return WalkTree(root, "", entries, skipped, error);
}
} // namespace orva::mkimage
