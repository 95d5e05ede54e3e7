#include "platform/LastError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(LastError, IsKeptPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenOnOtherThread = 0xFFFFFFFF;
    std::thread([&] {
        seenOnOtherThread = GetLastError();
        SetLastError(ERROR_HANDLE_EOF);
    }).join();
    EXPECT_EQ(seenOnOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, MapsErrnoToWindowsCodes)
{
    const struct
    {
        int errnoValue;
        DWORD expected;
    } cases[] = {{ENOENT, ERROR_FILE_NOT_FOUND}, {EACCES, ERROR_ACCESS_DENIED}, {ENOSPC, ERROR_DISK_FULL},
                 {EAGAIN, ERROR_LOCK_VIOLATION}, {0, ERROR_SUCCESS}};
    for (const auto& c : cases)
        EXPECT_EQ(ErrorFromErrno(c.errnoValue), c.expected) << "errno " << c.errnoValue;
}
