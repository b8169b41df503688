// One code point appended to text as UTF-8: shared by the conversions of
// wide text and of UTF-16 files, which differ in how they take their units.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::platform
{

inline void appendUtf8(std::string& ioOut, std::uint32_t inCodePoint)
{
    if (inCodePoint < 0x80)
        ioOut += static_cast<char>(inCodePoint);
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

} // namespace corvel::platform
