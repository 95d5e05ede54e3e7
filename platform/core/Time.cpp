// FILETIME (100 ns ticks since 1601-01-01 UTC) to calendar fields, and UTC to the
// machine's local time. Calendar arithmetic is done on day numbers (proleptic Gregorian,
// as Windows counts), so it covers the whole FILETIME range whatever time_t can hold;
// only the local-time step goes through the C library, which knows the zone's rules.
#include "platform/Time.h"

#include "platform/LastError.h"

#include <climits>
#include <ctime>

namespace
{
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// From 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = 134'774;
constexpr std::int64_t kUnixEpochSeconds = kUnixEpochDays * kSecondsPerDay;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

bool IsValid(const SYSTEMTIME& time)
{
    static const unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time.wYear < 1601 || time.wYear > 30827 || time.wMonth < 1 || time.wMonth > 12)
        return false;
    const bool leap = (time.wYear % 4 == 0 && time.wYear % 100 != 0) || time.wYear % 400 == 0;
    const unsigned daysInMonth = kDaysInMonth[time.wMonth - 1] + (time.wMonth == 2 && leap);
    return time.wDay >= 1 && time.wDay <= daysInMonth && time.wHour < 24 && time.wMinute < 60 &&
           time.wSecond < 60 && time.wMilliseconds < 1000;
}

BOOL Fail()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
} // namespace

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime)
{
    const std::uint64_t ticks = std::uint64_t{fileTime->dwHighDateTime} << 32 | fileTime->dwLowDateTime;
    if (ticks > static_cast<std::uint64_t>(INT64_MAX))
        return Fail();
    const std::int64_t seconds = static_cast<std::int64_t>(ticks) / kTicksPerSecond;
    const std::int64_t daysSince1601 = seconds / kSecondsPerDay;
    const std::int64_t secondOfDay = seconds % kSecondsPerDay;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(daysSince1601 - kUnixEpochDays, year, month, day);
    systemTime->wYear = static_cast<WORD>(year);
    systemTime->wMonth = static_cast<WORD>(month);
    systemTime->wDay = static_cast<WORD>(day);
    // 1601-01-01 was a Monday; 0 is Sunday.
    systemTime->wDayOfWeek = static_cast<WORD>((daysSince1601 + 1) % 7);
    systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
    systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
    systemTime->wMilliseconds = static_cast<WORD>(static_cast<std::int64_t>(ticks) % kTicksPerSecond / 10'000);
    return TRUE;
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* timeZone, const SYSTEMTIME* universalTime,
                                     SYSTEMTIME* localTime)
{
    if (timeZone || !IsValid(*universalTime))
        return Fail();
    const time_t seconds = static_cast<time_t>(
        DaysFromCivil(universalTime->wYear, universalTime->wMonth, universalTime->wDay) * kSecondsPerDay +
        universalTime->wHour * 3600 + universalTime->wMinute * 60 + universalTime->wSecond);
    // localtime_r need not look at TZ again after the first call; tzset makes a changed
    // TZ count.
    tzset();
    tm local{};
    if (!localtime_r(&seconds, &local) || local.tm_year + 1900 < 1601 || local.tm_year + 1900 > 30827)
        return Fail();
    localTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    localTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    localTime->wDay = static_cast<WORD>(local.tm_mday);
    localTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    localTime->wHour = static_cast<WORD>(local.tm_hour);
    localTime->wMinute = static_cast<WORD>(local.tm_min);
    localTime->wSecond = static_cast<WORD>(local.tm_sec);
    localTime->wMilliseconds = universalTime->wMilliseconds;
    return TRUE;
}

FILETIME FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds)
{
    std::int64_t ticks = 0;
    if (seconds >= -kUnixEpochSeconds)
    {
        const std::int64_t since1601 = seconds + kUnixEpochSeconds;
        ticks = since1601 > (INT64_MAX - 9'999'999) / kTicksPerSecond
                    ? INT64_MAX
                    : since1601 * kTicksPerSecond + static_cast<std::int64_t>(nanoseconds % 1'000'000'000 / 100);
    }
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32)};
}

std::int64_t UnixSecondsFromFileTime(const FILETIME& fileTime)
{
    const std::uint64_t ticks = std::uint64_t{fileTime.dwHighDateTime} << 32 | fileTime.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds;
}
