// Paths as callers write them ("E:\a\b", "/home/me\OrvaDesktop.ini") and the Linux paths
// they lead to; the XDG folders of the platform's own files.
#include "platform/Paths.h"

#include "platform/LastError.h"
#include "platform/TextConversion.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orva::platform
{
namespace
{
std::atomic<DriveResolver> g_driveResolver{nullptr};

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsDriveLetterPath(std::string_view path)
{
    if (path.size() < 2 || path[1] != ':' || (path.size() > 2 && !IsSeparator(path[2])))
        return false;
    return (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
}

// '\' becomes '/', and a run of separators becomes one ("/home/me\\x" or a current
// directory of "/" joined with "\x" both give single separators).
std::string NormaliseSeparators(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path)
    {
        if (!IsSeparator(c))
            out += c;
        else if (out.empty() || out.back() != '/')
            out += '/';
    }
    return out;
}

// The rest of a drive-letter path ("/a/../b", already normalised) with "." and ".."
// resolved as Windows resolves them, ".." at the root staying at the root. The resolver
// joins the rest to a mount point, where a ".." left in it would lead out of the volume
// ("E:\..\etc" to the folder above the mount point). A trailing separator is kept.
std::string ResolveDots(std::string_view rest)
{
    std::vector<std::string_view> names;
    size_t start = 0;
    bool dots = false;
    while (start < rest.size())
    {
        size_t end = rest.find('/', start);
        if (end == std::string_view::npos)
            end = rest.size();
        const std::string_view name = rest.substr(start, end - start);
        if (name == ".." || name == ".")
        {
            dots = true;
            if (name == ".." && !names.empty())
                names.pop_back();
        }
        else if (!name.empty())
        {
            names.push_back(name);
        }
        start = end + 1;
    }
    if (!dots)
        return std::string(rest);
    std::string out;
    for (std::string_view name : names)
        (out += '/') += name;
    if (out.empty() || rest.back() == '/')
        out += '/';
    return out;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

// Creates `path` and its missing parents with mode 0700 (the XDG base-directory rule).
void CreateFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1))
    {
        mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            return;
    }
}

std::string XdgFolder(const char* variable, const char* fallback)
{
    // XDG: a relative value is invalid and is ignored.
    const char* value = std::getenv(variable);
    std::string base = value && value[0] == '/' ? std::string(value) : HomeFolder() + fallback;
    std::string folder = NormaliseSeparators(base + "/orva");
    CreateFolders(folder);
    return folder;
}
} // namespace

void SetDriveResolver(DriveResolver resolver)
{
    g_driveResolver.store(resolver, std::memory_order_release);
}

std::string ToUtf8(std::u16string_view text)
{
    if (text.empty())
        return {};
    if (text.size() > INT_MAX / 3)
        throw std::length_error("text too long to convert");
    std::string out(text.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), int(out.size()), nullptr,
                                   nullptr));
    return out;
}

std::u16string ToUtf16(std::string_view text)
{
    if (text.empty())
        return {};
    if (text.size() > INT_MAX)
        throw std::length_error("text too long to convert");
    std::u16string out(text.size(), u'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), int(out.size())));
    return out;
}

std::optional<DrivePath> ResolvePath(std::u16string_view path)
{
    std::string utf8 = ToUtf8(path);
    // "\\?\E:\a" and "\\.\E:\a" name E:\a; any other path of these forms (a volume
    // GUID path, a device) is no file path.
    if (utf8.starts_with("\\\\?\\") || utf8.starts_with("\\\\.\\"))
    {
        utf8.erase(0, 4);
        if (!IsDriveLetterPath(utf8))
            return std::nullopt;
    }
    if (!IsDriveLetterPath(utf8))
        return DrivePath{DrivePath::Kind::Mounted, NormaliseSeparators(utf8), 0, {}};
    const DriveResolver resolver = g_driveResolver.load(std::memory_order_acquire);
    if (!resolver)
        return std::nullopt;
    const char letter = static_cast<char>(utf8[0] & ~0x20);
    return resolver(letter, ResolveDots(NormaliseSeparators(std::string_view(utf8).substr(2))));
}

std::optional<std::string> ToLinuxPath(std::u16string_view path)
{
    std::optional<DrivePath> resolved = ResolvePath(path);
    if (!resolved || resolved->kind != DrivePath::Kind::Mounted)
        return std::nullopt;
    return std::move(resolved->linuxPath);
}

std::string ConfigFolder()
{
    return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::string StateFolder()
{
    return XdgFolder("XDG_STATE_HOME", "/.local/state");
}

std::u16string CurrentDirectory()
{
    std::string buffer(256, '\0');
    while (!getcwd(buffer.data(), buffer.size()))
    {
        if (errno != ERANGE)
        {
            SetLastError(ErrorFromErrno(errno));
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return ToUtf16(buffer);
}
} // namespace orva::platform
