#include "corvel/util/qzdatetime.h"

#include "corvel/debug/qzdebug.h"
#include "corvel/platform/os_time.h"
#include "corvel/util/qzstringutils.h"

namespace
{

constexpr std::uint32_t kSecondsPerDay = 86400;

// Lengths of units 0 to 4 in seconds.
constexpr std::uint32_t kUnitSeconds[5] = {1, 60, 3600, kSecondsPerDay, 7 * kSecondsPerDay};

// The years a value can hold (it ends in February 2106).
constexpr std::int64_t kFirstYear = 1970;
constexpr std::int64_t kLastYear = 2106;
constexpr std::int64_t kLastValue = 0xFFFFFFFF;

bool isTimeInRange(const qzTime& inTime)
{
    return inTime.getHour() < 24 && inTime.getMinute() < 60 && inTime.getSecond() < 60;
}

bool isAmPm(const std::string& inText)
{
    return equalStrings(inText, "AM", false) || equalStrings(inText, "PM", false);
}

} // namespace

qzDateTime::qzDateTime(std::int32_t inNowFlag)
{
    if (inNowFlag == 1)
        setToday();
}

qzDateTime::qzDateTime(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear,
                       std::uint16_t inHour, std::uint16_t inMinute, std::uint16_t inSecond)
    : itsValue(combine(inDay, inMonth, inYear, inHour, inMinute, inSecond))
{
}

qzDateTime::qzDateTime(const qzDate& inDate, const qzTime& inTime)
    : itsValue(combine(inDate.getDay(), inDate.getMonth(), inDate.getYear(), inTime.getHour(),
                       inTime.getMinute(), inTime.getSecond()))
{
}

qzDateTime::qzDateTime(const std::uint32_t* inValue) : itsValue(inValue != nullptr ? *inValue : 0)
{
}

qzDateTime::qzDateTime(const std::string& inText) { parseDateTime(inText, *this); }

qzDateTime qzDateTime::fromValue(std::uint32_t inValue) { return qzDateTime(&inValue); }

std::uint32_t qzDateTime::combine(std::uint16_t inDay, std::uint16_t inMonth, std::uint16_t inYear,
                                  std::uint16_t inHour, std::uint16_t inMinute,
                                  std::uint16_t inSecond)
{
    qzAssert(inHour < 24 && inMinute < 60 && inSecond < 60);
    const qzDate theDate(inDay, inMonth, inYear);
    const std::int32_t theDays = theDate.getDayNumber() - kDayNumber1970;
    if (theDays < 0)
        return 0;
    return static_cast<std::uint32_t>(theDays) * kSecondsPerDay + std::uint32_t{inHour} * 3600u +
           std::uint32_t{inMinute} * 60u + std::uint32_t{inSecond};
}

void qzDateTime::setToday()
{
    // One reading of the clock: a date and a time read one after the other
    // could straddle midnight and be a day off.
    corvel::platform::LocalTime theNow;
    if (!corvel::platform::localTimeNow(theNow))
        return;
    // A leap second is shown as the last second of its minute.
    const int theSecond = theNow.second > 59 ? 59 : theNow.second;
    itsValue =
        combine(static_cast<std::uint16_t>(theNow.day), static_cast<std::uint16_t>(theNow.month),
                static_cast<std::uint16_t>(theNow.year), static_cast<std::uint16_t>(theNow.hour),
                static_cast<std::uint16_t>(theNow.minute), static_cast<std::uint16_t>(theSecond));
}

qzDate qzDateTime::getDate() const
{
    return qzDate::fromDayNumber(itsValue / kSecondsPerDay +
                                 static_cast<std::uint32_t>(kDayNumber1970));
}

qzTime qzDateTime::getTime() const
{
    qzTime theTime;
    theTime.set(static_cast<std::uint16_t>((itsValue % kSecondsPerDay) / 3600u),
                static_cast<std::uint16_t>((itsValue % 3600u) / 60u),
                static_cast<std::uint16_t>(itsValue % 60u), 0);
    return theTime;
}

std::uint32_t qzDateTime::getHours1601() const { return itsValue / 3600u + kHours1601To1970; }

void qzDateTime::setHours1601(std::uint32_t inHours)
{
    itsValue = (inHours - kHours1601To1970) * 3600u;
}

void qzDateTime::add(std::int32_t inAmount, std::int32_t inUnit)
{
    if (inUnit >= kSecond && inUnit <= kWeek)
    {
        itsValue += static_cast<std::uint32_t>(inAmount) * kUnitSeconds[inUnit];
        return;
    }
    if (inUnit != kMonth && inUnit != kYear)
    {
        qzAssert(false);
        return;
    }

    const qzDate theDate = getDate();
    const qzTime theTime = getTime();
    std::int64_t theYear = theDate.getYear();
    std::int64_t theMonth = theDate.getMonth();
    std::int64_t theDay = theDate.getDay();
    if (inUnit == kMonth)
    {
        // The same as stepping the year by one while the month leaves 1 to
        // 12, without a loop as long as the amount.
        const std::int64_t theMonthIndex = theYear * 12 + (theMonth - 1) + inAmount;
        theYear = theMonthIndex / 12;
        theMonth = theMonthIndex % 12 + 1;
        if (theMonth < 1)
        {
            theMonth += 12;
            theYear -= 1;
        }
        if (theYear >= 1 && theYear <= 65535 &&
            theDay > qzDate::daysInMonth(static_cast<std::uint16_t>(theMonth),
                                         static_cast<std::uint16_t>(theYear)))
        {
            theDay = 1;
            if (++theMonth > 12)
            {
                theMonth = 1;
                ++theYear;
            }
        }
    }
    else
    {
        theYear += inAmount;
        if (theMonth == 2 && theDay == 29 && theYear >= 1 && theYear <= 65535 &&
            !qzDate::isLeapYear(static_cast<std::uint16_t>(theYear)))
            theDay = 28;
    }

    qzAssert(theYear >= 1970 && theYear <= 2106);
    qzAssert(theMonth > 0 && theMonth < 13);
    // A year the value cannot hold would give 0 or a wrapped value: keep the
    // value instead.
    if (theYear < kFirstYear || theYear > kLastYear)
        return;
    // The last year ends early (7 February 2106 06:28:15).
    const std::int64_t theDays =
        qzDate(static_cast<std::uint16_t>(theDay), static_cast<std::uint16_t>(theMonth),
               static_cast<std::uint16_t>(theYear))
            .getDayNumber() -
        kDayNumber1970;
    const std::int64_t theSeconds = theDays * kSecondsPerDay + theTime.getHour() * 3600 +
                                    theTime.getMinute() * 60 + theTime.getSecond();
    qzAssert(theSeconds <= kLastValue);
    if (theSeconds > kLastValue)
        return;
    itsValue = combine(static_cast<std::uint16_t>(theDay), static_cast<std::uint16_t>(theMonth),
                       static_cast<std::uint16_t>(theYear), theTime.getHour(), theTime.getMinute(),
                       theTime.getSecond());
}

void qzDateTime::alignAfter(const qzDateTime& inOther, std::int32_t inAmount, std::int32_t inUnit)
{
    qzAssert(inAmount > 0);
    if (inAmount <= 0)
        return;

    if (inUnit >= kSecond && inUnit <= kDay)
    {
        const std::uint64_t theStep =
            std::uint64_t{static_cast<std::uint32_t>(inAmount)} * kUnitSeconds[inUnit];
        const std::uint64_t theOther = inOther.itsValue;
        itsValue = static_cast<std::uint32_t>((itsValue % theStep) + theOther -
                                              (theOther % theStep) + theStep);
        return;
    }
    if (inUnit != kWeek && inUnit != kMonth && inUnit != kYear)
    {
        qzAssert(false);
        return;
    }
    // Each step moves forward; one that does not (the end of the range) ends
    // the walk at the last value that fitted.
    while (itsValue < inOther.itsValue)
    {
        const std::uint32_t thePrevious = itsValue;
        add(inAmount, inUnit);
        if (itsValue <= thePrevious)
        {
            itsValue = thePrevious;
            return;
        }
    }
}

std::string& qzDateTime::toString(std::string& outText, std::int32_t inDateFormat, bool inWithYear,
                                  bool inTwoDigitYear, bool inWithSeconds) const
{
    std::string theTimeText;
    getTime().toString(theTimeText, ":", inWithSeconds, true);
    getDate().toString(outText, inDateFormat, inWithYear, inTwoDigitYear);
    outText += ' ';
    outText += theTimeText;
    return outText;
}

std::string& qzDateTime::toString(std::string& outText, bool inWithYear, bool inTwoDigitYear,
                                  bool inWithSeconds) const
{
    return toString(outText, qzDate::kMonthNameForm, inWithYear, inTwoDigitYear, inWithSeconds);
}

void qzDateTime::traceDateTime() const
{
    std::string theText;
    toString(theText, qzDate::kMonthNameForm, true, false, true);
    traceText(1, __FILE__, __LINE__, theText.c_str());
}

bool qzDateTime::parseDateTime(const std::string& inText, qzDateTime& outDateTime)
{
    std::string theText = inText;
    trim(theText, ' ');

    const std::size_t theLastBlank = theText.rfind(' ');
    if (theLastBlank == std::string::npos)
    {
        qzDate theDate;
        if (qzDate::parseDate(theText, theDate, qzDate::kMonthNameForm))
        {
            outDateTime = qzDateTime(theDate, qzTime());
            return true;
        }
        qzTime theTime;
        if (qzTime::parseTime(theText, theTime))
        {
            if (!isTimeInRange(theTime))
                return false;
            outDateTime = qzDateTime(qzDate(1), theTime);
            return true;
        }
        return false;
    }

    std::size_t theTimeStart = theLastBlank + 1;
    std::string theTimeText = theText.substr(theTimeStart);
    if (isAmPm(theTimeText))
    {
        // "10:05 PM": the time starts after the blank before the number.
        const std::size_t theWordEnd = theText.find_last_not_of(' ', theLastBlank);
        if (theWordEnd != std::string::npos)
        {
            const std::size_t theEarlierBlank = theText.rfind(' ', theWordEnd);
            if (theEarlierBlank != std::string::npos)
            {
                theTimeStart = theEarlierBlank + 1;
                theTimeText = theText.substr(theTimeStart);
            }
        }
    }
    trim(theTimeText, ' ');
    std::string theDateText = theText.substr(0, theTimeStart);
    trim(theDateText, ' ');

    qzDate theDate;
    if (!qzDate::parseDate(theDateText, theDate, qzDate::kMonthNameForm))
        return false;
    qzTime theTime;
    if (!theTimeText.empty() && !qzTime::parseTime(theTimeText, theTime))
        return false;
    if (!isTimeInRange(theTime))
        return false;
    outDateTime = qzDateTime(theDate, theTime);
    return true;
}
