// qzDate: a calendar date (day, month, year) with no time of day and no time
// zone.
//
// The date validates itself (through assertions), knows leap years, converts
// to and from a day count since 1 January 1900 (that day is 0), moves by days,
// reads today's local date, and parses and prints four notations:
//
//   code 0  month name form   "Sep 14, 2011"   parsing: automatic choice
//   code 1  year-month-day    "2011-09-14"
//   code 2  day.month.year    "14.09.2011"
//   code 3  month/day/year    "09/14/2011"
//
// Any other code prints the month name form. Parsing accepts only dates from
// 1970 to 2050; two-digit years below 70 mean 20xx, 70 to 99 mean 19xx.
//
// The day count is the true number of days since 1 January 1900 under the
// full leap-year rule (2100 is a common year), and setDayNumber is its exact
// inverse, so addDays steps one day at a time across every century.
#pragma once

#include <cstdint>
#include <string>

class qzDate
{
public:
    // Format codes shared by parseDate and toString.
    static constexpr std::int32_t kMonthNameForm = 0;
    static constexpr std::int32_t kYearMonthDay = 1;
    static constexpr std::int32_t kDayMonthYear = 2;
    static constexpr std::int32_t kMonthDayYear = 3;

    // Lengths of the months, indexed [leap year][month]; column 0 is 0.
    static constexpr std::int16_t days_pr_month[2][13] = {
        {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
        {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

    // Days before the first of a month, indexed [leap year][month - 1]; the
    // last column is the length of the year.
    static constexpr std::int16_t days_before_month[2][13] = {
        {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
        {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

    // "Jan" to "Dec" at 1 to 12; index 0 is the empty text.
    static const char* const month_names[13];

    // The largest day number a date with a 16-bit year can hold
    // (31 December 65535).
    static const std::uint32_t kMaxDayNumber;

    // 1 gives today's local date; any other value 1 January 1900.
    qzDate(std::int32_t inTodayFlag = 0);
    // Stores the three values and asserts that they name a real day; the
    // values stay stored even when the assertion fails.
    qzDate(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear);
    // Parses inText with parseDate; on failure asserts and keeps 1 January
    // 1900.
    qzDate(const std::string& inText, std::int32_t inFormat);

    // A day number is not offered as a constructor: an integer argument would
    // silently pick the today-flag constructor or this one by its type alone.
    static qzDate fromDayNumber(std::uint32_t inDayNumber);

    std::uint16_t getDay() const { return itsDay; }
    std::uint16_t getMonth() const { return itsMonth; }
    std::uint16_t getYear() const { return itsYear; }

    // Today's date from the local clock; unchanged when the clock cannot be
    // converted.
    void setToday();

    static bool isLeapYear(std::uint16_t inYear);
    bool isLeapYear() const { return isLeapYear(itsYear); }

    // The length of the month; 0 for a month outside 1 to 12.
    static std::int16_t daysInMonth(std::uint16_t inMonth, std::uint16_t inYear);

    // Days since 1 January 1900 (0 for that day). A date with a month outside
    // 1 to 12 asserts and gives -1; a date before 1900 gives a negative count.
    std::int32_t getDayNumber() const;

    // The date inDayNumber days after 1 January 1900. A number past
    // kMaxDayNumber asserts and leaves the date unchanged.
    void setDayNumber(std::uint32_t inDayNumber);

    // Moves by inDays (negative moves back). A result before 1900 or past
    // kMaxDayNumber asserts and leaves the date unchanged.
    void addDays(std::int32_t inDays);

    // True exactly for 1 January 1900.
    bool isDefaultDate() const;

    // Parses inText in the notation inFormat selects (see the table above);
    // outDate is written only on success. Never reads past the text.
    static bool parseDate(const std::string& inText, qzDate& outDate, std::int32_t inFormat);

    // Replaces outText with the date in the notation inFormat selects and
    // returns it. Month and day are two digits wide in the numeric forms; the
    // full year has no width, the two-digit year is two wide.
    std::string& toString(std::string& outText, std::int32_t inFormat, bool inWithYear,
                          bool inTwoDigitYear) const;

    friend bool operator==(const qzDate& inA, const qzDate& inB)
    {
        return inA.itsDay == inB.itsDay && inA.itsMonth == inB.itsMonth &&
               inA.itsYear == inB.itsYear;
    }
    friend bool operator!=(const qzDate& inA, const qzDate& inB) { return !(inA == inB); }

private:
    std::uint16_t itsDay = 1;
    std::uint16_t itsMonth = 1;
    std::uint16_t itsYear = 1900;
};
