// Error texts and last errors as POSIX gives them.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "corvel/debug/qzerrors.h"

TEST(OSErrors, TextsOfSystemAndDirectoryCodes)
{
    EXPECT_FALSE(getOSErrorText(ENOENT).empty());
    EXPECT_EQ(getOSErrorText(ENOENT).back() == '\n', false);
    EXPECT_EQ(getOSErrorText(0x80072116), "The name was not found in the directory.");
    EXPECT_EQ(getOSErrorText(0x8000500D), "The object has no value for the attribute.");
    // Codes the system has no text for give the empty string, never
    // "Unknown error N".
    EXPECT_EQ(getOSErrorText(99999), "");
    EXPECT_EQ(getOSErrorText(0xC0DEC0DE), "");
}

TEST(OSErrors, LastErrorIsTheCallingThreadsOwn)
{
    errno = EACCES;
    std::uint32_t theOther = 0;
    std::thread(
        [&]
        {
            errno = ENOENT;
            theOther = getLastOSError();
        })
        .join();
    EXPECT_EQ(getLastOSError(), static_cast<std::uint32_t>(EACCES));
    EXPECT_EQ(theOther, static_cast<std::uint32_t>(ENOENT));
}
