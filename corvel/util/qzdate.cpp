#include "corvel/util/qzdate.h"

#include "corvel/debug/qzdebug.h"
#include "corvel/platform/os_time.h"
#include "corvel/util/qzstringutils.h"
#include "corvel/util/qztextreader.h"

namespace
{

// Leap years from 1 up to and including inYear under the full rule.
constexpr std::int64_t leapYearsThrough(std::int64_t inYear)
{
    return inYear / 4 - inYear / 100 + inYear / 400;
}

// Leap days that lie before 1 January of inYear and after 1 January 1900.
// For years before 2101 this is (year - 1901) / 4; from 2101 on the century
// years that are not leap years are left out.
constexpr std::int64_t leapDaysBefore(std::int64_t inYear)
{
    if (inYear <= 1900)
        return 0;
    return leapYearsThrough(inYear - 1) - leapYearsThrough(1899);
}

constexpr bool leapYear(std::int64_t inYear)
{
    return (inYear % 4 == 0 && inYear % 100 != 0) || inYear % 400 == 0;
}

constexpr std::int64_t dayNumberOf(std::int64_t inDay, std::int64_t inMonth, std::int64_t inYear)
{
    return (inYear - 1900) * 365 + leapDaysBefore(inYear) +
           qzDate::days_before_month[leapYear(inYear) ? 1 : 0][inMonth - 1] + inDay - 1;
}

void appendPadded(std::string& ioText, std::uint32_t inValue, std::size_t inWidth)
{
    const std::string theDigits = std::to_string(inValue);
    if (theDigits.size() < inWidth)
        ioText.append(inWidth - theDigits.size(), '0');
    ioText += theDigits;
}

} // namespace

const char* const qzDate::month_names[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const std::uint32_t qzDate::kMaxDayNumber = static_cast<std::uint32_t>(dayNumberOf(31, 12, 65535));

qzDate::qzDate(std::int32_t inTodayFlag)
{
    if (inTodayFlag == 1)
        setToday();
}

qzDate::qzDate(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear)
    : itsDay(inDay), itsMonth(inMonth), itsYear(inYear)
{
    qzAssert((itsMonth >= 1) && (itsMonth <= 12));
    // The report names the table lookup; daysInMonth is the same lookup made
    // safe for a month past 12.
    if (!((itsDay >= 1) && (itsDay <= daysInMonth(itsMonth, itsYear))))
    {
        assertReport(__FILE__, __LINE__,
                     "(itsDay >= 1) && (itsDay <= days_pr_month[isLeapYear()][itsMonth])", nullptr);
        qzDebugBreak();
    }
}

qzDate::qzDate(const std::string& inText, std::int32_t inFormat)
{
    if (!parseDate(inText, *this, inFormat))
        qzAssert(false);
}

qzDate qzDate::fromDayNumber(std::uint32_t inDayNumber)
{
    qzDate theDate;
    theDate.setDayNumber(inDayNumber);
    return theDate;
}

void qzDate::setToday()
{
    corvel::platform::LocalTime theNow;
    if (!corvel::platform::localTimeNow(theNow))
        return;
    itsDay = static_cast<std::uint16_t>(theNow.day);
    itsMonth = static_cast<std::uint16_t>(theNow.month);
    itsYear = static_cast<std::uint16_t>(theNow.year);
}

bool qzDate::isLeapYear(std::uint16_t inYear) { return leapYear(inYear); }

std::int16_t qzDate::daysInMonth(std::uint16_t inMonth, std::uint16_t inYear)
{
    // Month 0 is the table's own 0 column; anything past 12 would read beyond
    // the table.
    if (inMonth > 12)
        return 0;
    return days_pr_month[isLeapYear(inYear) ? 1 : 0][inMonth];
}

std::int32_t qzDate::getDayNumber() const
{
    if (itsMonth < 1 || itsMonth > 12)
    {
        qzAssert((itsMonth >= 1) && (itsMonth <= 12));
        return -1;
    }
    return static_cast<std::int32_t>(dayNumberOf(itsDay, itsMonth, itsYear));
}

void qzDate::setDayNumber(std::uint32_t inDayNumber)
{
    if (inDayNumber > kMaxDayNumber)
    {
        qzAssert(inDayNumber <= kMaxDayNumber);
        return;
    }
    const std::int64_t theNumber = inDayNumber;

    // The estimate is never too small and at most a few years too large: step
    // back until the year starts on or before the day.
    std::int64_t theYear = theNumber / 365 + 1900;
    std::int64_t theDayOfYear = 0;
    for (;;)
    {
        const std::int64_t theLeapDays = leapDaysBefore(theYear);
        const std::int64_t theRest = theNumber - (theYear - 1900) * 365;
        if (theRest >= theLeapDays)
        {
            theDayOfYear = theRest - theLeapDays;
            break;
        }
        --theYear;
    }

    int theLeap = leapYear(theYear) ? 1 : 0;
    // Months are at most 31 days long, so this lands on the month or before it.
    std::int64_t theMonth = (theDayOfYear - 1) / 31 + 1;
    std::int64_t theRest = theDayOfYear - days_before_month[theLeap][theMonth - 1];
    while (theRest >= days_pr_month[theLeap][theMonth])
    {
        theRest -= days_pr_month[theLeap][theMonth];
        ++theMonth;
        if (theMonth > 12)
        {
            theMonth = 1;
            ++theYear;
            theLeap = leapYear(theYear) ? 1 : 0;
        }
    }

    itsYear = static_cast<std::uint16_t>(theYear);
    itsMonth = static_cast<std::uint16_t>(theMonth);
    itsDay = static_cast<std::uint16_t>(theRest + 1);
    qzAssert(itsDay > 0);
}

void qzDate::addDays(std::int32_t inDays)
{
    const std::int64_t theNumber = static_cast<std::int64_t>(getDayNumber()) + inDays;
    if (theNumber < 0 || theNumber > static_cast<std::int64_t>(kMaxDayNumber))
    {
        qzAssertText(false, "addDays leaves the range of the day count");
        return;
    }
    setDayNumber(static_cast<std::uint32_t>(theNumber));
}

bool qzDate::isDefaultDate() const { return itsDay == 1 && itsMonth == 1 && itsYear == 1900; }

bool qzDate::parseDate(const std::string& inText, qzDate& outDate, std::int32_t inFormat)
{
    // Codes past 3 name no reading order for the numbers.
    if (inFormat < kMonthNameForm || inFormat > kMonthDayYear)
        return false;

    qzTextReader theReader(inText);
    theReader.skipWhite();

    std::uint32_t theA = 0;
    std::uint32_t theB = 0;
    std::uint32_t theC = 0;
    std::int32_t theFormat = inFormat;

    if (isDigit(theReader.peek()))
    {
        char theSeparator = '\0';
        char theSecond = '\0';
        if (!theReader.readNumber(theA) || !theReader.get(theSeparator))
            return false;
        if (theSeparator != '.' && theSeparator != '/' && theSeparator != '-')
            return false;
        if (!theReader.readNumber(theB) || !theReader.get(theSecond) || theSecond != theSeparator)
            return false;
        if (!theReader.readNumber(theC))
            return false;
        theReader.skipWhite();
        if (theFormat == kMonthNameForm)
        {
            if (theSeparator == '-' || theA > 1969)
                theFormat = kYearMonthDay;
            else if (theSeparator == '.')
                theFormat = kDayMonthYear;
            else
                theFormat = kMonthDayYear;
        }
    }
    else
    {
        if (inFormat != kMonthNameForm)
            return false;
        const std::string theWord = theReader.readWord();
        std::uint32_t theMonth = 0;
        for (std::uint32_t curMonth = 1; curMonth <= 12; ++curMonth)
        {
            if (equalStrings(theWord, month_names[curMonth], false))
            {
                theMonth = curMonth;
                break;
            }
        }
        if (theMonth == 0)
            return false;
        char theComma = '\0';
        if (!theReader.readNumber(theB))
            return false;
        theReader.skipWhite();
        if (!theReader.get(theComma) || theComma != ',')
            return false;
        theReader.skipWhite();
        if (!theReader.readNumber(theC))
            return false;
        theReader.skipWhite();
        theA = theMonth;
        theFormat = kMonthDayYear;
    }

    if (!theReader.atEnd())
        return false;

    std::uint32_t theDay = 0;
    std::uint32_t theMonth = 0;
    std::uint32_t theYear = 0;
    switch (theFormat)
    {
    case kYearMonthDay:
        theYear = theA, theMonth = theB, theDay = theC;
        break;
    case kDayMonthYear:
        theDay = theA, theMonth = theB, theYear = theC;
        break;
    default:
        theMonth = theA, theDay = theB, theYear = theC;
        break;
    }

    if (theYear < 70)
        theYear += 2000;
    else if (theYear < 100)
        theYear += 1900;

    if (theYear < 1970 || theYear > 2050 || theMonth < 1 || theMonth > 12 || theDay < 1)
        return false;
    const auto theYear16 = static_cast<std::uint16_t>(theYear);
    const auto theMonth16 = static_cast<std::uint16_t>(theMonth);
    if (theDay > static_cast<std::uint32_t>(daysInMonth(theMonth16, theYear16)))
        return false;

    outDate.itsDay = static_cast<std::uint16_t>(theDay);
    outDate.itsMonth = theMonth16;
    outDate.itsYear = theYear16;
    return true;
}

std::string& qzDate::toString(std::string& outText, std::int32_t inFormat, bool inWithYear,
                              bool inTwoDigitYear) const
{
    outText.clear();
    const std::uint32_t theYear = inTwoDigitYear ? itsYear % 100u : itsYear;
    const std::size_t theYearWidth = inTwoDigitYear ? 2 : 0;

    switch (inFormat)
    {
    case kYearMonthDay:
        if (inWithYear)
        {
            appendPadded(outText, theYear, theYearWidth);
            outText += '-';
        }
        appendPadded(outText, itsMonth, 2);
        outText += '-';
        appendPadded(outText, itsDay, 2);
        break;
    case kDayMonthYear:
        appendPadded(outText, itsDay, 2);
        outText += '.';
        appendPadded(outText, itsMonth, 2);
        if (inWithYear)
        {
            outText += '.';
            appendPadded(outText, theYear, theYearWidth);
        }
        break;
    case kMonthDayYear:
        appendPadded(outText, itsMonth, 2);
        outText += '/';
        appendPadded(outText, itsDay, 2);
        if (inWithYear)
        {
            outText += '/';
            appendPadded(outText, theYear, theYearWidth);
        }
        break;
    default:
        // An invalid month prints no name rather than reading past the table.
        outText += month_names[itsMonth <= 12 ? itsMonth : 0];
        outText += ' ';
        appendPadded(outText, itsDay, 0);
        if (inWithYear)
        {
            outText += ", ";
            appendPadded(outText, theYear, theYearWidth);
        }
        break;
    }
    return outText;
}
