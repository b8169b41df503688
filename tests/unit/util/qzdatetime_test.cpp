#include "corvel/util/qzdatetime.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"

namespace
{

qzDateTime at(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear,
              std::uint16_t inHour = 0, std::uint16_t inMinute = 0, std::uint16_t inSecond = 0)
{
    return qzDateTime(inDay, inMonth, inYear, inHour, inMinute, inSecond);
}

// "dd.mm.yyyy hh:mm:ss" for readable failures.
std::string text(const qzDateTime& inValue)
{
    std::string theText;
    return inValue.toString(theText, qzDate::kDayMonthYear, true, false, true);
}

int assertions(const LogCapture& inLog)
{
    return static_cast<int>(inLog.containing("Assertion failed.").size());
}

} // namespace

// ------------------------------------------------------------ combine and split

TEST(DateTimeValue, CombineAndSplit)
{
    EXPECT_EQ(at(1, 1, 1970).getValue(), 0u);
    EXPECT_TRUE(at(1, 1, 1970).isNull());
    const qzDateTime theValue = at(14, 9, 2011, 10, 5, 3);
    EXPECT_EQ(theValue.getValue(), 1315994703u);

    EXPECT_EQ(theValue.getDate(), qzDate(14, 9, 2011));
    const qzTime theTime = theValue.getTime();
    EXPECT_EQ(theTime.getHour(), 10);
    EXPECT_EQ(theTime.getMinute(), 5);
    EXPECT_EQ(theTime.getSecond(), 3);
    EXPECT_EQ(theTime.getMillisecond(), 0);

    // From a date and a time: milliseconds dropped.
    qzTime theWithMillis;
    theWithMillis.set(10, 5, 3, 999);
    EXPECT_EQ(qzDateTime(qzDate(14, 9, 2011), theWithMillis), theValue);

    // Splitting and combining again is the identity over the whole range.
    for (std::uint32_t curValue = 0; curValue < 4294000000u; curValue += 7654321u)
    {
        const qzDateTime theOriginal = qzDateTime::fromValue(curValue);
        ASSERT_EQ(qzDateTime(theOriginal.getDate(), theOriginal.getTime()).getValue(), curValue)
            << text(theOriginal);
    }
    // The last second the value holds.
    const qzDateTime theLast = qzDateTime::fromValue(0xFFFFFFFFu);
    EXPECT_EQ(theLast.getDate(), qzDate(7, 2, 2106));
    EXPECT_EQ(theLast.getTime().getHour(), 6);
    EXPECT_EQ(theLast.getTime().getMinute(), 28);
    EXPECT_EQ(theLast.getTime().getSecond(), 15);
}

TEST(DateTimeValue, BeforeNineteenSeventyAndBadTimes)
{
    EXPECT_EQ(at(31, 12, 1969, 23, 59, 59).getValue(), 0u);
    EXPECT_EQ(at(1, 1, 1900, 12).getValue(), 0u);

    LogCapture theLog;
    at(1, 1, 2000, 24, 0, 0);
    at(1, 1, 2000, 0, 60, 0);
    at(1, 1, 2000, 0, 0, 60);
    EXPECT_EQ(theLog.containing("inHour < 24 && inMinute < 60 && inSecond < 60").size(), 3u);
}

TEST(DateTimeValue, OtherConstructionForms)
{
    const std::uint32_t theRaw = 1315994703u;
    EXPECT_EQ(qzDateTime(&theRaw).getValue(), theRaw);
    EXPECT_EQ(qzDateTime(static_cast<const std::uint32_t*>(nullptr)).getValue(), 0u);
    EXPECT_EQ(qzDateTime::fromValue(theRaw).getValue(), theRaw);
    EXPECT_EQ(qzDateTime(0).getValue(), 0u);
    EXPECT_EQ(qzDateTime(2).getValue(), 0u); // only the flag 1 reads the clock
    EXPECT_EQ(qzDateTime(std::string("2011-09-14 10:05:03")).getValue(), theRaw);
    EXPECT_EQ(qzDateTime(std::string("not a date")).getValue(), 0u);

    qzDateTime theValue;
    theValue.set(42);
    EXPECT_EQ(theValue.getValue(), 42u);
    theValue.clear();
    EXPECT_TRUE(theValue.isNull());
}

TEST(DateTimeValue, NowIsTodayAndTheCurrentTime)
{
    const qzDate theBefore(1);
    const qzDateTime theNow(1);
    const qzDate theAfter(1);
    EXPECT_TRUE(theNow.getDate() == theBefore || theNow.getDate() == theAfter) << text(theNow);
    // Within a few seconds of the time of day read separately.
    const std::int32_t theSeconds =
        static_cast<std::int32_t>(theNow.getValue() % 86400) - qzTime(1).toMilliseconds() / 1000;
    EXPECT_LE(theSeconds < 0 ? -theSeconds : theSeconds, 5) << text(theNow);
}

TEST(DateTimeValue, HoursSince1601)
{
    EXPECT_EQ(qzDateTime().getHours1601(), 3234576u);
    qzDateTime theValue = qzDateTime::fromValue(12345);
    theValue.setHours1601(3234576);
    EXPECT_EQ(theValue.getValue(), 0u);
    theValue.setHours1601(3234576 + 24);
    EXPECT_EQ(theValue, at(2, 1, 1970));
    // Whole hours: the minutes are cut off one way, zero the other way.
    const qzDateTime theSource = at(14, 9, 2011, 10, 5, 3);
    theValue.setHours1601(theSource.getHours1601());
    EXPECT_EQ(theValue, at(14, 9, 2011, 10));
}

// ------------------------------------------------------------ add

TEST(DateTimeAdd, FixedUnits)
{
    const qzDateTime theStart = at(14, 9, 2011, 10, 5, 3);
    const std::pair<std::int32_t, std::uint32_t> theUnits[] = {{qzDateTime::kSecond, 1},
                                                               {qzDateTime::kMinute, 60},
                                                               {qzDateTime::kHour, 3600},
                                                               {qzDateTime::kDay, 86400},
                                                               {qzDateTime::kWeek, 604800}};
    for (const auto& curUnit : theUnits)
    {
        qzDateTime theValue = theStart;
        theValue.add(2, curUnit.first);
        EXPECT_EQ(theValue.getValue(), theStart.getValue() + 2 * curUnit.second) << curUnit.first;
        theValue.add(-3, curUnit.first);
        EXPECT_EQ(theValue.getValue(), theStart.getValue() - curUnit.second) << curUnit.first;
    }
}

TEST(DateTimeAdd, Months)
{
    struct Case
    {
        qzDateTime itsFrom;
        std::int32_t itsAmount;
        qzDateTime itsTo;
    };
    const Case theCases[] = {
        {at(31, 1, 2011, 12), 1, at(1, 3, 2011, 12)}, // no 31 February
        {at(15, 1, 2011), -1, at(15, 12, 2010)},
        {at(15, 3, 2011), -3, at(15, 12, 2010)},
        {at(15, 3, 2011), -15, at(15, 12, 2009)},
        {at(15, 12, 2010, 8, 9, 10), 1, at(15, 1, 2011, 8, 9, 10)},
        {at(15, 11, 2010), 14, at(15, 1, 2012)},
        {at(31, 3, 2011), -1, at(1, 3, 2011)}, // no 31 February either way
        {at(29, 1, 2012), 1, at(29, 2, 2012)}, // leap year has it
        {at(30, 1, 2011), 1, at(1, 3, 2011)},
        {at(31, 12, 2010), 11, at(1, 12, 2011)}, // no 31 November
        {at(31, 12, 2011), 0, at(31, 12, 2011)},
        {at(15, 6, 2011), 120, at(15, 6, 2021)},
        {at(15, 6, 2011), -12 * 30, at(15, 6, 1981)},
    };
    for (const Case& curCase : theCases)
    {
        qzDateTime theValue = curCase.itsFrom;
        theValue.add(curCase.itsAmount, qzDateTime::kMonth);
        EXPECT_EQ(text(theValue), text(curCase.itsTo))
            << text(curCase.itsFrom) << " + " << curCase.itsAmount << " months";
    }
}

TEST(DateTimeAdd, Years)
{
    qzDateTime theValue = at(14, 9, 2011, 10, 5, 3);
    theValue.add(5, qzDateTime::kYear);
    EXPECT_EQ(theValue, at(14, 9, 2016, 10, 5, 3));
    theValue.add(-40, qzDateTime::kYear);
    EXPECT_EQ(theValue, at(14, 9, 1976, 10, 5, 3));

    // 29 February into a common year is 28 February; into a leap year it stays.
    qzDateTime theLeap = at(29, 2, 2012, 6);
    theLeap.add(1, qzDateTime::kYear);
    EXPECT_EQ(theLeap, at(28, 2, 2013, 6));
    qzDateTime theLeapAgain = at(29, 2, 2012, 6);
    theLeapAgain.add(4, qzDateTime::kYear);
    EXPECT_EQ(theLeapAgain, at(29, 2, 2016, 6));
    qzDateTime theCentury = at(29, 2, 2096);
    theCentury.add(4, qzDateTime::kYear); // 2100 is a common year
    EXPECT_EQ(theCentury, at(28, 2, 2100));
}

TEST(DateTimeAdd, OutOfRangeAndUnknownUnits)
{
    LogCapture theLog;
    // Results in the first years of the range are valid and quiet.
    qzDateTime theEarly = at(15, 3, 1971);
    theEarly.add(-14, qzDateTime::kMonth);
    EXPECT_EQ(theEarly, at(15, 1, 1970));
    EXPECT_EQ(assertions(theLog), 0);

    // Before 1970 or past 2106: reported, value kept.
    qzDateTime theValue = at(15, 1, 1970, 1);
    theValue.add(-1, qzDateTime::kMonth);
    EXPECT_EQ(theValue, at(15, 1, 1970, 1));
    theValue.add(200, qzDateTime::kYear);
    EXPECT_EQ(theValue, at(15, 1, 1970, 1));
    // Amounts far beyond the range finish at once and keep the value.
    theValue.add(2147483647, qzDateTime::kMonth);
    theValue.add(-2147483647 - 1, qzDateTime::kMonth);
    theValue.add(-2147483647 - 1, qzDateTime::kYear);
    EXPECT_EQ(theValue, at(15, 1, 1970, 1));
    EXPECT_EQ(theLog.containing("theYear >= 1970 && theYear <= 2106").size(), 5u);

    // The range ends on 7 February 2106 06:28:15, not at the end of its year.
    theLog.clear();
    qzDateTime theNearEnd = at(15, 12, 2105, 12);
    theNearEnd.add(2, qzDateTime::kMonth);
    EXPECT_EQ(theNearEnd, at(15, 12, 2105, 12));
    EXPECT_EQ(theLog.containing("theSeconds <= kLastValue").size(), 1u);
    theNearEnd.add(-10, qzDateTime::kMonth);
    theNearEnd.add(1, qzDateTime::kYear);
    EXPECT_EQ(theNearEnd, at(15, 2, 2105, 12)); // 15 February 2106 is past the end
    qzDateTime theFeb = at(7, 2, 2105, 6, 28, 15);
    theFeb.add(1, qzDateTime::kYear);
    EXPECT_EQ(theFeb.getValue(), 0xFFFFFFFFu);

    theLog.clear();
    theValue.add(1, 7);
    theValue.add(1, -1);
    EXPECT_EQ(theValue, at(15, 1, 1970, 1));
    EXPECT_EQ(theLog.containing("Offending command: \"false\"").size(), 2u);
}

// ------------------------------------------------------------ alignAfter

TEST(DateTimeAlign, FixedStepsKeepThePositionWithinTheStep)
{
    const qzDateTime theOther = at(14, 9, 2011, 10, 5, 3);
    // Every 15 minutes at 7 seconds past: the next such point after 10:05:03.
    qzDateTime theValue = at(1, 1, 2000, 0, 0, 7);
    theValue.alignAfter(theOther, 15, qzDateTime::kMinute);
    EXPECT_EQ(theValue, at(14, 9, 2011, 10, 15, 7));

    // Daily at 06:30: tomorrow, even though today's 06:30 is also before.
    qzDateTime theDaily = at(3, 3, 2005, 6, 30);
    theDaily.alignAfter(theOther, 1, qzDateTime::kDay);
    EXPECT_EQ(theDaily, at(15, 9, 2011, 6, 30));

    // A value later than the other moves back into the step after it.
    qzDateTime theLater = at(1, 1, 2020, 0, 0, 30);
    theLater.alignAfter(theOther, 1, qzDateTime::kMinute);
    EXPECT_EQ(theLater, at(14, 9, 2011, 10, 6, 30));

    qzDateTime theHourly = at(1, 1, 2000, 0, 20);
    theHourly.alignAfter(theOther, 2, qzDateTime::kHour);
    EXPECT_EQ(theHourly, at(14, 9, 2011, 12, 20));

    qzDateTime theSeconds = qzDateTime::fromValue(1);
    theSeconds.alignAfter(theOther, 1, qzDateTime::kSecond);
    EXPECT_EQ(theSeconds.getValue(), theOther.getValue() + 1);
}

TEST(DateTimeAlign, CalendarStepsWalkUntilNotBefore)
{
    const qzDateTime theOther = at(14, 9, 2011, 10, 5, 3);
    qzDateTime theMonthly = at(31, 1, 2011, 9);
    theMonthly.alignAfter(theOther, 1, qzDateTime::kMonth);
    // 31 Jan -> 1 Mar -> 1 Apr ... -> 1 Oct (1 Sep 09:00 is still before).
    EXPECT_EQ(theMonthly, at(1, 10, 2011, 9));

    qzDateTime theQuarterly = at(14, 3, 2011, 10, 5, 3);
    theQuarterly.alignAfter(theOther, 3, qzDateTime::kMonth);
    EXPECT_EQ(theQuarterly, theOther); // reaching it exactly stops

    qzDateTime theWeekly = at(1, 9, 2011, 12);
    theWeekly.alignAfter(theOther, 1, qzDateTime::kWeek);
    EXPECT_EQ(theWeekly, at(15, 9, 2011, 12));

    qzDateTime theYearly = at(29, 2, 2004, 8);
    theYearly.alignAfter(theOther, 1, qzDateTime::kYear);
    EXPECT_EQ(theYearly, at(28, 2, 2012, 8)); // 2005 gave 28 February, and it stays

    qzDateTime theAlready = at(1, 1, 2020);
    theAlready.alignAfter(theOther, 1, qzDateTime::kMonth);
    EXPECT_EQ(theAlready, at(1, 1, 2020));
}

TEST(DateTimeAlign, BadAmountsAndTheEndOfTheRange)
{
    LogCapture theLog;
    const qzDateTime theOther = at(14, 9, 2011);
    for (std::int32_t curUnit = qzDateTime::kSecond; curUnit <= qzDateTime::kYear; ++curUnit)
    {
        for (std::int32_t curAmount : {0, -1})
        {
            qzDateTime theValue = at(1, 1, 2000);
            theValue.alignAfter(theOther, curAmount, curUnit);
            EXPECT_EQ(theValue, at(1, 1, 2000)) << curUnit << " " << curAmount;
        }
    }
    EXPECT_EQ(theLog.containing("inAmount > 0").size(), 14u);

    // Weeks up to the last second of the range: the steps that would wrap are
    // not taken, and the walk ends.
    qzDateTime theWeekly = qzDateTime::fromValue(0);
    theWeekly.alignAfter(qzDateTime::fromValue(0xFFFFFFFFu), 1, qzDateTime::kWeek);
    EXPECT_EQ(theWeekly.getValue(), 0xFFFFFFFFu / 604800u * 604800u);
    qzDateTime theYearly = at(1, 6, 2000);
    theYearly.alignAfter(qzDateTime::fromValue(0xFFFFFFFFu), 1, qzDateTime::kYear);
    EXPECT_EQ(theYearly, at(1, 6, 2105));

    theLog.clear();
    qzDateTime theValue = at(1, 1, 2000);
    theValue.alignAfter(theOther, 1, 9);
    EXPECT_EQ(theValue, at(1, 1, 2000));
    EXPECT_EQ(assertions(theLog), 1);
}

// ------------------------------------------------------------ text

TEST(DateTimeText, ToStringAndTrace)
{
    const qzDateTime theValue = at(14, 9, 2011, 10, 5, 3);
    std::string theText = "old";
    EXPECT_EQ(theValue.toString(theText, true, false, true), "Sep 14, 2011 10:05:03");
    EXPECT_EQ(theText, "Sep 14, 2011 10:05:03");
    EXPECT_EQ(theValue.toString(theText, qzDate::kYearMonthDay, true, false, false),
              "2011-09-14 10:05");
    EXPECT_EQ(theValue.toString(theText, qzDate::kDayMonthYear, true, true, true),
              "14.09.11 10:05:03");
    EXPECT_EQ(at(1, 2, 2003, 22, 7, 9).toString(theText, qzDate::kMonthDayYear, true, false, true),
              "02/01/2003 22:07:09");

    LogCapture theLog;
    theValue.traceDateTime();
    EXPECT_EQ(theLog.containing("* Sep 14, 2011 10:05:03").size(), 1u);
}

TEST(DateTimeText, ParseWorkedTexts)
{
    qzDateTime theValue;
    ASSERT_TRUE(qzDateTime::parseDateTime("2011-09-14 10:05", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 10, 5));
    ASSERT_TRUE(qzDateTime::parseDateTime("Sep 14, 2011 10:05 PM", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 22, 5));
    ASSERT_TRUE(qzDateTime::parseDateTime("2011-09-14", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011));

    const qzDate theBefore(1);
    ASSERT_TRUE(qzDateTime::parseDateTime("10:05", theValue));
    const qzDate theAfter(1);
    EXPECT_TRUE(theValue.getDate() == theBefore || theValue.getDate() == theAfter);
    EXPECT_EQ(theValue.getValue() % 86400, 10u * 3600 + 5 * 60);

    theValue.set(77);
    EXPECT_FALSE(qzDateTime::parseDateTime("tomorrow", theValue));
    EXPECT_EQ(theValue.getValue(), 77u); // untouched on failure
}

TEST(DateTimeText, ParseBlanksAndAmPm)
{
    qzDateTime theValue;
    ASSERT_TRUE(qzDateTime::parseDateTime("   2011-09-14    10:05:03  ", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 10, 5, 3));
    ASSERT_TRUE(qzDateTime::parseDateTime("14.09.2011 12:30 am", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 0, 30));
    ASSERT_TRUE(qzDateTime::parseDateTime("Sep 14, 2011   9:15   Pm", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 21, 15));
    ASSERT_TRUE(qzDateTime::parseDateTime("  14.09.2011  ", theValue)); // a date alone
    EXPECT_EQ(theValue, at(14, 9, 2011));

    theValue.set(5);
    for (const char* curText : {"", "   ", "2011-09-14 noon", "someday 10:05", "10:05 PM",
                                "2011-09-14 10", "PM", "2011-13-01 10:00", "1969-12-31 10:00"})
    {
        EXPECT_FALSE(qzDateTime::parseDateTime(curText, theValue)) << curText;
        EXPECT_EQ(theValue.getValue(), 5u) << curText;
    }
}

TEST(DateTimeText, ParseRefusesOutOfRangeTimes)
{
    LogCapture theLog;
    qzDateTime theValue = qzDateTime::fromValue(5);
    for (const char* curText : {"2011-09-14 24:00", "2011-09-14 10:60", "2011-09-14 10:05:60",
                                "25:00", "10:75", "Sep 14, 2011 13:99 PM", "2011-09-14 65535:00"})
    {
        EXPECT_FALSE(qzDateTime::parseDateTime(curText, theValue)) << curText;
        EXPECT_EQ(theValue.getValue(), 5u) << curText;
    }
    // Refused before they are combined: no assertion.
    EXPECT_EQ(assertions(theLog), 0);
    // The edge values themselves are fine.
    ASSERT_TRUE(qzDateTime::parseDateTime("2011-09-14 23:59:59", theValue));
    EXPECT_EQ(theValue, at(14, 9, 2011, 23, 59, 59));
}

TEST(DateTimeText, PrintedTextParsesBack)
{
    for (std::uint32_t curValue = 0; curValue < 2524000000u; curValue += 98765431u)
    {
        const qzDateTime theValue = qzDateTime::fromValue(curValue);
        for (std::int32_t curFormat = 0; curFormat <= 3; ++curFormat)
        {
            std::string theText;
            theValue.toString(theText, curFormat, true, false, true);
            qzDateTime theBack;
            ASSERT_TRUE(qzDateTime::parseDateTime(theText, theBack)) << theText;
            EXPECT_EQ(theBack, theValue) << theText;
        }
    }
}
