// Time conversion. FILETIME counts 100 ns since 1601-01-01 UTC; the local time zone is
// the machine's, and TZ is honoured.
#pragma once

#include "platform/WinTypes.h"

struct TIME_ZONE_INFORMATION;

// FALSE (ERROR_INVALID_PARAMETER) for a time above 0x7FFFFFFFFFFFFFFF, as on Windows.
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
// Only a null time zone (the current one) is supported. FALSE (ERROR_INVALID_PARAMETER)
// for a zone, or for fields that are not a date and time of the years 1601 to 30827
// (wDayOfWeek is not read). Milliseconds are carried over.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* timeZone, const SYSTEMTIME* universalTime,
                                     SYSTEMTIME* localTime);

// Seconds since the Unix epoch (with nanoseconds) to FILETIME and back. Times before 1601
// give FILETIME 0; nanoseconds below 100 are dropped.
FILETIME FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
std::int64_t UnixSecondsFromFileTime(const FILETIME& fileTime);
