// The timing log: one entry per timed phase of an index build, appended to Perf.log in
// the current directory.
//
// Perf.log is UTF-16LE text. An empty or missing file first gets the byte order mark
// FF FE; each entry is "[label]\r\n耗时: 2.500 秒\r\n\r\n", the duration with three
// decimals and a full stop whatever the process locale. The file is opened, locked
// (exclusively, without waiting), appended to and closed for every entry, so a second
// writer (another Orva process, or anyone holding a lock on the file) makes the write
// fail rather than interleave.
//
// Failure: WriteEntry raises CFileException carrying errno and the file name "Perf.log";
// the file is closed as the exception passes, and what was written stays written.
#pragma once

#include "orva/OrvaCoreApi.h"
#include "platform/WinTypes.h"

class ORVACORE_API CTimingLog
{
public:
    // The process-wide logger, created on first request under a lock (the library also
    // requests it once when it is loaded); deleted when the library is unloaded.
    static CTimingLog* GetInstance();

    // Appends the entry for a phase that ran from `start` to `end` counter ticks, at
    // `frequency` ticks per second (QueryPerformanceCounter units).
    static void WriteEntry(LPCWSTR label, LONGLONG start, LONGLONG end, LONGLONG frequency);

private:
    CTimingLog() = default;
    friend struct TimingLogLifetime;
};
