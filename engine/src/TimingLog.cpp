// The timing log: the process-wide logger and the Perf.log entry writer.
//
// The entry is formatted without the C locale (std::to_chars), so the decimal separator
// is a full stop even when the process runs under a locale with a decimal comma; its
// rounding is printf's "%0.3f" (both round the exact binary value to nearest).
//
// Linux has no share modes, so the exclusive open is a non-blocking exclusive flock on
// the open file: a second holder of such a lock makes the write fail with EWOULDBLOCK.
// The descriptor is close-on-exec: a child process started while an entry is written
// must not keep the lock alive after the write.
#include "orva/TimingLog.h"

#include "platform/Exceptions.h"
#include "platform/Thread.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace
{
constexpr char kFileName[] = "Perf.log";
constexpr char16_t kFileNameWide[] = u"Perf.log";
constexpr BYTE kByteOrderMark[] = {0xFF, 0xFE};

int CauseOf(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENOTDIR:
        return CFileException::fileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return CFileException::accessDenied;
    case EMFILE:
    case ENFILE:
        return CFileException::tooManyOpenFiles;
    case EWOULDBLOCK:
        return CFileException::sharingViolation;
    case ENOSPC:
    case EDQUOT:
        return CFileException::diskFull;
    case EIO:
        return CFileException::hardIO;
    default:
        return CFileException::genericException;
    }
}

[[noreturn]] void Raise(int error)
{
    throw CFileException(CauseOf(error), error, kFileNameWide);
}

// Closes the log on every way out, the exception of a failed write included.
class LogFile
{
public:
    LogFile()
    {
        m_fd = ::open(kFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0)
            Raise(errno);
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            Raise(errno);
    }
    ~LogFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    off_t SeekToEnd()
    {
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (end < 0)
            Raise(errno);
        return end;
    }

    void Write(const void* bytes, size_t length)
    {
        const auto* at = static_cast<const BYTE*>(bytes);
        while (length > 0)
        {
            const ssize_t written = ::write(m_fd, at, length);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                Raise(errno);
            // A write that takes nothing means the disk is full.
            if (written == 0)
                throw CFileException(CFileException::diskFull, ENOSPC, kFileNameWide);
            at += written;
            length -= static_cast<size_t>(written);
        }
    }

    void Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            Raise(errno);
    }

private:
    int m_fd;
};

std::u16string FormatEntry(LPCWSTR label, double seconds)
{
    char number[64];
    const auto [end, error] = std::to_chars(number, number + sizeof number, seconds, std::chars_format::fixed, 3);
    std::u16string text = u"[";
    text += label;
    text += u"]\r\n耗时: ";
    // to_chars writes only digits, '-', '.', "inf" or "nan": ASCII.
    if (error == std::errc())
        text.append(number, end);
    text += u" 秒\r\n\r\n";
    return text;
}
} // namespace

// The process-wide instance and the lock that guards its creation. The lock lives from
// library load to unload; the library requests the logger once while it loads.
struct TimingLogLifetime
{
    CRITICAL_SECTION lock;
    std::atomic<CTimingLog*> instance{nullptr};

    TimingLogLifetime() { InitializeCriticalSection(&lock); }
    ~TimingLogLifetime()
    {
        delete instance.load();
        DeleteCriticalSection(&lock);
    }

    static CTimingLog* Make() { return new CTimingLog(); }
};

namespace
{
TimingLogLifetime g_lifetime;
[[maybe_unused]] CTimingLog* const g_requestedAtLoad = CTimingLog::GetInstance();
} // namespace

CTimingLog* CTimingLog::GetInstance()
{
    CTimingLog* existing = g_lifetime.instance.load(std::memory_order_acquire);
    if (existing != nullptr)
        return existing;
    struct Locked
    {
        Locked() { EnterCriticalSection(&g_lifetime.lock); }
        ~Locked() { LeaveCriticalSection(&g_lifetime.lock); }
    } locked;
    existing = g_lifetime.instance.load(std::memory_order_relaxed);
    if (existing == nullptr)
    {
        existing = TimingLogLifetime::Make();
        g_lifetime.instance.store(existing, std::memory_order_release);
    }
    return existing;
}

void CTimingLog::WriteEntry(LPCWSTR label, LONGLONG start, LONGLONG end, LONGLONG frequency)
{
    const double seconds =
        (static_cast<double>(end) - static_cast<double>(start)) / static_cast<double>(frequency);
    LogFile file;
    const off_t position = file.SeekToEnd();
    const std::u16string text = FormatEntry(label, seconds);
    if (position == 0)
        file.Write(kByteOrderMark, sizeof kByteOrderMark);
    // char16_t units are little-endian on this platform, as the file wants them.
    static_assert(std::endian::native == std::endian::little);
    file.Write(text.data(), text.size() * sizeof(char16_t));
    file.Close();
}
