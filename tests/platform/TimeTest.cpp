#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace
{
FILETIME FromTicks(std::uint64_t ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::string Format(const SYSTEMTIME& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d w%d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return text;
}

// Sets TZ for one test and restores it.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
    }
    ~ScopedTimeZone()
    {
        m_old ? setenv("TZ", m_old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000;

std::string LocalOf(std::int64_t unixSeconds, WORD milliseconds = 0)
{
    FILETIME fileTime = FileTimeFromUnix(unixSeconds, milliseconds * 1'000'000u);
    SYSTEMTIME utc{}, local{};
    EXPECT_TRUE(FileTimeToSystemTime(&fileTime, &utc));
    EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    return Format(local);
}
} // namespace

TEST(Time, FileTimeToCalendarFields)
{
    const struct
    {
        std::uint64_t ticks;
        const char* expected;
    } cases[] = {
        {0, "1601-01-01 00:00:00.000 w1"},
        {kUnixEpochTicks, "1970-01-01 00:00:00.000 w4"},
        {kUnixEpochTicks + 951'827'696'789'0000ull, "2000-02-29 12:34:56.789 w2"},
        {kUnixEpochTicks + 4'102'444'799'999'9999ull, "2099-12-31 23:59:59.999 w4"},
        {0x7FFF'FFFF'FFFF'FFFFull, "30828-09-14 02:48:05.477 w4"},
    };
    for (const auto& c : cases)
    {
        const FILETIME fileTime = FromTicks(c.ticks);
        SYSTEMTIME fields{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &fields)) << c.ticks;
        EXPECT_EQ(Format(fields), c.expected);
    }
    const FILETIME beyond = FromTicks(0x8000'0000'0000'0000ull);
    SYSTEMTIME fields{};
    EXPECT_FALSE(FileTimeToSystemTime(&beyond, &fields));
}

TEST(Time, UnixSecondsConvertBothWays)
{
    const FILETIME epoch = FileTimeFromUnix(0, 0);
    EXPECT_EQ(std::uint64_t{epoch.dwHighDateTime} << 32 | epoch.dwLowDateTime, kUnixEpochTicks);
    const FILETIME later = FileTimeFromUnix(1'700'000'000, 123'456'789);
    EXPECT_EQ((std::uint64_t{later.dwHighDateTime} << 32 | later.dwLowDateTime) - kUnixEpochTicks,
              17'000'000'001'234'567ull);
    EXPECT_EQ(UnixSecondsFromFileTime(later), 1'700'000'000);
    EXPECT_EQ(UnixSecondsFromFileTime(FromTicks(0)), -11'644'473'600);
    // Before 1601 there is no FILETIME: the earliest one is given.
    const FILETIME early = FileTimeFromUnix(-20'000'000'000, 0);
    EXPECT_EQ(early.dwLowDateTime | early.dwHighDateTime, 0u);
}

TEST(Time, LocalTimeFollowsTzAcrossDaylightSavingChanges)
{
    {
        // Central Europe: +1, +2 in summer, from the last Sunday of March 01:00 UTC to
        // the last Sunday of October 01:00 UTC.
        ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        const struct
        {
            std::int64_t unixSeconds;
            const char* expected;
        } cases[] = {
            {1'705'320'000, "2024-01-15 13:00:00.250 w1"}, // winter
            {1'721'044'800, "2024-07-15 14:00:00.250 w1"}, // summer
            {1'711'846'799, "2024-03-31 01:59:59.250 w0"}, // last second before the change
            {1'711'846'800, "2024-03-31 03:00:00.250 w0"}, // first second after it
            {1'729'990'799, "2024-10-27 02:59:59.250 w0"}, // still summer time
            {1'729'990'800, "2024-10-27 02:00:00.250 w0"}, // back to winter time
        };
        for (const auto& c : cases)
            EXPECT_EQ(LocalOf(c.unixSeconds, 250), c.expected) << c.unixSeconds;
    }
    {
        // A change of TZ between calls takes effect; the date moves back a day.
        ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(LocalOf(1'704'078'000), "2023-12-31 22:00:00.000 w0");
    }
    {
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(LocalOf(1'704'078'000), "2024-01-01 03:00:00.000 w1");
    }
}

TEST(Time, LocalTimeRefusesInvalidFieldsAndZones)
{
    SYSTEMTIME local{};
    const SYSTEMTIME february30{2024, 2, 0, 30, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(nullptr, &february30, &local));
    const SYSTEMTIME valid{2024, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &valid, &local));
    EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(reinterpret_cast<const TIME_ZONE_INFORMATION*>(&valid), &valid,
                                                 &local));
}
