// The profile (INI) functions.
//
// Every call reads the whole file into lines; a write changes the lines and writes the
// file back whole to a new file beside it, which is then renamed over the old one, so a
// reader (in this process or another) sees the old file or the new one, never a mix.
// The lines of the last file read are kept while the file is unchanged on disk (same
// inode, size and times): callers read a file key by key (the drive map up to four keys
// for each of 26 letters), and a large file would otherwise be read and parsed again
// for every key.
// Lines that are neither a section header nor a key (comments, blank lines, stray
// text) are kept as they are.
//
// Example: writing Orva/VolumeCount=1 to a missing file gives "[Orva]\nVolumeCount=1\n";
// then writing VOLUME_1/SerialNumber=0x1 appends "[VOLUME_1]\nSerialNumber=0x1\n"; then
// writing orva/Other=x inserts "Other=x" after "VolumeCount=1", at the end of [Orva].
#include "platform/Profile.h"

#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/TextConversion.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using orva::platform::ToLinuxPath;
using orva::platform::ToUtf16;
using orva::platform::ToUtf8;

namespace
{
struct IniLine
{
    enum class Kind
    {
        Other,
        Section,
        Key
    };
    std::u16string text;
    Kind kind = Kind::Other;
    std::u16string name;  // the section or key name, trimmed
    std::u16string value; // a key's value, trimmed and unquoted
};

struct IniFile
{
    std::vector<IniLine> lines;
    std::string newline = "\n"; // kept from the file: "\r\n" when its first line ends so
};

// Writes from threads of this process are serialised, so two read-change-write cycles do
// not lose each other's change.
std::mutex g_writeLock;

// The last file read, with what identifies its contents on disk.
struct CachedFile
{
    std::string path;
    struct stat info{};
    std::shared_ptr<const IniFile> file;
};
std::mutex g_cacheLock;
CachedFile g_cache; // Guarded by g_cacheLock.

// Times of a file changed within this span may not have moved on a file system with
// coarse timestamps, so such a file is not kept.
constexpr long kSettledNanoseconds = 100'000'000;
std::atomic<unsigned> g_tempCounter{0};

constexpr size_t npos = std::u16string::npos;

std::u16string Trim(std::u16string_view text)
{
    const size_t begin = text.find_first_not_of(u" \t");
    if (begin == npos)
        return {};
    return std::u16string(text.substr(begin, text.find_last_not_of(u" \t") - begin + 1));
}

bool SameName(const std::u16string& a, LPCWSTR b)
{
    return lstrcmpiW(a.c_str(), b) == 0;
}

IniLine ParseLine(std::u16string text)
{
    IniLine line;
    const std::u16string trimmed = Trim(text);
    if (!trimmed.empty() && trimmed[0] == u'[')
    {
        line.kind = IniLine::Kind::Section;
        line.name = Trim(std::u16string_view(trimmed).substr(1, trimmed.find(u']') - 1));
    }
    else if (const size_t equals = trimmed.find(u'='); !trimmed.empty() && trimmed[0] != u';' && equals != npos)
    {
        line.kind = IniLine::Kind::Key;
        line.name = Trim(std::u16string_view(trimmed).substr(0, equals));
        line.value = Trim(std::u16string_view(trimmed).substr(equals + 1));
        const char16_t quote = line.value.empty() ? 0 : line.value.front();
        if (line.value.size() >= 2 && (quote == u'"' || quote == u'\'') && line.value.back() == quote)
            line.value = line.value.substr(1, line.value.size() - 2);
    }
    line.text = std::move(text);
    return line;
}

std::u16string DecodeContent(const std::string& bytes)
{
    if (bytes.starts_with("\xFF\xFE"))
    {
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                            static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        return text;
    }
    return ToUtf16(bytes.starts_with("\xEF\xBB\xBF") ? std::string_view(bytes).substr(3) : std::string_view(bytes));
}

IniFile ParseContent(const std::string& bytes)
{
    IniFile file;
    const std::u16string text = DecodeContent(bytes);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(u'\n', start);
        if (end == npos)
            end = text.size();
        const bool crlf = end > start && text[end - 1] == u'\r';
        if (file.lines.empty() && crlf)
            file.newline = "\r\n";
        file.lines.push_back(ParseLine(text.substr(start, end - start - (crlf ? 1 : 0))));
        start = end + 1;
    }
    return file;
}

bool SameContents(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool Settled(const struct stat& info)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    return nanoseconds(now) - nanoseconds(info.st_ctim) > kSettledNanoseconds;
}

// Reads the file into lines. A missing file is an empty file; any other failure to read
// sets the last error and returns null.
std::shared_ptr<const IniFile> Load(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return std::make_shared<const IniFile>();
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    struct stat info{};
    const bool known = fstat(fd, &info) == 0;
    if (known)
    {
        std::lock_guard lock(g_cacheLock);
        if (g_cache.file && g_cache.path == path && SameContents(g_cache.info, info))
        {
            close(fd);
            return g_cache.file;
        }
    }
    std::string bytes;
    char chunk[65536];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))
        bytes.append(chunk, got > 0 ? size_t(got) : 0);
    const int readError = got < 0 ? errno : 0;
    close(fd);
    if (readError)
    {
        SetLastError(ErrorFromErrno(readError));
        return nullptr;
    }
    auto file = std::make_shared<const IniFile>(ParseContent(bytes));
    if (known && Settled(info))
    {
        std::lock_guard lock(g_cacheLock);
        g_cache = CachedFile{path, info, file};
    }
    return file;
}

size_t FindSection(const IniFile& file, LPCWSTR section)
{
    for (size_t i = 0; i < file.lines.size(); ++i)
        if (file.lines[i].kind == IniLine::Kind::Section && SameName(file.lines[i].name, section))
            return i;
    return npos;
}

// One past the last line of the section whose header is at `header`.
size_t SectionEnd(const IniFile& file, size_t header)
{
    size_t end = header + 1;
    while (end < file.lines.size() && file.lines[end].kind != IniLine::Kind::Section)
        ++end;
    return end;
}

size_t FindKey(const IniFile& file, size_t header, LPCWSTR key)
{
    for (size_t i = header + 1, end = SectionEnd(file, header); i < end; ++i)
        if (file.lines[i].kind == IniLine::Kind::Key && SameName(file.lines[i].name, key))
            return i;
    return npos;
}

void SetKey(IniFile& file, LPCWSTR section, LPCWSTR key, LPCWSTR value)
{
    IniLine line = ParseLine(std::u16string(key) + u"=" + value);
    const size_t header = FindSection(file, section);
    if (header == npos)
    {
        file.lines.push_back(ParseLine(u"[" + std::u16string(section) + u"]"));
        file.lines.push_back(std::move(line));
        return;
    }
    if (const size_t existing = FindKey(file, header, key); existing != npos)
    {
        file.lines[existing] = std::move(line);
        return;
    }
    // After the section's last line that is not blank, so blank lines that separate it
    // from the next section stay where they are.
    size_t at = SectionEnd(file, header);
    while (at > header + 1 && Trim(file.lines[at - 1].text).empty())
        --at;
    file.lines.insert(file.lines.begin() + at, std::move(line));
}

void DeleteKey(IniFile& file, LPCWSTR section, LPCWSTR key)
{
    const size_t header = FindSection(file, section);
    if (header == npos)
        return;
    if (const size_t existing = FindKey(file, header, key); existing != npos)
        file.lines.erase(file.lines.begin() + existing);
}

void DeleteSection(IniFile& file, LPCWSTR section)
{
    const size_t header = FindSection(file, section);
    if (header != npos)
        file.lines.erase(file.lines.begin() + header, file.lines.begin() + SectionEnd(file, header));
}

bool WriteAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();)
    {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += size_t(wrote);
    }
    return true;
}

// Writes the lines to a new file beside `path` and renames it over `path`.
bool Store(const std::string& path, const IniFile& file)
{
    std::u16string text;
    for (const IniLine& line : file.lines)
        text += line.text + ToUtf16(file.newline);
    const std::string bytes = ToUtf8(text);

    // Replace the target of a symbolic link, not the link.
    char* real = realpath(path.c_str(), nullptr);
    const std::string target = real ? std::string(real) : path;
    std::free(real);
    const std::string temporary =
        target + ".tmp." + std::to_string(getpid()) + "." + std::to_string(g_tempCounter.fetch_add(1));

    struct stat old{};
    const bool existed = stat(target.c_str(), &old) == 0;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    bool ok = (!existed || fchmod(fd, old.st_mode & 07777) == 0) && WriteAll(fd, bytes) && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok)
    {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0)
    {
        ok = false;
        error = errno;
    }
    if (!ok)
    {
        unlink(temporary.c_str());
        SetLastError(ErrorFromErrno(error));
    }
    return ok;
}

DWORD CopyOut(std::u16string_view text, LPWSTR returned, DWORD size)
{
    const DWORD copied = static_cast<DWORD>(std::min<size_t>(text.size(), size - 1));
    text.copy(returned, copied);
    returned[copied] = u'\0';
    return copied;
}
} // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR returned, DWORD size,
                               LPCWSTR fileName)
{
    if (!returned || size == 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!section || !key || !fileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        returned[0] = u'\0';
        return 0;
    }
    // As on Windows, trailing blanks of the default are dropped.
    std::u16string_view fallback = defaultValue ? defaultValue : u"";
    fallback = fallback.substr(0, fallback.find_last_not_of(u' ') + 1);

    const std::optional<std::string> path = ToLinuxPath(fileName);
    const std::shared_ptr<const IniFile> file = path ? Load(*path) : nullptr;
    if (!file)
        return CopyOut(fallback, returned, size);
    const size_t header = FindSection(*file, section);
    const size_t line = header == npos ? npos : FindKey(*file, header, key);
    return CopyOut(line == npos ? fallback : std::u16string_view(file->lines[line].value), returned, size);
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName)
{
    if (!section || !fileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::optional<std::string> path = ToLinuxPath(fileName);
    if (!path)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // A line break would end the line early and let the rest pose as a key or section.
    for (LPCWSTR text : {section, key, value})
        if (text && std::u16string_view(text).find_first_of(u"\r\n") != npos)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    std::lock_guard lock(g_writeLock);
    const std::shared_ptr<const IniFile> loaded = Load(*path);
    if (!loaded)
        return FALSE;
    IniFile file = *loaded;
    if (!key)
        DeleteSection(file, section);
    else if (!value)
        DeleteKey(file, section, key);
    else
        SetKey(file, section, key, value);
    return Store(*path, file) ? TRUE : FALSE;
}
