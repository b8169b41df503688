#include <gtest/gtest.h>

#include <string>

#include "corvel/util/qzdate.h"
#include "tests/support/log_capture.h"

namespace
{

// Parses inText with inFormat and returns "d.m.y", or "fail".
std::string parsed(const std::string& inText, std::int32_t inFormat = 0)
{
    qzDate theDate;
    if (!qzDate::parseDate(inText, theDate, inFormat))
        return "fail";
    return std::to_string(theDate.getDay()) + "." + std::to_string(theDate.getMonth()) + "." +
           std::to_string(theDate.getYear());
}

std::string printed(const qzDate& inDate, std::int32_t inFormat, bool inWithYear, bool inTwoDigit)
{
    std::string theText = "old contents";
    return inDate.toString(theText, inFormat, inWithYear, inTwoDigit);
}

} // namespace

TEST(qzDateParse, AutomaticChoiceReadsAllFourNotations)
{
    EXPECT_EQ(parsed("2011-9-14"), "14.9.2011");
    EXPECT_EQ(parsed("14.9.11"), "14.9.2011");
    EXPECT_EQ(parsed("9/14/11"), "14.9.2011");
    EXPECT_EQ(parsed("sep 14, 2011"), "14.9.2011");
    EXPECT_EQ(parsed("SEP 14 , 2011"), "14.9.2011");
    EXPECT_EQ(parsed("  Dec 1,1999  "), "1.12.1999");
    // A first number past 1969 is a year whatever the separator.
    EXPECT_EQ(parsed("2011/09/14"), "14.9.2011");
    EXPECT_EQ(parsed("2011.09.14"), "14.9.2011");
    // '-' means year first even with a short first number.
    EXPECT_EQ(parsed("11-09-14"), "14.9.2011");
    // White space before the numbers is skipped as a stream would.
    EXPECT_EQ(parsed("14. 9. 2011"), "14.9.2011");
}

TEST(qzDateParse, ExplicitFormatsFixTheOrderOfTheNumbers)
{
    EXPECT_EQ(parsed("2011-09-14", 1), "14.9.2011");
    EXPECT_EQ(parsed("03.04.2011", 2), "3.4.2011");
    EXPECT_EQ(parsed("03.04.2011", 3), "4.3.2011");
    EXPECT_EQ(parsed("03/04/2011", 2), "3.4.2011");
    EXPECT_EQ(parsed("2011/04/03", 1), "3.4.2011");
    EXPECT_EQ(parsed("14.09.2011", 1), "fail");
    EXPECT_EQ(parsed("Sep 14, 2011", 1), "fail");
    EXPECT_EQ(parsed("Sep 14, 2011", 2), "fail");
    EXPECT_EQ(parsed("Sep 14, 2011", 3), "fail");
    // Codes that name no reading order are refused.
    EXPECT_EQ(parsed("2011-09-14", 4), "fail");
    EXPECT_EQ(parsed("2011-09-14", -1), "fail");
}

TEST(qzDateParse, MonthNames)
{
    const char* const theNames[] = {"jan", "FEB", "Mar", "apr", "May", "jun",
                                    "Jul", "aug", "SEP", "oct", "Nov", "dec"};
    for (int curMonth = 1; curMonth <= 12; ++curMonth)
        EXPECT_EQ(parsed(std::string(theNames[curMonth - 1]) + " 1, 2000"),
                  "1." + std::to_string(curMonth) + ".2000");
    EXPECT_EQ(parsed("Sept 14, 2011"), "fail");
    EXPECT_EQ(parsed("September 14, 2011"), "fail");
    EXPECT_EQ(parsed("Sep14, 2011"), "fail");
    EXPECT_EQ(parsed("Sep 14 2011"), "fail");
    EXPECT_EQ(parsed("Sep 14,"), "fail");
    EXPECT_EQ(parsed("Sep 14, "), "fail");
    EXPECT_EQ(parsed("Sep , 2011"), "fail");
    EXPECT_EQ(parsed("Sep 31, 2011"), "fail");
    EXPECT_EQ(parsed("Sep 14, 11"), "14.9.2011");
}

TEST(qzDateParse, RejectsMalformedText)
{
    EXPECT_EQ(parsed("2011-09-14x"), "fail");
    EXPECT_EQ(parsed("14.09/2011"), "fail");
    EXPECT_EQ(parsed("14:09:2011"), "fail");
    EXPECT_EQ(parsed("31.04.2011"), "fail");
    EXPECT_EQ(parsed("29.02.2011"), "fail");
    EXPECT_EQ(parsed("29.02.2012"), "29.2.2012");
    EXPECT_EQ(parsed("0.1.2011"), "fail");
    EXPECT_EQ(parsed("1.13.2011"), "fail");
    EXPECT_EQ(parsed(""), "fail");
    EXPECT_EQ(parsed("   "), "fail");
    EXPECT_EQ(parsed("2011"), "fail");
    EXPECT_EQ(parsed("2011-09"), "fail");
    // A missing last number is no year 2000, and a sign is no number.
    EXPECT_EQ(parsed("14.9."), "fail");
    EXPECT_EQ(parsed("14.9.-5"), "fail");
    EXPECT_EQ(parsed("14.-9.2011"), "fail");
    // Numbers too large for any field fail rather than wrap.
    EXPECT_EQ(parsed("14.9.4294969307"), "fail");
    EXPECT_EQ(parsed("14.9.99999999999999999999"), "fail");
    EXPECT_EQ(parsed("14.65545.2011"), "fail");
}

TEST(qzDateParse, TwoDigitYearsAndTheYearWindow)
{
    EXPECT_EQ(parsed("01.01.1969"), "fail");
    // 69 means 2069, which lies past the window.
    EXPECT_EQ(parsed("01.01.69"), "fail");
    EXPECT_EQ(parsed("01.01.49"), "1.1.2049");
    EXPECT_EQ(parsed("01.01.1970"), "1.1.1970");
    EXPECT_EQ(parsed("01.01.70"), "1.1.1970");
    EXPECT_EQ(parsed("31.12.99"), "31.12.1999");
    EXPECT_EQ(parsed("01.01.00"), "1.1.2000");
    EXPECT_EQ(parsed("31.12.2050"), "31.12.2050");
    EXPECT_EQ(parsed("01.01.2051"), "fail");
    EXPECT_EQ(parsed("01.01.50"), "1.1.2050");
    EXPECT_EQ(parsed("01.01.51"), "fail");
    EXPECT_EQ(parsed("01.01.100"), "fail");
}

TEST(qzDateParse, TargetWrittenOnlyOnSuccess)
{
    qzDate theDate(5, 3, 2011);
    EXPECT_FALSE(qzDate::parseDate("31.04.2011", theDate, 0));
    EXPECT_EQ(theDate, qzDate(5, 3, 2011));
    EXPECT_TRUE(qzDate::parseDate("1.4.2011", theDate, 0));
    EXPECT_EQ(theDate, qzDate(1, 4, 2011));
}

TEST(qzDateParse, TextConstructorAssertsAndKeepsDefaultOnFailure)
{
    LogCapture theLog;
    EXPECT_EQ(qzDate("2011-09-14", 0), qzDate(14, 9, 2011));
    EXPECT_TRUE(theLog.containing("Assertion failed").empty());
    EXPECT_TRUE(qzDate("tomorrow", 0).isDefaultDate());
    EXPECT_EQ(theLog.containing("Assertion failed").size(), 1u);
}

TEST(qzDateDayNumber, KnownDaysAndLeapYears)
{
    EXPECT_EQ(qzDate(1, 1, 1900).getDayNumber(), 0);
    EXPECT_EQ(qzDate(1, 1, 1970).getDayNumber(), 25567);
    EXPECT_EQ(qzDate(14, 9, 2011).getDayNumber(), 25567 + 15231);
    EXPECT_EQ(qzDate::fromDayNumber(25567), qzDate(1, 1, 1970));
    EXPECT_EQ(qzDate::fromDayNumber(0), qzDate(1, 1, 1900));

    EXPECT_FALSE(qzDate::isLeapYear(1900));
    EXPECT_TRUE(qzDate::isLeapYear(2000));
    EXPECT_TRUE(qzDate::isLeapYear(2012));
    EXPECT_FALSE(qzDate::isLeapYear(2011));
    EXPECT_FALSE(qzDate::isLeapYear(2100));
    EXPECT_TRUE(qzDate(1, 1, 2400).isLeapYear());

    EXPECT_EQ(qzDate::daysInMonth(2, 2012), 29);
    EXPECT_EQ(qzDate::daysInMonth(2, 2100), 28);
    EXPECT_EQ(qzDate::daysInMonth(4, 2011), 30);
    EXPECT_EQ(qzDate::daysInMonth(0, 2011), 0);
    EXPECT_EQ(qzDate::daysInMonth(13, 2011), 0);
}

TEST(qzDateDayNumber, CountsTrueDaysAcrossCenturyYears)
{
    // 2100 is a common year: 28 February is followed by 1 March, and the
    // year has 365 days, so the last day of 2100 and the first of 2101 are
    // one day apart.
    EXPECT_EQ(qzDate(1, 3, 2100).getDayNumber() - qzDate(28, 2, 2100).getDayNumber(), 1);
    EXPECT_EQ(qzDate(1, 1, 2101).getDayNumber() - qzDate(31, 12, 2100).getDayNumber(), 1);
    EXPECT_EQ(qzDate(1, 1, 2101).getDayNumber() - qzDate(1, 1, 2100).getDayNumber(), 365);
    EXPECT_EQ(qzDate(1, 1, 2001).getDayNumber() - qzDate(1, 1, 2000).getDayNumber(), 366);
    // 1 January 2101 is 73414 days after 1 January 1900 (201 years, 49 leap
    // days: 1904 to 2096).
    EXPECT_EQ(qzDate(1, 1, 2101).getDayNumber(), 201 * 365 + 49);
}

TEST(qzDateDayNumber, SetAndGetStayInverse)
{
    // Every day number from 1900 to 2500 maps to a valid date that maps back,
    // and consecutive numbers give consecutive dates.
    qzDate thePrevious = qzDate::fromDayNumber(0);
    const std::uint32_t theLast = static_cast<std::uint32_t>(qzDate(31, 12, 2500).getDayNumber());
    for (std::uint32_t curNumber = 1; curNumber <= theLast; ++curNumber)
    {
        const qzDate theDate = qzDate::fromDayNumber(curNumber);
        ASSERT_EQ(static_cast<std::uint32_t>(theDate.getDayNumber()), curNumber);
        ASSERT_GE(theDate.getMonth(), 1);
        ASSERT_LE(theDate.getMonth(), 12);
        ASSERT_GE(theDate.getDay(), 1);
        ASSERT_LE(theDate.getDay(), qzDate::daysInMonth(theDate.getMonth(), theDate.getYear()));
        qzDate theNext = thePrevious;
        theNext.addDays(1);
        ASSERT_EQ(theNext, theDate) << curNumber;
        thePrevious = theDate;
    }
    EXPECT_EQ(thePrevious, qzDate(31, 12, 2500));
}

TEST(qzDateDayNumber, AddDays)
{
    qzDate theDate(28, 2, 2012);
    theDate.addDays(1);
    EXPECT_EQ(theDate, qzDate(29, 2, 2012));
    theDate = qzDate(31, 12, 2011);
    theDate.addDays(1);
    EXPECT_EQ(theDate, qzDate(1, 1, 2012));
    theDate.addDays(-1);
    EXPECT_EQ(theDate, qzDate(31, 12, 2011));
    theDate = qzDate(1, 1, 2101);
    theDate.addDays(-1);
    EXPECT_EQ(theDate, qzDate(31, 12, 2100));
    theDate.addDays(-36524);
    EXPECT_EQ(theDate, qzDate(31, 12, 2000));
    theDate.addDays(365 * 4 + 1);
    EXPECT_EQ(theDate, qzDate(31, 12, 2004));
}

TEST(qzDateDayNumber, OutOfRangeAssertsAndLeavesTheDate)
{
    LogCapture theLog;
    qzDate theDate(2, 1, 1900);
    theDate.addDays(-2);
    EXPECT_EQ(theDate, qzDate(2, 1, 1900));
    theDate.setDayNumber(0xFFFFFFFFu);
    EXPECT_EQ(theDate, qzDate(2, 1, 1900));
    theDate.setDayNumber(qzDate::kMaxDayNumber);
    EXPECT_EQ(theDate, qzDate(31, 12, 65535));
    theDate.addDays(1);
    EXPECT_EQ(theDate, qzDate(31, 12, 65535));
    EXPECT_EQ(theLog.containing("Assertion failed").size(), 3u);
}

TEST(qzDateValidity, ConstructorAssertsButKeepsTheValues)
{
    LogCapture theLog;
    const qzDate theGood(29, 2, 2012);
    EXPECT_TRUE(theLog.containing("Assertion failed").empty());

    const qzDate theBadDay(29, 2, 2011);
    EXPECT_EQ(theBadDay.getDay(), 29);
    EXPECT_EQ(theLog.containing("itsDay <= days_pr_month").size(), 1u);

    const qzDate theBadMonth(1, 13, 2011);
    EXPECT_EQ(theBadMonth.getMonth(), 13);
    EXPECT_EQ(theLog.containing("(itsMonth >= 1) && (itsMonth <= 12)").size(), 1u);

    // An invalid month never reads past the tables.
    EXPECT_EQ(theBadMonth.getDayNumber(), -1);
    EXPECT_EQ(printed(theBadMonth, 0, true, false), " 1, 2011");
}

TEST(qzDateValidity, DefaultAndToday)
{
    EXPECT_TRUE(qzDate().isDefaultDate());
    EXPECT_TRUE(qzDate(0).isDefaultDate());
    EXPECT_TRUE(qzDate(2).isDefaultDate());
    EXPECT_FALSE(qzDate(2, 1, 1900).isDefaultDate());
    const qzDate theToday(1);
    EXPECT_FALSE(theToday.isDefaultDate());
    EXPECT_GE(theToday.getYear(), 2024);
    EXPECT_EQ(qzDate::fromDayNumber(static_cast<std::uint32_t>(theToday.getDayNumber())), theToday);
}

TEST(qzDatePrint, EveryForm)
{
    const qzDate theDate(5, 3, 2011);
    EXPECT_EQ(printed(theDate, 1, true, false), "2011-03-05");
    EXPECT_EQ(printed(theDate, 1, true, true), "11-03-05");
    EXPECT_EQ(printed(theDate, 1, false, false), "03-05");
    EXPECT_EQ(printed(theDate, 2, true, false), "05.03.2011");
    EXPECT_EQ(printed(theDate, 2, true, true), "05.03.11");
    EXPECT_EQ(printed(theDate, 2, false, true), "05.03");
    EXPECT_EQ(printed(theDate, 3, true, false), "03/05/2011");
    EXPECT_EQ(printed(theDate, 3, true, true), "03/05/11");
    EXPECT_EQ(printed(theDate, 3, false, false), "03/05");
    EXPECT_EQ(printed(theDate, 0, true, false), "Mar 5, 2011");
    EXPECT_EQ(printed(theDate, 0, true, true), "Mar 5, 11");
    EXPECT_EQ(printed(theDate, 0, false, false), "Mar 5");
    EXPECT_EQ(printed(theDate, 7, true, false), "Mar 5, 2011");
    EXPECT_EQ(printed(qzDate(14, 12, 2005), 0, true, true), "Dec 14, 05");
    EXPECT_EQ(printed(qzDate(14, 12, 2000), 2, true, true), "14.12.00");
    EXPECT_EQ(printed(qzDate(1, 1, 1900), 1, true, false), "1900-01-01");
}

TEST(qzDatePrint, PrintedFormsParseBack)
{
    const qzDate theDates[] = {qzDate(1, 1, 1970), qzDate(29, 2, 2012), qzDate(5, 9, 2011),
                               qzDate(31, 12, 2050), qzDate(12, 11, 1999)};
    for (const qzDate& curDate : theDates)
        for (std::int32_t curFormat = 0; curFormat <= 3; ++curFormat)
            for (bool curTwoDigit : {false, true})
            {
                std::string theText;
                curDate.toString(theText, curFormat, true, curTwoDigit);
                qzDate theBack;
                EXPECT_TRUE(qzDate::parseDate(theText, theBack, curFormat)) << theText;
                EXPECT_EQ(theBack, curDate) << theText;
            }
}
