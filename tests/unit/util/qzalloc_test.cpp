#include <gtest/gtest.h>

#include <cstring>

#include "corvel/util/qzalloc.h"
#include "tests/support/log_capture.h"

TEST(Alloc, AllocatesAndReleases)
{
    qzAlloc theBuffer(16, true);
    EXPECT_TRUE(theBuffer.hasData());
    EXPECT_EQ(theBuffer.getSize(), 16u);
    theBuffer.release();
    EXPECT_FALSE(theBuffer.hasData());
    EXPECT_EQ(theBuffer.getSize(), 0u);
    EXPECT_TRUE(theBuffer.allocate(8, false));
    EXPECT_EQ(theBuffer.getSize(), 8u);
}

TEST(Alloc, ZeroSizeIsReported)
{
    LogCapture theCapture;
    qzAlloc theBuffer(4, true);
    theBuffer.allocate(0, false);
    EXPECT_EQ(theCapture.containing("Offending command: \"inSize\"").size(), 1u);
}

TEST(Alloc, GrowKeepsContentsAndNeverShrinks)
{
    qzAlloc theBuffer(16, true);
    for (int i = 0; i < 16; ++i)
        theBuffer.getData()[i] = static_cast<std::uint8_t>(i + 1);
    std::uint8_t* theOld = theBuffer.getData();
    EXPECT_TRUE(theBuffer.grow(8, true));
    EXPECT_TRUE(theBuffer.grow(16, true));
    EXPECT_EQ(theBuffer.getData(), theOld);
    EXPECT_EQ(theBuffer.getSize(), 16u);
    EXPECT_TRUE(theBuffer.grow(64, true));
    EXPECT_EQ(theBuffer.getSize(), 64u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(theBuffer.getData()[i], i + 1);
}

TEST(Alloc, EmptyBufferAccessIsReported)
{
    LogCapture theCapture;
    qzAlloc theBuffer(4, true);
    theBuffer.release();
    EXPECT_EQ(theBuffer.getData(), nullptr);
    EXPECT_EQ(theCapture.containing("Offending command: \"itsData\"").size(), 1u);
}

TEST(Alloc, AttachAdoptsAndFreesTheBuffer)
{
    qzAlloc theBuffer(4, true);
    auto* theAdopted = new std::uint8_t[32];
    std::memset(theAdopted, 7, 32);
    theBuffer.attach(theAdopted, 32);
    EXPECT_EQ(theBuffer.getData(), theAdopted);
    EXPECT_EQ(theBuffer.getSize(), 32u);
    qzAlloc theOther(new std::uint8_t[3], 3);
    EXPECT_EQ(theOther.getSize(), 3u);
    // Both buffers are freed by the destructors: the leak checker of the
    // sanitizer build would report them otherwise.
}
