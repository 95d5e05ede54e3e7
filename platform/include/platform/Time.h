// Time conversion. FILETIME counts 100 ns since 1601-01-01 UTC; the local time zone is
// the machine's, and TZ is honoured.
#pragma once

#include "platform/WinTypes.h"

struct TIME_ZONE_INFORMATION;

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
// Only a null time zone (the current one) is supported.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* timeZone, const SYSTEMTIME* universalTime,
                                     SYSTEMTIME* localTime);

// Seconds since the Unix epoch (with nanoseconds) to FILETIME and back.
FILETIME FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
std::int64_t UnixSecondsFromFileTime(const FILETIME& fileTime);
