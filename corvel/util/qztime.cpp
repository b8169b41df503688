#include "corvel/util/qztime.h"

#include "corvel/platform/os_time.h"
#include "corvel/util/qzstringutils.h"
#include "corvel/util/qztextreader.h"

namespace
{

void appendPadded(std::string& ioText, std::uint32_t inValue, std::size_t inWidth)
{
    const std::string theDigits = std::to_string(inValue);
    if (theDigits.size() < inWidth)
        ioText.append(inWidth - theDigits.size(), '0');
    ioText += theDigits;
}

} // namespace

qzTime::qzTime(std::int32_t inNowFlag)
{
    if (inNowFlag == 1)
        setToday();
}

qzTime qzTime::fromMilliseconds(std::uint32_t inMilliseconds)
{
    qzTime theTime;
    theTime.setMilliseconds(inMilliseconds);
    return theTime;
}

void qzTime::set(std::uint16_t inHour, std::uint16_t inMinute, std::uint16_t inSecond,
                 std::uint16_t inMillisecond)
{
    itsHour = inHour;
    itsMinute = inMinute;
    itsSecond = inSecond;
    itsMillisecond = inMillisecond;
}

void qzTime::setToday()
{
    corvel::platform::LocalTime theNow;
    if (!corvel::platform::localTimeNow(theNow))
        return;
    itsHour = static_cast<std::uint16_t>(theNow.hour);
    itsMinute = static_cast<std::uint16_t>(theNow.minute);
    itsSecond = static_cast<std::uint16_t>(theNow.second);
    itsMillisecond = 0;
}

std::int32_t qzTime::toMilliseconds() const
{
    // Unsigned arithmetic: an hour past 596 overflows 32 bits, which must
    // wrap rather than be undefined.
    const std::uint32_t theSeconds =
        std::uint32_t{itsMinute} * 60u + std::uint32_t{itsHour} * 3600u + std::uint32_t{itsSecond};
    return static_cast<std::int32_t>(theSeconds * 1000u + itsMillisecond);
}

void qzTime::setMilliseconds(std::uint32_t inMilliseconds)
{
    itsMillisecond = static_cast<std::uint16_t>(inMilliseconds % 1000u);
    itsSecond = static_cast<std::uint16_t>((inMilliseconds / 1000u) % 60u);
    itsMinute = static_cast<std::uint16_t>((inMilliseconds / 60000u) % 60u);
    itsHour = static_cast<std::uint16_t>(inMilliseconds / 3600000u);
}

void qzTime::clear() { set(0, 0, 0, 0); }

bool qzTime::isNull() const
{
    return itsHour == 0 && itsMinute == 0 && itsSecond == 0 && itsMillisecond == 0;
}

std::string& qzTime::toString(std::string& outText, const std::string& inSeparator,
                              bool inWithSeconds, bool in24Hour) const
{
    outText.clear();
    if (in24Hour)
        appendPadded(outText, itsHour, 2);
    else if (itsHour == 0)
        appendPadded(outText, 12, 0);
    else if (itsHour > 12)
        appendPadded(outText, itsHour - 12u, 0);
    else
        appendPadded(outText, itsHour, 0);

    outText += inSeparator;
    appendPadded(outText, itsMinute, 2);
    if (inWithSeconds)
    {
        outText += inSeparator;
        appendPadded(outText, itsSecond, 2);
    }
    if (!in24Hour)
        outText += itsHour < 12 ? " AM" : " PM";
    return outText;
}

bool qzTime::parseTime(const std::string& inText, qzTime& outTime)
{
    qzTextReader theReader(inText);
    std::uint16_t theHour = 0;
    std::uint16_t theMinute = 0;
    std::uint16_t theSecond = 0;
    std::uint16_t theMillisecond = 0;

    theReader.skipWhite();
    if (!theReader.readNumber(theHour) || theReader.peek() != ':')
        return false;
    theReader.skip();
    if (!theReader.readNumber(theMinute))
        return false;
    if (theReader.peek() == ':')
    {
        theReader.skip();
        if (!theReader.readNumber(theSecond))
            return false;
        if (theReader.peek() == ':')
        {
            theReader.skip();
            if (!theReader.readNumber(theMillisecond))
                return false;
        }
    }

    if (theReader.peek() == ' ')
    {
        const std::string theSuffix = theReader.readWord();
        if (!theSuffix.empty())
        {
            if (equalStrings(theSuffix, "AM", false))
            {
                if (theHour == 12)
                    theHour = 0;
            }
            else if (equalStrings(theSuffix, "PM", false))
            {
                if (theHour < 12)
                    theHour = static_cast<std::uint16_t>(theHour + 12);
            }
            else
                return false;
        }
    }

    theReader.skipWhite();
    if (!theReader.atEnd())
        return false;

    outTime.set(theHour, theMinute, theSecond, theMillisecond);
    return true;
}
