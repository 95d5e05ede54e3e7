// Perf.log: byte-exact entries, the byte order mark, the decimal separator under a
// decimal-comma locale, and a log held by another writer.
#include "EngineTestSupport.h"

#include "orva/TimingLog.h"
#include "platform/Exceptions.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

using orva::enginetest::EngineTest;

namespace
{
std::vector<BYTE> Utf16Le(std::u16string_view text)
{
    std::vector<BYTE> bytes;
    for (char16_t unit : text)
    {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

std::vector<BYTE> Concat(std::vector<BYTE> a, const std::vector<BYTE>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<BYTE> kBom{0xFF, 0xFE};

void WriteFile(const char* name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}
} // namespace

TEST_F(EngineTest, TimingEntriesAreExactUtf16WithOneByteOrderMark)
{
    struct Case
    {
        const char* before; // nullptr: no file
        LONGLONG start, end, frequency;
        std::u16string_view seconds;
    };
    const Case cases[] = {
        {nullptr, 0, 2500, 1000, u"2.500"},
        {"", 7, 7, 1000000000, u"0.000"},
        {"xy", 0, 1234567, 1000000, u"1.235"},
        {nullptr, 100, 0, 1000, u"-0.100"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.before ? c.before : "(missing)");
        ::unlink("Perf.log");
        if (c.before != nullptr)
            WriteFile("Perf.log", c.before);
        CTimingLog::WriteEntry(u"文件名称排序", c.start, c.end, c.frequency);
        const std::vector<BYTE> entry =
            Utf16Le(u"[文件名称排序]\r\n耗时: " + std::u16string(c.seconds) + u" 秒\r\n\r\n");
        std::vector<BYTE> expected;
        if (c.before == nullptr || *c.before == '\0')
            expected = Concat(kBom, entry);
        else
            expected = Concat({c.before, c.before + std::strlen(c.before)}, entry);
        EXPECT_EQ(PerfLogBytes(), expected);
    }
}

TEST_F(EngineTest, SecondEntryIsAppendedWithoutByteOrderMark)
{
    CTimingLog::WriteEntry(u"a", 0, 1, 1);
    CTimingLog::WriteEntry(u"b", 0, 3, 2);
    EXPECT_EQ(PerfLogBytes(), Concat(kBom, Utf16Le(u"[a]\r\n耗时: 1.000 秒\r\n\r\n[b]\r\n耗时: 1.500 秒\r\n\r\n")));
}

// The process runs under a locale whose decimal separator is a comma; the log keeps the
// full stop.
TEST_F(EngineTest, DecimalSeparatorIsAFullStopUnderACommaLocale)
{
    const std::string locales = std::filesystem::current_path() / "locales";
    std::filesystem::create_directory(locales);
    const std::string command = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "localedef cannot make de_DE.UTF-8 (package locales missing)";
    ::setenv("LOCPATH", locales.c_str(), 1);
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%0.3f", 2.5);
    EXPECT_STREQ(probe, "2,500"); // the locale is in force

    CTimingLog::WriteEntry(u"x", 0, 5, 2);
    std::setlocale(LC_ALL, previous.c_str());
    ::unsetenv("LOCPATH");
    EXPECT_EQ(PerfLogBytes(), Concat(kBom, Utf16Le(u"[x]\r\n耗时: 2.500 秒\r\n\r\n")));
}

TEST_F(EngineTest, LockedLogRaisesFileExceptionAndKeepsItsContent)
{
    WriteFile("Perf.log", "keep");
    const int holder = ::open("Perf.log", O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    try
    {
        CTimingLog::WriteEntry(u"x", 0, 1, 1);
        ADD_FAILURE() << "no exception";
    }
    catch (const CFileException& error)
    {
        EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
        EXPECT_NE(error.m_lOsError, 0);
        EXPECT_EQ(error.m_strFileName, u"Perf.log");
    }
    ::close(holder);
    EXPECT_EQ(PerfLogBytes(), (std::vector<BYTE>{'k', 'e', 'e', 'p'}));
    // The failed write closed its descriptor: the lock is free again.
    CTimingLog::WriteEntry(u"x", 0, 1, 1);
    EXPECT_EQ(PerfLogBytes().size(), 4 + Utf16Le(u"[x]\r\n耗时: 1.000 秒\r\n\r\n").size());
}

TEST_F(EngineTest, LoggerIsOneProcessWideObject)
{
    CTimingLog* first = CTimingLog::GetInstance();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(CTimingLog::GetInstance(), first);
}
