#include "corvel/dns/qzdnsstringutils.h"

#include "corvel/debug/qzdebug.h"
#include "corvel/util/qzdate.h"
#include "corvel/util/qzstringutils.h"

std::uint32_t nextSerial(std::uint32_t curSerial) { return nextSerial(curSerial, qzDate(1)); }

std::uint32_t nextSerial(std::uint32_t curSerial, const qzDate& inToday)
{
    // Today's date bounds the date-based forms. The bounds are reckoned in
    // 64 bits so that no far-future date can wrap them into nonsense; for
    // every date up to the year 42949 they are the 32-bit values.
    const std::uint64_t theToday = std::uint64_t(inToday.getYear()) * 10000 +
                                   std::uint64_t(inToday.getMonth()) * 100 + inToday.getDay();
    std::uint64_t theResult = 0;
    if (curSerial == 0)
    {
        theResult = theToday * 100 + 1;
    }
    else
    {
        std::uint64_t theDivisor = 0;
        if (curSerial >= 19700101u && curSerial <= theToday)
            theDivisor = 1;
        else if (curSerial >= 197001010u && curSerial <= theToday * 10 + 9)
            theDivisor = 10;
        else if (curSerial >= 1970010100u && curSerial < theToday * 100 + 99)
            theDivisor = 100;

        if (theDivisor == 0)
        {
            theResult = std::uint32_t(curSerial + 1);
        }
        else
        {
            const std::uint64_t theDate = curSerial / theDivisor;
            const std::uint64_t theCounter = curSerial % theDivisor;
            // A plain date is widened to two counter digits.
            const std::uint64_t theMultiplier = theDivisor == 1 ? 100 : theDivisor;
            if (theDate < theToday)
                theResult = theToday * theMultiplier + 1;
            else if (theDate == theToday)
                theResult = theDate * theMultiplier + theCounter + 1;
            else
                theResult = std::uint32_t(curSerial + 1);
        }
    }
    if (theResult > 0xFFFFFFFFu)
        theResult = std::uint32_t(curSerial + 1);
    const std::uint32_t returnValue = static_cast<std::uint32_t>(theResult);
    qzAssert(returnValue > curSerial);
    return returnValue;
}

bool isReverseZoneName(const std::string& inName)
{
    return endsWith(inName, std::string(".in-addr.arpa."), false) ||
           endsWith(inName, std::string(".ip6.arpa."), false);
}

bool isValidLocalPart(const std::string& inText)
{
    if (inText.empty())
        return false;
    for (const char curChar : inText)
    {
        const unsigned char theByte = static_cast<unsigned char>(curChar);
        if (theByte < 32 || theByte > 126 || curChar == '@' || curChar == '\\')
            return false;
    }
    return true;
}

bool isValidDNSName(const std::string& inName, bool inAllowRoot)
{
    // The C-string test would stop at an embedded NUL and judge only the
    // text before it.
    if (inName.find('\0') != std::string::npos)
        return false;
    return isValidDNSName(inName.c_str(), inAllowRoot);
}

bool isValidMailName(const std::string& inText, bool allowHostmasterFormat,
                     bool requireHostmasterFormat)
{
    // The assertion reports its command as written, spaces and all.
    // clang-format off
    qzAssert(! requireHostmasterFormat || allowHostmasterFormat);
    // clang-format on
    std::string theLeft;
    std::string theRight;
    if (splitAt(inText, theLeft, theRight, '@', true, 0))
        return !requireHostmasterFormat && isValidLocalPart(theLeft) &&
               isValidDNSName(theRight, false);
    if (!allowHostmasterFormat)
        return false;

    // Hostmaster form: peel labels of the local part off the front until
    // the rest is a domain name. Each turn shortens the rest, so this ends.
    std::string theRest = inText;
    while (!isValidDNSName(theRest, false))
    {
        std::string theLabel;
        std::string theNewRest;
        if (!splitAt(theRest, theLabel, theNewRest, '.', true, 0))
            return false;
        if (!theLabel.empty() && theLabel.back() == '\\')
            theLabel.pop_back(); // it escaped a dot of the local part
        if (!isValidLocalPart(theLabel))
            return false;
        theRest = theNewRest;
    }
    return true;
}

std::string mailToHostmaster(const std::string& inText)
{
    const std::string::size_type theAt = inText.find('@');
    if (theAt == std::string::npos)
        return inText;
    std::string theText = makeAbsolute(inText);
    theText[theAt] = '.';
    // Escape the local part's dots, back to front so that each insertion
    // leaves the positions still to visit in place.
    for (std::string::size_type curPos = theAt; curPos-- > 1;)
    {
        if (theText[curPos] == '.')
            theText.insert(curPos, 1, '\\');
    }
    return theText;
}

std::string makeAbsolute(const std::string& inName) { return qualifyName(inName, std::string()); }
