#include "platform/Counter.h"

#include <ctime>

namespace
{
constexpr LONGLONG kNanosecondsPerSecond = 1'000'000'000;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = kNanosecondsPerSecond;
    return TRUE;
}
