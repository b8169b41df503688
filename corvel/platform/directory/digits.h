// The digits every text form of the directory reads: decimal numbers with a
// bound (SID sub-authorities, ranged attribute names, ports) and hex digits
// (DN escapes, GUIDs, SID authorities).
#pragma once

#include <cstdint>
#include <string>

namespace corvel::directory::digits
{

// A decimal number of at most inMax at ioPos; advances ioPos past it. False
// when there is no digit there or the number passes inMax.
inline bool readDecimal(const std::string& inText, std::size_t& ioPos, std::uint64_t inMax,
                        std::uint64_t& outValue)
{
    const std::size_t theStart = ioPos;
    std::uint64_t theValue = 0;
    while (ioPos < inText.size() && inText[ioPos] >= '0' && inText[ioPos] <= '9')
    {
        theValue = theValue * 10 + static_cast<std::uint64_t>(inText[ioPos] - '0');
        if (theValue > inMax)
            return false;
        ++ioPos;
    }
    outValue = theValue;
    return ioPos > theStart;
}

// The value of one hex digit, either case; -1 for any other character.
inline int hexValue(char inChar)
{
    if (inChar >= '0' && inChar <= '9')
        return inChar - '0';
    if (inChar >= 'a' && inChar <= 'f')
        return inChar - 'a' + 10;
    if (inChar >= 'A' && inChar <= 'F')
        return inChar - 'A' + 10;
    return -1;
}

} // namespace corvel::directory::digits
