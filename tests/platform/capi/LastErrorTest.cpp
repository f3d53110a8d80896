#include "wincrypt.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(LastError, KeptPerThread)
{
    SetLastError(0x1234);
    DWORD seenByNewThread = 0xFFFFFFFF, seenAfterSet = 0;
    std::thread other([&] {
        seenByNewThread = GetLastError();
        SetLastError(0x5678);
        seenAfterSet = GetLastError();
    });
    other.join();
    EXPECT_EQ(0u, seenByNewThread); // a new thread starts with no error
    EXPECT_EQ(0x5678u, seenAfterSet);
    EXPECT_EQ(0x1234u, GetLastError()); // the other thread's value did not leak here
}

} // namespace
