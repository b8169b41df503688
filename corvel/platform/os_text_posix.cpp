#include "corvel/platform/os_text.h"

#include "corvel/platform/utf8.h"

#include <cstdint>

namespace corvel::platform
{

std::string wideToNarrow(const char16_t* inWide)
{
    std::string theResult;
    if (inWide == nullptr)
        return theResult;
    for (const char16_t* cur = inWide; *cur != 0; ++cur)
    {
        std::uint32_t theUnit = *cur;
        if (theUnit >= 0xD800 && theUnit <= 0xDBFF)
        {
            // A high surrogate must be followed by a low one; the terminator
            // or anything else makes the whole text unconvertible.
            const std::uint32_t theLow = cur[1];
            if (theLow < 0xDC00 || theLow > 0xDFFF)
                return std::string();
            ++cur;
            theUnit = 0x10000 + ((theUnit - 0xD800) << 10) + (theLow - 0xDC00);
        }
        else if (theUnit >= 0xDC00 && theUnit <= 0xDFFF)
        {
            return std::string();
        }
        appendUtf8(theResult, theUnit);
    }
    return theResult;
}

std::string wideToNarrow(const std::wstring& inWide)
{
    std::u16string theUtf16;
    theUtf16.reserve(inWide.size() * 2);
    for (wchar_t curChar : inWide)
    {
        const std::uint32_t theCode = static_cast<std::uint32_t>(curChar);
        if (theCode >= 0x10000 && theCode <= 0x10FFFF)
        {
            theUtf16 += static_cast<char16_t>(0xD800 + ((theCode - 0x10000) >> 10));
            theUtf16 += static_cast<char16_t>(0xDC00 + ((theCode - 0x10000) & 0x3FF));
        }
        else
            theUtf16 += static_cast<char16_t>(theCode);
    }
    std::string theNarrow = wideToNarrow(theUtf16.c_str());
    wipeText(theUtf16);
    return theNarrow;
}

std::wstring narrowToWide(const std::string& inNarrow)
{
    std::wstring theWide;
    theWide.reserve(inNarrow.size());
    std::size_t curIndex = 0;
    while (curIndex < inNarrow.size())
    {
        const unsigned char theLead = static_cast<unsigned char>(inNarrow[curIndex]);
        const std::size_t theLength = theLead < 0x80           ? 1
                                      : (theLead >> 5) == 0x6  ? 2
                                      : (theLead >> 4) == 0xE  ? 3
                                      : (theLead >> 3) == 0x1E ? 4
                                                               : 0;
        std::uint32_t theCode = theLength == 1   ? theLead
                                : theLength == 2 ? (theLead & 0x1Fu)
                                : theLength == 3 ? (theLead & 0x0Fu)
                                                 : (theLead & 0x07u);
        bool theValid = theLength != 0 && curIndex + theLength <= inNarrow.size();
        for (std::size_t curByte = 1; theValid && curByte < theLength; ++curByte)
        {
            const unsigned char theNext = static_cast<unsigned char>(inNarrow[curIndex + curByte]);
            theValid = (theNext & 0xC0) == 0x80;
            theCode = (theCode << 6) | (theNext & 0x3Fu);
        }
        if (!theValid)
        {
            theWide += static_cast<wchar_t>(theLead);
            ++curIndex;
            continue;
        }
        theWide += static_cast<wchar_t>(theCode);
        curIndex += theLength;
    }
    return theWide;
}

} // namespace corvel::platform
