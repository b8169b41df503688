#include <gtest/gtest.h>

#include <string>

#include "corvel/util/qztime.h"

namespace
{

// Parses inText and returns "h:m:s.ms", or "fail".
std::string parsed(const std::string& inText)
{
    qzTime theTime;
    if (!qzTime::parseTime(inText, theTime))
        return "fail";
    return std::to_string(theTime.getHour()) + ":" + std::to_string(theTime.getMinute()) + ":" +
           std::to_string(theTime.getSecond()) + "." + std::to_string(theTime.getMillisecond());
}

std::string printed(const qzTime& inTime, const std::string& inSeparator, bool inSeconds,
                    bool in24Hour)
{
    std::string theText = "old contents";
    return inTime.toString(theText, inSeparator, inSeconds, in24Hour);
}

qzTime timeOf(std::uint16_t inHour, std::uint16_t inMinute, std::uint16_t inSecond = 0,
              std::uint16_t inMillisecond = 0)
{
    qzTime theTime;
    theTime.set(inHour, inMinute, inSecond, inMillisecond);
    return theTime;
}

} // namespace

TEST(qzTimeParse, TwentyFourHourForms)
{
    EXPECT_EQ(parsed("14:05"), "14:5:0.0");
    EXPECT_EQ(parsed("14:05:09"), "14:5:9.0");
    EXPECT_EQ(parsed("14:05:09:250"), "14:5:9.250");
    EXPECT_EQ(parsed("  7:5  "), "7:5:0.0");
    EXPECT_EQ(parsed("0:00"), "0:0:0.0");
    // The class checks no ranges: the numbers are taken as typed.
    EXPECT_EQ(parsed("25:61:99"), "25:61:99.0");
}

TEST(qzTimeParse, AmAndPm)
{
    EXPECT_EQ(parsed("2:05 pm"), "14:5:0.0");
    EXPECT_EQ(parsed("2:05 PM"), "14:5:0.0");
    EXPECT_EQ(parsed("12:00 AM"), "0:0:0.0");
    EXPECT_EQ(parsed("12:00 PM"), "12:0:0.0");
    EXPECT_EQ(parsed("11:30 PM"), "23:30:0.0");
    EXPECT_EQ(parsed("11:30 am"), "11:30:0.0");
    EXPECT_EQ(parsed("10:05:03 Pm"), "22:5:3.0");
    EXPECT_EQ(parsed("10:05:03:007   PM  "), "22:5:3.7");
    // An hour past noon stays as it is.
    EXPECT_EQ(parsed("13:00 PM"), "13:0:0.0");
    // A trailing blank with no word is no suffix.
    EXPECT_EQ(parsed("9:15 "), "9:15:0.0");
}

TEST(qzTimeParse, Failures)
{
    EXPECT_EQ(parsed("14.05"), "fail");
    EXPECT_EQ(parsed("14:05 XM"), "fail");
    EXPECT_EQ(parsed("14:05x"), "fail");
    EXPECT_EQ(parsed("14:05 PM x"), "fail");
    EXPECT_EQ(parsed("14:05PM"), "fail");
    EXPECT_EQ(parsed("14"), "fail");
    EXPECT_EQ(parsed("14:"), "fail");
    EXPECT_EQ(parsed("14:05:"), "fail");
    EXPECT_EQ(parsed("14:05:09:"), "fail");
    EXPECT_EQ(parsed("14:05:09:250:1"), "fail");
    EXPECT_EQ(parsed(":05"), "fail");
    EXPECT_EQ(parsed(""), "fail");
    EXPECT_EQ(parsed("   "), "fail");
    EXPECT_EQ(parsed("-1:05"), "fail");
    EXPECT_EQ(parsed("14:-5"), "fail");
    // A number too large for its field fails rather than wrapping.
    EXPECT_EQ(parsed("65536:00"), "fail");
    EXPECT_EQ(parsed("65535:00"), "65535:0:0.0");
}

TEST(qzTimeParse, TargetWrittenOnlyOnSuccess)
{
    qzTime theTime = timeOf(1, 2, 3, 4);
    EXPECT_FALSE(qzTime::parseTime("14:05x", theTime));
    EXPECT_EQ(theTime, timeOf(1, 2, 3, 4));
    EXPECT_TRUE(qzTime::parseTime("14:05", theTime));
    EXPECT_EQ(theTime, timeOf(14, 5));
}

TEST(qzTimeMilliseconds, SplitAndJoin)
{
    const qzTime theTime = qzTime::fromMilliseconds(90061001);
    EXPECT_EQ(theTime, timeOf(25, 1, 1, 1));
    EXPECT_EQ(theTime.toMilliseconds(), 90061001);
    EXPECT_EQ(timeOf(14, 5, 9, 250).toMilliseconds(), ((14 * 3600 + 5 * 60 + 9) * 1000) + 250);

    qzTime theOther;
    theOther.setMilliseconds(0xFFFFFFFFu);
    EXPECT_EQ(theOther, timeOf(1193, 2, 47, 295));
    // Hours past what 32 bits of milliseconds hold wrap instead of
    // overflowing a signed value.
    EXPECT_EQ(theOther.toMilliseconds(), -1);
    for (std::uint32_t curMs : {0u, 999u, 1000u, 59999u, 3599999u, 86399999u, 86400000u})
        EXPECT_EQ(static_cast<std::uint32_t>(qzTime::fromMilliseconds(curMs).toMilliseconds()),
                  curMs);
}

TEST(qzTimeMilliseconds, NullClearAndNow)
{
    qzTime theTime;
    EXPECT_TRUE(theTime.isNull());
    EXPECT_TRUE(qzTime(0).isNull());
    EXPECT_TRUE(qzTime(5).isNull());
    theTime.set(0, 0, 0, 1);
    EXPECT_FALSE(theTime.isNull());
    theTime.clear();
    EXPECT_TRUE(theTime.isNull());

    const qzTime theNow(1);
    EXPECT_LT(theNow.getHour(), 24);
    EXPECT_LT(theNow.getMinute(), 60);
    EXPECT_LE(theNow.getSecond(), 60);
    EXPECT_EQ(theNow.getMillisecond(), 0);
}

TEST(qzTimePrint, TwentyFourAndTwelveHourForms)
{
    const qzTime theTime = timeOf(9, 5, 7, 450);
    EXPECT_EQ(printed(theTime, ":", true, true), "09:05:07");
    EXPECT_EQ(printed(theTime, ":", false, true), "09:05");
    EXPECT_EQ(printed(theTime, ":", false, false), "9:05 AM");
    EXPECT_EQ(printed(theTime, ".", true, false), "9.05.07 AM");
    EXPECT_EQ(printed(theTime, "", true, true), "090507");
    EXPECT_EQ(printed(timeOf(0, 30), ":", false, false), "12:30 AM");
    EXPECT_EQ(printed(timeOf(0, 0), ":", false, false), "12:00 AM");
    EXPECT_EQ(printed(timeOf(12, 0), ":", false, false), "12:00 PM");
    EXPECT_EQ(printed(timeOf(23, 15), ":", false, false), "11:15 PM");
    EXPECT_EQ(printed(timeOf(23, 15, 9), " - ", true, true), "23 - 15 - 09");
    EXPECT_EQ(printed(timeOf(25, 1, 1), ":", true, true), "25:01:01");
    EXPECT_EQ(printed(timeOf(25, 1, 1), ":", true, false), "13:01:01 PM");
}

TEST(qzTimePrint, PrintedFormsParseBack)
{
    for (std::uint16_t curHour = 0; curHour < 24; ++curHour)
        for (bool cur24 : {false, true})
        {
            const qzTime theTime = timeOf(curHour, 59, 1);
            std::string theText;
            theTime.toString(theText, ":", true, cur24);
            qzTime theBack;
            ASSERT_TRUE(qzTime::parseTime(theText, theBack)) << theText;
            EXPECT_EQ(theBack, theTime) << theText;
        }
}
