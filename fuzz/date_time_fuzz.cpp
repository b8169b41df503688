// Parses fuzz bytes as a date, under a format code taken from the first byte
// and under every defined code, and as a time of day. Whatever parses must be
// a valid date in the accepted window (or a time), and must print and parse
// back to itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "corvel/util/qzdate.h"
#include "corvel/util/qztime.h"

namespace
{

void check(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

void fuzzDate(const std::string& inText, std::int32_t inFormat)
{
    qzDate theDate(1, 1, 1900);
    if (!qzDate::parseDate(inText, theDate, inFormat))
    {
        check(theDate.isDefaultDate());
        return;
    }
    check(theDate.getYear() >= 1970 && theDate.getYear() <= 2050);
    check(theDate.getMonth() >= 1 && theDate.getMonth() <= 12);
    check(theDate.getDay() >= 1 &&
          theDate.getDay() <= qzDate::daysInMonth(theDate.getMonth(), theDate.getYear()));
    check(qzDate::fromDayNumber(static_cast<std::uint32_t>(theDate.getDayNumber())) == theDate);

    for (std::int32_t curFormat = 0; curFormat <= 3; ++curFormat)
    {
        std::string thePrinted;
        theDate.toString(thePrinted, curFormat, true, false);
        qzDate theBack;
        check(qzDate::parseDate(thePrinted, theBack, curFormat));
        check(theBack == theDate);
    }
}

void fuzzTime(const std::string& inText)
{
    qzTime theTime;
    theTime.set(1, 2, 3, 4);
    qzTime theParsed = theTime;
    if (!qzTime::parseTime(inText, theParsed))
    {
        check(theParsed == theTime);
        return;
    }
    std::string thePrinted;
    theParsed.toString(thePrinted, ":", true, true);
    qzTime theBack;
    check(qzTime::parseTime(thePrinted, theBack));
    check(theBack.getHour() == theParsed.getHour() &&
          theBack.getMinute() == theParsed.getMinute() &&
          theBack.getSecond() == theParsed.getSecond() && theBack.getMillisecond() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    if (inSize == 0)
        return 0;
    // The first byte as a signed code reaches negative and undefined codes too.
    const auto theCode = static_cast<std::int32_t>(static_cast<std::int8_t>(inData[0]));
    const std::string theText(reinterpret_cast<const char*>(inData + 1), inSize - 1);

    fuzzDate(theText, theCode);
    for (std::int32_t curFormat = 0; curFormat <= 3; ++curFormat)
        fuzzDate(theText, curFormat);
    fuzzTime(theText);
    return 0;
}
