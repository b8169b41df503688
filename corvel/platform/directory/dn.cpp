#include "corvel/platform/directory/dn.h"

#include "corvel/platform/directory/digits.h"

#include <cstddef>

namespace corvel::directory::dn
{

namespace
{

const char theHexDigits[] = "0123456789abcdef";

using digits::hexValue;

bool isBlank(char inChar) { return inChar == ' ' || inChar == '\t'; }

void appendHexPair(std::string& ioText, unsigned char inByte)
{
    ioText += '\\';
    ioText += theHexDigits[inByte >> 4];
    ioText += theHexDigits[inByte & 0x0F];
}

// Trims blanks that are not escaped: the caller passes the span of raw text
// and we only look at the raw characters, so "\ " at the end survives.
void trimRaw(const std::string& inText, std::size_t& ioBegin, std::size_t& ioEnd)
{
    while (ioBegin < ioEnd && isBlank(inText[ioBegin]))
        ++ioBegin;
    while (ioEnd > ioBegin && isBlank(inText[ioEnd - 1]))
    {
        // An odd run of backslashes before the blank escapes it.
        std::size_t theSlashes = 0;
        for (std::size_t curPos = ioEnd - 1; curPos > ioBegin && inText[curPos - 1] == '\\';
             --curPos)
            ++theSlashes;
        if (theSlashes % 2 == 1)
            break;
        --ioEnd;
    }
}

// Unescapes a raw attribute value. False on a dangling backslash or a lone
// hex digit after a backslash.
bool unescapeValue(const std::string& inText, std::size_t inBegin, std::size_t inEnd,
                   std::string& outValue)
{
    outValue.clear();
    for (std::size_t curPos = inBegin; curPos < inEnd; ++curPos)
    {
        char curChar = inText[curPos];
        if (curChar != '\\')
        {
            outValue += curChar;
            continue;
        }
        if (curPos + 1 >= inEnd)
            return false;
        int theHigh = hexValue(inText[curPos + 1]);
        if (theHigh >= 0)
        {
            int theLow = curPos + 2 < inEnd ? hexValue(inText[curPos + 2]) : -1;
            if (theLow < 0)
                return false;
            outValue += static_cast<char>((theHigh << 4) | theLow);
            curPos += 2;
            continue;
        }
        outValue += inText[curPos + 1];
        ++curPos;
    }
    return true;
}

bool parseAva(const std::string& inText, std::size_t inBegin, std::size_t inEnd, Ava& outAva)
{
    std::size_t theEquals = inBegin;
    while (theEquals < inEnd && inText[theEquals] != '=')
    {
        if (inText[theEquals] == '\\')
            return false; // no escapes in a type
        ++theEquals;
    }
    if (theEquals >= inEnd)
        return false;
    std::size_t theTypeBegin = inBegin;
    std::size_t theTypeEnd = theEquals;
    trimRaw(inText, theTypeBegin, theTypeEnd);
    if (theTypeBegin == theTypeEnd)
        return false;
    for (std::size_t curPos = theTypeBegin; curPos < theTypeEnd; ++curPos)
        if (isBlank(inText[curPos]))
            return false;
    std::size_t theValueBegin = theEquals + 1;
    std::size_t theValueEnd = inEnd;
    trimRaw(inText, theValueBegin, theValueEnd);
    outAva.itsType.assign(inText, theTypeBegin, theTypeEnd - theTypeBegin);
    return unescapeValue(inText, theValueBegin, theValueEnd, outAva.itsValue);
}

bool parseRdn(const std::string& inText, std::size_t inBegin, std::size_t inEnd, Rdn& outRdn)
{
    trimRaw(inText, inBegin, inEnd);
    if (inBegin == inEnd)
        return false;
    outRdn.itsText.assign(inText, inBegin, inEnd - inBegin);
    outRdn.itsAvas.clear();
    std::size_t theStart = inBegin;
    for (std::size_t curPos = inBegin; curPos <= inEnd; ++curPos)
    {
        if (curPos < inEnd && inText[curPos] == '\\')
        {
            ++curPos; // the escaped character cannot split
            continue;
        }
        if (curPos == inEnd || inText[curPos] == '+')
        {
            Ava theAva;
            if (!parseAva(inText, theStart, curPos, theAva))
                return false;
            outRdn.itsAvas.push_back(std::move(theAva));
            theStart = curPos + 1;
        }
    }
    return true;
}

} // namespace

std::string toLowerAscii(const std::string& inText)
{
    std::string theResult(inText);
    for (char& curChar : theResult)
        if (curChar >= 'A' && curChar <= 'Z')
            curChar = static_cast<char>(curChar - 'A' + 'a');
    return theResult;
}

bool parseDN(const std::string& inDN, std::vector<Rdn>& outRdns)
{
    std::vector<Rdn> theRdns;
    std::size_t theStart = 0;
    const std::size_t theEnd = inDN.size();
    for (std::size_t curPos = 0; curPos <= theEnd; ++curPos)
    {
        if (curPos < theEnd && inDN[curPos] == '\\')
        {
            if (curPos + 1 >= theEnd)
                return false;
            ++curPos;
            continue;
        }
        if (curPos == theEnd || inDN[curPos] == ',' || inDN[curPos] == ';')
        {
            Rdn theRdn;
            if (!parseRdn(inDN, theStart, curPos, theRdn))
                return false;
            theRdns.push_back(std::move(theRdn));
            theStart = curPos + 1;
        }
    }
    outRdns = std::move(theRdns);
    return true;
}

std::string normalizeRdns(const std::vector<Rdn>& inRdns)
{
    std::string theKey;
    for (std::size_t curRdn = 0; curRdn < inRdns.size(); ++curRdn)
    {
        if (curRdn > 0)
            theKey += ',';
        const std::vector<Ava>& theAvas = inRdns[curRdn].itsAvas;
        for (std::size_t curAva = 0; curAva < theAvas.size(); ++curAva)
        {
            if (curAva > 0)
                theKey += '+';
            theKey += toLowerAscii(theAvas[curAva].itsType);
            theKey += '=';
            theKey += escapeDNValue(toLowerAscii(theAvas[curAva].itsValue));
        }
    }
    return theKey;
}

// The common DN ("CN=Alice Anders,OU=Users,DC=corp") needs no escaping,
// trimming or splitting of multi-valued RDNs: its normal form is its
// lower-case text. Large directories hold millions of such values, so they
// skip the full parse. False when the fast form does not apply.
bool normalizePlainDN(const std::string& inDN, std::string& outKey)
{
    bool theInValue = false;
    bool theSawEquals = false;
    char thePrevious = ',';
    for (char curChar : inDN)
    {
        unsigned char theByte = static_cast<unsigned char>(curChar);
        if (theByte < 0x20 || theByte == 0x7F)
            return false;
        switch (curChar)
        {
        case '\\':
        case '+':
        case '"':
        case ';':
        case '<':
        case '>':
        case '#':
        case '\t':
            return false;
        case ' ':
            // No blank next to a separator or at either end of a part.
            if (!theInValue || thePrevious == ',' || thePrevious == '=')
                return false;
            break;
        case '=':
            if (theInValue || thePrevious == ',' || thePrevious == ' ')
                return false; // empty type, blank before '=', or '=' in a value
            theInValue = true;
            theSawEquals = true;
            break;
        case ',':
            if (!theInValue || thePrevious == ' ' || thePrevious == '=')
                return false;
            theInValue = false;
            break;
        default:
            break;
        }
        thePrevious = curChar;
    }
    if (!theSawEquals || !theInValue || thePrevious == ' ' || thePrevious == '=')
        return false;
    outKey = toLowerAscii(inDN);
    return true;
}

bool normalizeDN(const std::string& inDN, std::string& outKey)
{
    if (normalizePlainDN(inDN, outKey))
        return true;
    std::vector<Rdn> theRdns;
    if (!parseDN(inDN, theRdns))
        return false;
    outKey = normalizeRdns(theRdns);
    return true;
}

std::string escapeDNValue(const std::string& inValue)
{
    std::string theResult;
    theResult.reserve(inValue.size() + 8);
    for (std::size_t curPos = 0; curPos < inValue.size(); ++curPos)
    {
        unsigned char curChar = static_cast<unsigned char>(inValue[curPos]);
        bool theLeading = curPos == 0;
        bool theTrailing = curPos + 1 == inValue.size();
        if (curChar < 0x20 || curChar == 0x7F)
        {
            appendHexPair(theResult, curChar);
            continue;
        }
        switch (curChar)
        {
        case '"':
        case '+':
        case ',':
        case ';':
        case '<':
        case '>':
        case '\\':
        case '=':
            theResult += '\\';
            break;
        case '#':
            if (theLeading)
                theResult += '\\';
            break;
        case ' ':
            if (theLeading || theTrailing)
                theResult += '\\';
            break;
        default:
            break;
        }
        theResult += static_cast<char>(curChar);
    }
    return theResult;
}

std::string escapeFilterValue(const std::string& inValue)
{
    std::string theResult;
    theResult.reserve(inValue.size() + 8);
    for (char curChar : inValue)
    {
        switch (curChar)
        {
        case '*':
        case '(':
        case ')':
        case '\\':
        case '\0':
            appendHexPair(theResult, static_cast<unsigned char>(curChar));
            break;
        default:
            theResult += curChar;
        }
    }
    return theResult;
}

std::string escapePathDN(const std::string& inDN)
{
    std::string theResult;
    theResult.reserve(inDN.size() + 8);
    for (std::size_t curPos = 0; curPos < inDN.size(); ++curPos)
    {
        const char curChar = inDN[curPos];
        if (curChar == '/')
        {
            theResult += "\\2f";
        }
        else if (curChar == '\\' && curPos + 1 < inDN.size())
        {
            // An escape pair is taken whole: an escaped '/' (backslash,
            // slash) becomes the one hex escape "\2f"; a backslash kept in
            // front of it would read back as a literal backslash and "2f".
            // An escaped backslash leaves a '/' after it a plain one.
            if (inDN[curPos + 1] == '/')
                theResult += "\\2f";
            else
            {
                theResult += curChar;
                theResult += inDN[curPos + 1];
            }
            ++curPos;
        }
        else
            theResult += curChar;
    }
    return theResult;
}

std::string ldapPath(const std::string& inDN) { return "LDAP://" + escapePathDN(inDN); }

bool parseLdapPath(const std::string& inPath, std::string& outServer, std::string& outDN)
{
    static const std::string thePrefix = "ldap://";
    if (inPath.size() < thePrefix.size() ||
        toLowerAscii(inPath.substr(0, thePrefix.size())) != thePrefix)
        return false;
    std::string theRest = inPath.substr(thePrefix.size());
    std::string theServer;
    // The DN has its '/' escaped, so the first raw '/' can only end a server
    // name. A caller that forgot the escape gets a wrong DN, not a guess.
    std::size_t theSlash = theRest.find('/');
    if (theSlash != std::string::npos)
    {
        theServer = theRest.substr(0, theSlash);
        theRest.erase(0, theSlash + 1);
    }
    std::string theDN;
    theDN.reserve(theRest.size());
    for (std::size_t curPos = 0; curPos < theRest.size(); ++curPos)
    {
        char curChar = theRest[curPos];
        if (curChar == '\\' && curPos + 2 < theRest.size() && theRest[curPos + 1] == '2' &&
            (theRest[curPos + 2] == 'f' || theRest[curPos + 2] == 'F'))
        {
            theDN += '/';
            curPos += 2;
            continue;
        }
        theDN += curChar;
        if (curChar == '\\' && curPos + 1 < theRest.size())
        {
            // Keep any other escape whole, so "\\2f" stays a backslash and "2f".
            theDN += theRest[curPos + 1];
            ++curPos;
        }
    }
    if (theDN.empty())
        return false;
    outServer = std::move(theServer);
    outDN = std::move(theDN);
    return true;
}

} // namespace corvel::directory::dn
