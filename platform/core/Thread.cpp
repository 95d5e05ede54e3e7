#include "platform/Thread.h"

#include "platform/LastError.h"

#include <cerrno>
#include <ctime>
#include <mutex>
#include <new>
#include <sched.h>
#include <unistd.h>

namespace
{
// The value Windows uses for the calling thread's pseudo-handle.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

constexpr int kMaskBits = 8 * sizeof(DWORD_PTR);

std::recursive_mutex* MutexOf(CRITICAL_SECTION* section)
{
    return std::launder(reinterpret_cast<std::recursive_mutex*>(section->storage));
}
static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::storage));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));
} // namespace

HANDLE GetCurrentThread()
{
    return kCurrentThread;
}

DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask)
{
    if (thread != kCurrentThread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    cpu_set_t previous;
    CPU_ZERO(&previous);
    // pid 0 names the calling thread for both calls.
    if (sched_getaffinity(0, sizeof previous, &previous) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return 0;
    }
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    for (int cpu = 0; cpu < kMaskBits; ++cpu)
        if (mask & (DWORD_PTR{1} << cpu))
            CPU_SET(cpu, &wanted);
    if (mask == 0 || sched_setaffinity(0, sizeof wanted, &wanted) != 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD_PTR previousMask = 0;
    for (int cpu = 0; cpu < kMaskBits; ++cpu)
        if (CPU_ISSET(cpu, &previous))
            previousMask |= DWORD_PTR{1} << cpu;
    return previousMask;
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(gettid());
}

void Sleep(DWORD milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR)
    {
    }
}

void InitializeCriticalSection(CRITICAL_SECTION* section)
{
    new (section->storage) std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    MutexOf(section)->~recursive_mutex();
}

void EnterCriticalSection(CRITICAL_SECTION* section)
{
    MutexOf(section)->lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* section)
{
    MutexOf(section)->unlock();
}
