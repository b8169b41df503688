#include "json_text.h"

#include <cstdint>
#include <cstdio>

namespace
{

constexpr const char* theReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the well-formed UTF-8 sequence starting at inAt, or 0 when
// it is ill-formed; outConsumed is then how many bytes to replace (the
// longest start that could have been valid, at least one).
std::size_t sequenceLength(const std::string& inText, std::size_t inAt, std::size_t& outConsumed)
{
    const auto theLead = static_cast<std::uint8_t>(inText[inAt]);
    std::size_t theLength = 0;
    std::uint8_t theLow = 0x80; // range of the second byte
    std::uint8_t theHigh = 0xBF;
    if (theLead >= 0xC2 && theLead <= 0xDF)
        theLength = 2;
    else if (theLead >= 0xE0 && theLead <= 0xEF)
    {
        theLength = 3;
        if (theLead == 0xE0)
            theLow = 0xA0; // no overlong forms
        else if (theLead == 0xED)
            theHigh = 0x9F; // no surrogates
    }
    else if (theLead >= 0xF0 && theLead <= 0xF4)
    {
        theLength = 4;
        if (theLead == 0xF0)
            theLow = 0x90;
        else if (theLead == 0xF4)
            theHigh = 0x8F; // nothing above U+10FFFF
    }
    outConsumed = 1;
    if (theLength == 0)
        return 0;
    for (std::size_t curIndex = 1; curIndex < theLength; ++curIndex)
    {
        if (inAt + curIndex >= inText.size())
            return 0;
        const auto theByte = static_cast<std::uint8_t>(inText[inAt + curIndex]);
        const std::uint8_t theMin = curIndex == 1 ? theLow : 0x80;
        const std::uint8_t theMax = curIndex == 1 ? theHigh : 0xBF;
        if (theByte < theMin || theByte > theMax)
            return 0;
        outConsumed = curIndex + 1;
    }
    return theLength;
}

} // namespace

std::string jsonString(const std::string& inText)
{
    std::string theOut;
    theOut.reserve(inText.size() + 2);
    theOut += '"';
    std::size_t curAt = 0;
    while (curAt < inText.size())
    {
        const auto theByte = static_cast<std::uint8_t>(inText[curAt]);
        if (theByte >= 0x80)
        {
            std::size_t theConsumed = 1;
            const std::size_t theLength = sequenceLength(inText, curAt, theConsumed);
            if (theLength == 0)
                theOut += theReplacement;
            else
                theOut.append(inText, curAt, theLength);
            curAt += theLength == 0 ? theConsumed : theLength;
            continue;
        }
        switch (theByte)
        {
        case '"':
            theOut += "\\\"";
            break;
        case '\\':
            theOut += "\\\\";
            break;
        case '\b':
            theOut += "\\b";
            break;
        case '\f':
            theOut += "\\f";
            break;
        case '\n':
            theOut += "\\n";
            break;
        case '\r':
            theOut += "\\r";
            break;
        case '\t':
            theOut += "\\t";
            break;
        default:
            if (theByte < 0x20)
            {
                char theEscape[8];
                std::snprintf(theEscape, sizeof theEscape, "\\u%04x",
                              static_cast<unsigned>(theByte));
                theOut += theEscape;
            }
            else
                theOut += static_cast<char>(theByte);
        }
        ++curAt;
    }
    theOut += '"';
    return theOut;
}

std::string jsonStrings(const std::vector<std::string>& inTexts)
{
    std::string theOut = "[";
    for (const std::string& curText : inTexts)
    {
        if (theOut.size() > 1)
            theOut += ',';
        theOut += jsonString(curText);
    }
    return theOut + "]";
}
