// qzTextReader: a read cursor over a text for the small parsers of the
// framework (dates, times). Every read checks the end, so nothing past the
// text is ever touched; numbers are plain decimal digits that must fit the
// target type (a sign or a missing number fails, where a stream would read 0
// or a negative value).
#pragma once

#include <cstdint>
#include <limits>
#include <string>

class qzTextReader
{
public:
    explicit qzTextReader(const std::string& inText) : itsText(inText) {}

    bool atEnd() const { return itsPos >= itsText.size(); }
    char peek() const { return atEnd() ? '\0' : itsText[itsPos]; }
    void skip()
    {
        if (!atEnd())
            ++itsPos;
    }
    bool get(char& outChar)
    {
        if (atEnd())
            return false;
        outChar = itsText[itsPos++];
        return true;
    }
    void skipWhite()
    {
        while (!atEnd() && isWhite(itsText[itsPos]))
            ++itsPos;
    }
    // Skips white space, then reads decimal digits; false when there are none
    // or the value does not fit T.
    template <class T>
    bool readNumber(T& outValue)
    {
        skipWhite();
        if (atEnd() || !isDigitChar(itsText[itsPos]))
            return false;
        std::uint64_t theValue = 0;
        while (!atEnd() && isDigitChar(itsText[itsPos]))
        {
            theValue = theValue * 10 + static_cast<std::uint64_t>(itsText[itsPos] - '0');
            if (theValue > std::numeric_limits<T>::max())
                return false;
            ++itsPos;
        }
        outValue = static_cast<T>(theValue);
        return true;
    }
    // A word: the characters up to the next white space or the end.
    std::string readWord()
    {
        skipWhite();
        const std::size_t theStart = itsPos;
        while (!atEnd() && !isWhite(itsText[itsPos]))
            ++itsPos;
        return itsText.substr(theStart, itsPos - theStart);
    }

    static bool isWhite(char inChar)
    {
        return inChar == ' ' || inChar == '\t' || inChar == '\n' || inChar == '\r' ||
               inChar == '\v' || inChar == '\f';
    }

private:
    static bool isDigitChar(char inChar) { return inChar >= '0' && inChar <= '9'; }

    const std::string& itsText;
    std::size_t itsPos = 0;
};
