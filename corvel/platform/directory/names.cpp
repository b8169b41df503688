#include "corvel/platform/directory/names.h"

#include "corvel/platform/directory/digits.h"

#include <cstdio>

namespace corvel::directory::names
{

namespace
{

using digits::hexValue;
using digits::readDecimal;

std::uint64_t byteAt(const std::string& inBytes, std::size_t inIndex)
{
    return static_cast<unsigned char>(inBytes[inIndex]);
}

// The authority as "0x" and exactly 12 hex digits; advances ioPos past it.
bool readHexAuthority(const std::string& inText, std::size_t& ioPos, std::uint64_t& outValue)
{
    if (ioPos + 14 > inText.size() || inText[ioPos] != '0' ||
        (inText[ioPos + 1] != 'x' && inText[ioPos + 1] != 'X'))
        return false;
    std::uint64_t theValue = 0;
    for (std::size_t curIndex = ioPos + 2; curIndex < ioPos + 14; ++curIndex)
    {
        const int theDigit = hexValue(inText[curIndex]);
        if (theDigit < 0)
            return false;
        theValue = (theValue << 4) | static_cast<std::uint64_t>(theDigit);
    }
    ioPos += 14;
    outValue = theValue;
    return true;
}

// Byte order of the text form: the first three fields are little-endian.
constexpr int kGuidOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

} // namespace

std::vector<NameForm> candidateForms(const std::string& inName)
{
    std::vector<NameForm> theForms;
    if (inName.empty())
        return theForms;
    std::string theIgnored;
    std::string theAlso;
    std::vector<std::string> theParts;
    if (inName.find('=') != std::string::npos)
        theForms.push_back(NameForm::DistinguishedName);
    if (splitNt4Name(inName, theIgnored, theAlso) && !theIgnored.empty())
        theForms.push_back(NameForm::Nt4);
    if (splitPrincipalName(inName, theIgnored, theAlso))
        theForms.push_back(NameForm::UserPrincipalName);
    if (splitCanonicalName(inName, theParts))
        theForms.push_back(NameForm::Canonical);
    std::string theBytes;
    if (inName.size() > 4 && (inName[0] == 'S' || inName[0] == 's') &&
        sidFromText(inName, theBytes))
        theForms.push_back(NameForm::Sid);
    if (inName.size() == 38 && inName.front() == '{' && inName.back() == '}' &&
        guidFromText(inName, theBytes))
        theForms.push_back(NameForm::Guid);
    if (inName.find('/') != std::string::npos)
        theForms.push_back(NameForm::ServicePrincipalName);
    theForms.push_back(NameForm::DisplayName);
    return theForms;
}

bool splitUserName(const std::string& inName, std::string& outUser, std::string& outDomain)
{
    if (inName.find('=') != std::string::npos)
        return false;
    const std::size_t theSlash = inName.find('\\');
    if (theSlash != std::string::npos)
    {
        outDomain = inName.substr(0, theSlash);
        outUser = inName.substr(theSlash + 1);
        return true;
    }
    const std::size_t theAt = inName.find('@');
    if (theAt == std::string::npos)
        return false;
    outUser = inName.substr(0, theAt);
    outDomain = inName.substr(theAt + 1);
    return true;
}

bool splitNt4Name(const std::string& inName, std::string& outDomain, std::string& outAccount)
{
    const std::size_t theSlash = inName.find('\\');
    if (theSlash == std::string::npos)
        return false;
    outDomain = inName.substr(0, theSlash);
    outAccount = inName.substr(theSlash + 1);
    return true;
}

bool splitPrincipalName(const std::string& inName, std::string& outAccount, std::string& outDomain)
{
    const std::size_t theAt = inName.rfind('@');
    if (theAt == std::string::npos || theAt == 0 || theAt + 1 >= inName.size())
        return false;
    outAccount = inName.substr(0, theAt);
    outDomain = inName.substr(theAt + 1);
    return true;
}

bool splitCanonicalName(const std::string& inName, std::vector<std::string>& outParts)
{
    std::vector<std::string> theParts(1);
    for (std::size_t curPos = 0; curPos < inName.size(); ++curPos)
    {
        const char curChar = inName[curPos];
        if (curChar == '\\' && curPos + 1 < inName.size() &&
            (inName[curPos + 1] == '/' || inName[curPos + 1] == '\\'))
            theParts.back() += inName[++curPos];
        else if (curChar == '/')
            theParts.emplace_back();
        else
            theParts.back() += curChar;
    }
    if (theParts.size() < 2 || theParts.front().empty())
        return false;
    const bool theIsDomain = theParts.size() == 2 && theParts.back().empty();
    for (std::size_t curIndex = 1; curIndex < theParts.size() && !theIsDomain; ++curIndex)
        if (theParts[curIndex].empty())
            return false;
    outParts = std::move(theParts);
    return true;
}

std::string escapeCanonicalPart(const std::string& inPart)
{
    std::string theText;
    for (char curChar : inPart)
    {
        if (curChar == '/' || curChar == '\\')
            theText += '\\';
        theText += curChar;
    }
    return theText;
}

bool sidToText(const std::string& inBytes, std::string& outText)
{
    if (inBytes.size() < 8)
        return false;
    const std::size_t theCount = byteAt(inBytes, 1);
    if (theCount > 15 || inBytes.size() != 8 + 4 * theCount)
        return false;
    std::uint64_t theAuthority = 0;
    for (std::size_t curIndex = 2; curIndex < 8; ++curIndex)
        theAuthority = (theAuthority << 8) | byteAt(inBytes, curIndex);
    std::string theText = "S-" + std::to_string(byteAt(inBytes, 0)) + "-";
    if (theAuthority >> 32)
    {
        char theHex[24];
        std::snprintf(theHex, sizeof theHex, "0x%012llX",
                      static_cast<unsigned long long>(theAuthority));
        theText += theHex;
    }
    else
        theText += std::to_string(theAuthority);
    for (std::size_t curSub = 0; curSub < theCount; ++curSub)
    {
        const std::size_t theAt = 8 + 4 * curSub;
        const std::uint64_t theValue = byteAt(inBytes, theAt) | (byteAt(inBytes, theAt + 1) << 8) |
                                       (byteAt(inBytes, theAt + 2) << 16) |
                                       (byteAt(inBytes, theAt + 3) << 24);
        theText += '-';
        theText += std::to_string(theValue);
    }
    outText = std::move(theText);
    return true;
}

bool sidFromText(const std::string& inText, std::string& outBytes)
{
    if (inText.size() < 4 || (inText[0] != 'S' && inText[0] != 's') || inText[1] != '-')
        return false;
    std::size_t thePos = 2;
    std::uint64_t theRevision = 0;
    std::uint64_t theAuthority = 0;
    if (!readDecimal(inText, thePos, 255, theRevision) || thePos >= inText.size() ||
        inText[thePos] != '-')
        return false;
    ++thePos;
    const bool theIsHex = thePos + 1 < inText.size() && inText[thePos] == '0' &&
                          (inText[thePos + 1] == 'x' || inText[thePos + 1] == 'X');
    if (theIsHex ? !readHexAuthority(inText, thePos, theAuthority)
                 : !readDecimal(inText, thePos, 0xFFFFFFFFFFFFull, theAuthority))
        return false;
    std::string theSubs;
    std::size_t theCount = 0;
    while (thePos < inText.size())
    {
        if (inText[thePos] != '-' || theCount == 15)
            return false;
        ++thePos;
        std::uint64_t theSub = 0;
        if (!readDecimal(inText, thePos, 0xFFFFFFFFull, theSub))
            return false;
        for (int curShift = 0; curShift < 32; curShift += 8)
            theSubs += static_cast<char>((theSub >> curShift) & 0xFF);
        ++theCount;
    }
    std::string theBytes;
    theBytes += static_cast<char>(theRevision);
    theBytes += static_cast<char>(theCount);
    for (int curShift = 40; curShift >= 0; curShift -= 8)
        theBytes += static_cast<char>((theAuthority >> curShift) & 0xFF);
    outBytes = theBytes + theSubs;
    return true;
}

bool sidOfValue(const std::string& inValue, std::string& outText)
{
    // A binary SID starts with its revision byte (1); text with "S-".
    if (!inValue.empty() && (inValue[0] == 'S' || inValue[0] == 's'))
    {
        std::string theText = canonicalSid(inValue);
        if (theText.empty())
            return false;
        outText = std::move(theText);
        return true;
    }
    return sidToText(inValue, outText);
}

std::string canonicalSid(const std::string& inText)
{
    std::string theBytes;
    std::string theText;
    if (!sidFromText(inText, theBytes) || !sidToText(theBytes, theText))
        return {};
    return theText;
}

bool guidToText(const std::string& inBytes, std::string& outText)
{
    if (inBytes.size() != 16)
        return false;
    static const char kHex[] = "0123456789ABCDEF";
    std::string theText = "{";
    for (int curIndex = 0; curIndex < 16; ++curIndex)
    {
        if (curIndex == 4 || curIndex == 6 || curIndex == 8 || curIndex == 10)
            theText += '-';
        const auto theByte = static_cast<unsigned char>(inBytes[kGuidOrder[curIndex]]);
        theText += kHex[theByte >> 4];
        theText += kHex[theByte & 0x0F];
    }
    theText += '}';
    outText = std::move(theText);
    return true;
}

bool guidFromText(const std::string& inText, std::string& outBytes)
{
    std::string theText = inText;
    if (theText.size() == 38 && theText.front() == '{' && theText.back() == '}')
        theText = theText.substr(1, 36);
    if (theText.size() != 36)
        return false;
    std::string theBytes(16, '\0');
    int theIndex = 0;
    for (std::size_t curPos = 0; curPos < theText.size();)
    {
        if (curPos == 8 || curPos == 13 || curPos == 18 || curPos == 23)
        {
            if (theText[curPos] != '-')
                return false;
            ++curPos;
            continue;
        }
        const int theHigh = hexValue(theText[curPos]);
        const int theLow = hexValue(theText[curPos + 1]);
        if (theHigh < 0 || theLow < 0)
            return false;
        theBytes[kGuidOrder[theIndex++]] = static_cast<char>((theHigh << 4) | theLow);
        curPos += 2;
    }
    outBytes = std::move(theBytes);
    return true;
}

bool primaryGroupSid(const std::string& inObjectSid, bool inSidIsText,
                     const std::string& inPrimaryGroupId, std::string& outGroupSid)
{
    std::string theBytes = inObjectSid;
    if (inSidIsText && !sidFromText(inObjectSid, theBytes))
        return false;
    std::string theCheck;
    if (!sidToText(theBytes, theCheck) || byteAt(theBytes, 1) == 0)
        return false;
    std::size_t thePos = 0;
    std::uint64_t theRid = 0;
    if (!readDecimal(inPrimaryGroupId, thePos, 0xFFFFFFFFull, theRid) ||
        thePos != inPrimaryGroupId.size())
        return false;
    // The last sub-authority is the object's own RID; the group's takes its
    // place within the same domain.
    const std::size_t theLast = theBytes.size() - 4;
    for (int curByte = 0; curByte < 4; ++curByte)
        theBytes[theLast + static_cast<std::size_t>(curByte)] =
            static_cast<char>((theRid >> (8 * curByte)) & 0xFF);
    return sidToText(theBytes, outGroupSid);
}

bool sameSid(const std::string& inLeft, const std::string& inRight)
{
    std::string theLeft;
    std::string theRight;
    return sidFromText(inLeft, theLeft) && sidFromText(inRight, theRight) && theLeft == theRight;
}

} // namespace corvel::directory::names
