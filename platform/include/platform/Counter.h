// The high-resolution performance counter: the monotonic clock, in nanoseconds.
#pragma once

#include "platform/WinTypes.h"

BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
