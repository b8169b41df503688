// Error texts and last errors as Windows gives them.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include <windows.h>

#include "corvel/debug/qzerrors.h"

TEST(OSErrors, TextsOfSystemAndDirectoryCodes)
{
    // The system's own message table, through FormatMessageA.
    EXPECT_FALSE(getOSErrorText(ERROR_ACCESS_DENIED).empty());
    EXPECT_NE(getOSErrorText(ERROR_ACCESS_DENIED), getOSErrorText(ERROR_FILE_NOT_FOUND));
    // The directory layer's texts win over whatever the system has.
    EXPECT_EQ(getOSErrorText(0x80072116), "The name was not found in the directory.");
    EXPECT_EQ(getOSErrorText(0x8000500D), "The object has no value for the attribute.");
    EXPECT_EQ(getOSErrorText(0xC0DEC0DE), "");
}

TEST(OSErrors, LastErrorIsTheCallingThreadsOwn)
{
    // The two threads meet over atomics only: any system call in between
    // may change the caller's own last error.
    std::atomic<int> theStep{0};
    std::uint32_t theOther = 0;
    std::thread theThread(
        [&]
        {
            while (theStep.load() != 1)
            {
            }
            SetLastError(ERROR_FILE_NOT_FOUND);
            theOther = getLastOSError();
            theStep.store(2);
        });
    SetLastError(ERROR_ACCESS_DENIED);
    theStep.store(1);
    while (theStep.load() != 2)
    {
    }
    const std::uint32_t theMine = getLastOSError();
    theThread.join();
    EXPECT_EQ(theMine, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(theOther, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}
