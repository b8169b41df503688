// qzDateTime: a point in local time as one unsigned 32-bit count of seconds
// since 1 January 1970 00:00:00, taken on the local calendar with no time-zone
// conversion. 0 is that moment and also the "null" value; the range ends on
// 7 February 2106, past which the value wraps.
//
// Calendar arithmetic by unit code (add, alignAfter):
//   0 second, 1 minute, 2 hour, 3 day, 4 week: fixed lengths in seconds;
//   5 month, 6 year: on the calendar. A month step that lands on a day the
//   month does not have (31 January + 1 month) goes to the first of the next
//   month (1 March); a year step from 29 February to a common year gives
//   28 February.
//
// Text: the date's text (qzDate), a blank, and the 24-hour time ("Sep 14,
// 2011 10:05:03"); parseDateTime reads a date, a time, or a date followed by
// a time (see there).
#pragma once

#include <cstdint>
#include <string>

#include "corvel/util/qzdate.h"
#include "corvel/util/qztime.h"

class qzDateTime
{
public:
    // Unit codes.
    static constexpr std::int32_t kSecond = 0;
    static constexpr std::int32_t kMinute = 1;
    static constexpr std::int32_t kHour = 2;
    static constexpr std::int32_t kDay = 3;
    static constexpr std::int32_t kWeek = 4;
    static constexpr std::int32_t kMonth = 5;
    static constexpr std::int32_t kYear = 6;

    // The day number (qzDate, days since 1900) of 1 January 1970.
    static constexpr std::int32_t kDayNumber1970 = 25567;
    // Whole hours from 1 January 1601 to 1 January 1970.
    static constexpr std::uint32_t kHours1601To1970 = 3234576;

    // Value 0; the flag 1 takes the current local date and time.
    qzDateTime(std::int32_t inNowFlag = 0);
    // Combines the six numbers (see combine).
    qzDateTime(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear,
               std::uint16_t inHour, std::uint16_t inMinute, std::uint16_t inSecond);
    // Combines the date with the time's hour, minute and second; the
    // milliseconds are dropped.
    qzDateTime(const qzDate& inDate, const qzTime& inTime);
    // Takes the value inValue points to; a null pointer gives 0.
    explicit qzDateTime(const std::uint32_t* inValue);
    // Parses inText; text that does not parse leaves 0, silently.
    explicit qzDateTime(const std::string& inText);

    // A value is not offered as a constructor: an integer argument would pick
    // the now-flag constructor or that one by its type alone.
    static qzDateTime fromValue(std::uint32_t inValue);

    // The current local date and time, from one reading of the clock.
    void setToday();

    std::uint32_t getValue() const { return itsValue; }
    void set(std::uint32_t inValue) { itsValue = inValue; }
    void clear() { itsValue = 0; }
    bool isNull() const { return itsValue == 0; }

    qzDate getDate() const;
    // Hour, minute and second of the day; millisecond 0.
    qzTime getTime() const;

    // Whole hours since 1 January 1601 00:00.
    std::uint32_t getHours1601() const;
    void setHours1601(std::uint32_t inHours);

    // Moves by inAmount units (negative moves back). Units 0 to 4 add
    // inAmount * length in unsigned 32-bit arithmetic. Months and years move on
    // the calendar with the time of day unchanged; a result outside the range
    // of the value (before 1970, past 7 February 2106 06:28:15) asserts and
    // leaves the value unchanged. An unknown unit asserts and changes nothing.
    void add(std::int32_t inAmount, std::int32_t inUnit);

    // Moves this value forward to a point after inOther:
    // - units 0 to 3: into the step (inAmount units) after the one that holds
    //   inOther, keeping this value's position within a step;
    // - units 4, 5 and 6: adds inAmount units until the value is not below
    //   inOther (a value already there stays); should the range end before
    //   that, the value stops at the last step that fitted.
    // An amount of 0 or less, or an unknown unit, asserts and changes nothing.
    void alignAfter(const qzDateTime& inOther, std::int32_t inAmount, std::int32_t inUnit);

    // Replaces outText with the date's text (qzDate::toString with inDateFormat,
    // inWithYear, inTwoDigitYear), a blank and the 24-hour time with ":" (with
    // seconds when inWithSeconds), and returns it.
    std::string& toString(std::string& outText, std::int32_t inDateFormat, bool inWithYear,
                          bool inTwoDigitYear, bool inWithSeconds) const;
    // The same with date format 0 (month name form).
    std::string& toString(std::string& outText, bool inWithYear, bool inTwoDigitYear,
                          bool inWithSeconds) const;

    // Traces the text (format 0, full year, seconds) at verbosity 1.
    void traceDateTime() const;

    // Reads, with blanks around it ignored:
    // - text without a blank: a date (format 0 of qzDate) at 00:00:00, or else
    //   a time today;
    // - otherwise a date, a blank and a time, the time being what follows the
    //   last blank, or the last two words when the last is "AM" or "PM".
    // A time whose hour, minute or second is out of range (25:00, 10:75) is
    // refused. outDateTime is written only on success.
    static bool parseDateTime(const std::string& inText, qzDateTime& outDateTime);

    friend bool operator==(const qzDateTime& inA, const qzDateTime& inB)
    {
        return inA.itsValue == inB.itsValue;
    }
    friend bool operator!=(const qzDateTime& inA, const qzDateTime& inB) { return !(inA == inB); }
    friend bool operator<(const qzDateTime& inA, const qzDateTime& inB)
    {
        return inA.itsValue < inB.itsValue;
    }

private:
    // Asserts the time ranges; a date before 1970 gives 0, the time included.
    static std::uint32_t combine(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear,
                                 std::uint16_t inHour, std::uint16_t inMinute,
                                 std::uint16_t inSecond);

    std::uint32_t itsValue = 0;
};
