// Feeds arbitrary bytes to the DN helpers, to the authenticator's path
// escaping and to its logon-name split, and checks what each promises:
// normal forms are fixed points, an escaped value reads back as itself,
// filter escapes leave no metacharacter, a path gives back the DN it was
// made from, and a split name is rebuilt from its parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/util/qzauthenticator.h"

namespace dn = corvel::directory::dn;

namespace
{
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

bool isHex(char inChar)
{
    return (inChar >= '0' && inChar <= '9') || (inChar >= 'a' && inChar <= 'f') ||
           (inChar >= 'A' && inChar <= 'F');
}

void fuzzParse(const std::string& inText)
{
    std::vector<dn::Rdn> theRdns;
    const bool theParsed = dn::parseDN(inText, theRdns);
    std::string theKey;
    require(dn::normalizeDN(inText, theKey) == theParsed);
    if (!theParsed)
        return;
    require(!theRdns.empty());
    for (const dn::Rdn& curRdn : theRdns)
        require(!curRdn.itsAvas.empty() && !curRdn.itsAvas.front().itsType.empty());
    require(theKey == dn::normalizeRdns(theRdns));
    // The normal form names the same object: it is its own normal form.
    std::string theAgain;
    require(dn::normalizeDN(theKey, theAgain));
    require(theAgain == theKey);
    // A path made from the DN gives the same DN back.
    const std::string thePathDN = dn::escapePathDN(inText);
    require(thePathDN.find('/') == std::string::npos);
    require(qzAuthenticator::escapeDN(inText) == thePathDN);
    std::string theServer;
    std::string theBack;
    require(dn::parseLdapPath("LDAP://" + thePathDN, theServer, theBack));
    require(theServer.empty());
    std::string theBackKey;
    require(dn::normalizeDN(theBack, theBackKey));
    require(theBackKey == theKey);
}

void fuzzEscapes(const std::string& inValue)
{
    // Any bytes, escaped as a value, read back as exactly those bytes.
    if (!inValue.empty())
    {
        std::vector<dn::Rdn> theRdns;
        require(dn::parseDN("CN=" + dn::escapeDNValue(inValue) + ",DC=x", theRdns));
        require(theRdns.size() == 2 && theRdns[0].itsAvas.size() == 1);
        require(theRdns[0].itsAvas[0].itsValue == inValue);
    }
    const std::string theFilter = dn::escapeFilterValue(inValue);
    for (std::size_t curPos = 0; curPos < theFilter.size(); ++curPos)
    {
        const char curChar = theFilter[curPos];
        require(curChar != '*' && curChar != '(' && curChar != ')' && curChar != '\0');
        if (curChar == '\\')
        {
            require(curPos + 2 < theFilter.size() && isHex(theFilter[curPos + 1]) &&
                    isHex(theFilter[curPos + 2]));
            curPos += 2;
        }
    }
    const std::string theLower = dn::toLowerAscii(inValue);
    require(theLower.size() == inValue.size());
    for (std::size_t curPos = 0; curPos < inValue.size(); ++curPos)
        if (static_cast<unsigned char>(inValue[curPos]) >= 0x80)
            require(theLower[curPos] == inValue[curPos]);
}

void fuzzPath(const std::string& inText)
{
    std::string theServer = "unchanged";
    std::string theDN = "unchanged";
    if (dn::parseLdapPath(inText, theServer, theDN))
    {
        require(!theDN.empty());
        require(theServer.find('/') == std::string::npos);
    }
}

void fuzzSplit(const std::string& inName)
{
    std::string theUser = "unchanged";
    std::string theDomain = "unchanged";
    const bool theSplit = qzAuthenticator::splitUserName(inName, theUser, theDomain);
    if (inName.find('=') != std::string::npos ||
        (inName.find('\\') == std::string::npos && inName.find('@') == std::string::npos))
    {
        require(!theSplit && theUser == "unchanged" && theDomain == "unchanged");
        return;
    }
    require(theSplit);
    if (inName.find('\\') != std::string::npos)
        require(theDomain.find('\\') == std::string::npos && theDomain + "\\" + theUser == inName);
    else
        require(theUser.find('@') == std::string::npos && theUser + "@" + theDomain == inName);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setInfoLog("", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    const std::string theText(reinterpret_cast<const char*>(inData), inSize);
    fuzzParse(theText);
    fuzzEscapes(theText);
    fuzzPath(theText);
    fuzzSplit(theText);
    return 0;
}
