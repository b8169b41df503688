// Parses fuzz bytes as a date and time. Whatever parses must have a time of
// day in range, split back into the date and time it was combined from, and
// print and parse back to itself. The first four bytes also drive add and
// alignAfter with arbitrary amounts and units, which must finish.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/util/qzdatetime.h"

namespace
{

void check(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

void fuzzParse(const std::string& inText)
{
    qzDateTime theValue = qzDateTime::fromValue(12345);
    if (!qzDateTime::parseDateTime(inText, theValue))
    {
        check(theValue.getValue() == 12345);
        return;
    }
    const qzTime theTime = theValue.getTime();
    check(theTime.getHour() < 24 && theTime.getMinute() < 60 && theTime.getSecond() < 60);
    check(qzDateTime(theValue.getDate(), theTime) == theValue);

    for (std::int32_t curFormat = 1; curFormat <= 3; ++curFormat)
    {
        std::string thePrinted;
        theValue.toString(thePrinted, curFormat, true, false, true);
        qzDateTime theBack;
        check(qzDateTime::parseDateTime(thePrinted, theBack));
        check(theBack == theValue);
    }
}

void fuzzArithmetic(const std::uint8_t* inData, std::size_t inSize)
{
    if (inSize < 12)
        return;
    std::uint32_t theStart = 0;
    std::uint32_t theOther = 0;
    std::int32_t theAmount = 0;
    std::memcpy(&theStart, inData, 4);
    std::memcpy(&theOther, inData + 4, 4);
    std::memcpy(&theAmount, inData + 8, 4);
    const std::int32_t theUnit = static_cast<std::int32_t>(theAmount & 7);

    qzDateTime theValue = qzDateTime::fromValue(theStart);
    theValue.add(theAmount, theUnit);
    if (theUnit == qzDateTime::kMonth || theUnit == qzDateTime::kYear)
    {
        // Calendar steps keep the time of day.
        const qzTime theBefore = qzDateTime::fromValue(theStart).getTime();
        check(theValue.getTime() == theBefore);
    }

    // Small positive amounts keep the walk of the calendar units short.
    const std::int32_t theStep = 1 + static_cast<std::int32_t>((theAmount >> 3) & 0xFF);
    qzDateTime theAligned = qzDateTime::fromValue(theStart);
    theAligned.alignAfter(qzDateTime::fromValue(theOther), theStep, theUnit);
    if (theUnit >= qzDateTime::kWeek && theUnit <= qzDateTime::kYear && theStart <= theOther)
        check(theAligned.getValue() >= theStart);
    qzDateTime theRefused = qzDateTime::fromValue(theStart);
    theRefused.alignAfter(qzDateTime::fromValue(theOther), -theStep, theUnit);
    check(theRefused.getValue() == theStart);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*ioArgc*/, char*** /*ioArgv*/)
{
    // Assertions of the arithmetic are expected; keep them off the output.
    setInfoLog("", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    fuzzParse(std::string(reinterpret_cast<const char*>(inData), inSize));
    fuzzArithmetic(inData, inSize);
    return 0;
}
