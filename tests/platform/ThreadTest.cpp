#include "platform/Counter.h"
#include "platform/LastError.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <thread>

TEST(Counter, IsMonotonicNanoseconds)
{
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1'000'000'000);
    LARGE_INTEGER before{}, after{};
    QueryPerformanceCounter(&before);
    Sleep(20);
    QueryPerformanceCounter(&after);
    const double seconds = double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart);
    EXPECT_GE(seconds, 0.019);
    EXPECT_LT(seconds, 2.0);
}

TEST(Thread, AffinityBindsOnlyTheCallingThreadAndReturnsPreviousMask)
{
    cpu_set_t mainBefore;
    ASSERT_EQ(sched_getaffinity(0, sizeof mainBefore, &mainBefore), 0);
    std::thread([] {
        cpu_set_t original;
        ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
        DWORD_PTR originalMask = 0;
        for (int cpu = 0; cpu < 64; ++cpu)
            if (CPU_ISSET(cpu, &original))
                originalMask |= DWORD_PTR{1} << cpu;

        EXPECT_EQ(SetThreadAffinityMask(GetCurrentThread(), 1), originalMask);
        cpu_set_t bound;
        sched_getaffinity(0, sizeof bound, &bound);
        EXPECT_EQ(CPU_COUNT(&bound), 1);
        EXPECT_TRUE(CPU_ISSET(0, &bound));
        EXPECT_EQ(SetThreadAffinityMask(GetCurrentThread(), originalMask), 1u);

        // A processor this machine lacks.
        if (CPU_COUNT(&original) < 64)
        {
            EXPECT_EQ(SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << 63), 0u);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        }
        int other = 0;
        EXPECT_EQ(SetThreadAffinityMask(&other, 1), 0u);
    }).join();

    // The test's main thread kept its own mask.
    cpu_set_t mainAfter;
    sched_getaffinity(0, sizeof mainAfter, &mainAfter);
    EXPECT_TRUE(CPU_EQUAL(&mainBefore, &mainAfter));
}

TEST(Thread, ThreadIdsDiffer)
{
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, GetCurrentThreadId());
}

TEST(Thread, CriticalSectionIsRecursiveAndExcludesOtherThreads)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i)
        {
            EnterCriticalSection(&section);
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
            LeaveCriticalSection(&section);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&section);
}
