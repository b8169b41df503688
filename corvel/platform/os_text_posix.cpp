#include "corvel/platform/os_text.h"

#include <cstdint>

namespace corvel::platform
{

namespace
{

void appendUtf8(std::string& ioOut, std::uint32_t inCodePoint)
{
    if (inCodePoint < 0x80)
    {
        ioOut += static_cast<char>(inCodePoint);
    }
    else if (inCodePoint < 0x800)
    {
        ioOut += static_cast<char>(0xC0 | (inCodePoint >> 6));
        ioOut += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    }
    else if (inCodePoint < 0x10000)
    {
        ioOut += static_cast<char>(0xE0 | (inCodePoint >> 12));
        ioOut += static_cast<char>(0x80 | ((inCodePoint >> 6) & 0x3F));
        ioOut += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    }
    else
    {
        ioOut += static_cast<char>(0xF0 | (inCodePoint >> 18));
        ioOut += static_cast<char>(0x80 | ((inCodePoint >> 12) & 0x3F));
        ioOut += static_cast<char>(0x80 | ((inCodePoint >> 6) & 0x3F));
        ioOut += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    }
}

} // namespace

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

} // namespace corvel::platform
