#include "corvel/platform/directory/ldap/ldap_text.h"

#include <ldap.h>

#include <cstdio>
#include <cstdlib>

#include "corvel/platform/directory/digits.h"
#include "corvel/platform/directory/dn.h"

namespace corvel::directory::ldap
{

namespace
{

using digits::readDecimal;

} // namespace

bool isAbsentCode(int inLdapResult)
{
    return inLdapResult == LDAP_NO_SUCH_OBJECT || inLdapResult == LDAP_REFERRAL ||
           inLdapResult == LDAP_INSUFFICIENT_ACCESS || inLdapResult == LDAP_INVALID_DN_SYNTAX;
}

Status mapLdapError(int inLdapResult)
{
    switch (inLdapResult)
    {
    case LDAP_SUCCESS:
        return S_ok;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        return E_serverDown;
    case LDAP_TIMEOUT:
    case LDAP_TIMELIMIT_EXCEEDED:
        return E_timeout;
    case LDAP_INVALID_CREDENTIALS:
        return E_logonFailure;
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_CONFIDENTIALITY_REQUIRED:
    case LDAP_INAPPROPRIATE_AUTH:
        return E_accessDenied;
    case LDAP_NO_SUCH_OBJECT:
        return E_noSuchObject;
    case LDAP_NO_SUCH_ATTRIBUTE:
        return E_propertyNotFound;
    case LDAP_INVALID_DN_SYNTAX:
        return E_invalidDNSyntax;
    case LDAP_REFERRAL:
        return E_referral;
    case LDAP_OPERATIONS_ERROR:
        return E_operationsError;
    case LDAP_LOCAL_ERROR:
        return E_localError;
    case LDAP_NO_MEMORY:
        return E_outOfMemory;
    case LDAP_PARAM_ERROR:
    case LDAP_FILTER_ERROR:
        return E_invalidArg;
    default:
        return E_fail;
    }
}

std::string escapeFilterBytes(const std::string& inBytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string theText;
    theText.reserve(inBytes.size() * 3);
    for (unsigned char curByte : inBytes)
    {
        theText += '\\';
        theText += kHex[curByte >> 4];
        theText += kHex[curByte & 0x0F];
    }
    return theText;
}

bool parseRangedName(const std::string& inName, const std::string& inAttribute,
                     std::uint32_t& outFirst, std::uint32_t& outLast, bool& outIsEnd)
{
    const std::string thePrefix = dn::toLowerAscii(inAttribute) + ";range=";
    if (inName.size() <= thePrefix.size() ||
        dn::toLowerAscii(inName.substr(0, thePrefix.size())) != thePrefix)
        return false;
    std::size_t thePos = thePrefix.size();
    std::uint64_t theFirst = 0;
    if (!readDecimal(inName, thePos, 0xFFFFFFFFull, theFirst) || thePos >= inName.size() ||
        inName[thePos] != '-')
        return false;
    ++thePos;
    if (inName.compare(thePos, std::string::npos, "*") == 0)
    {
        outFirst = static_cast<std::uint32_t>(theFirst);
        outLast = 0;
        outIsEnd = true;
        return true;
    }
    std::uint64_t theLast = 0;
    if (!readDecimal(inName, thePos, 0xFFFFFFFFull, theLast) || thePos != inName.size() ||
        theLast < theFirst)
        return false;
    outFirst = static_cast<std::uint32_t>(theFirst);
    outLast = static_cast<std::uint32_t>(theLast);
    outIsEnd = false;
    return true;
}

std::string dnsNameToDN(const std::string& inDnsName)
{
    std::string theName = inDnsName;
    if (!theName.empty() && theName.back() == '.')
        theName.pop_back();
    if (theName.empty())
        return {};
    std::string theDN;
    std::size_t theStart = 0;
    while (true)
    {
        const std::size_t theDot = theName.find('.', theStart);
        const std::string theLabel = theName.substr(theStart, theDot - theStart);
        if (theLabel.empty())
            return {};
        if (!theDN.empty())
            theDN += ',';
        theDN += "DC=" + dn::escapeDNValue(theLabel);
        if (theDot == std::string::npos)
            break;
        theStart = theDot + 1;
    }
    return theDN;
}

bool parseHostPort(const std::string& inText, int inDefaultPort, std::string& outHost, int& outPort)
{
    std::string theHost = inText;
    std::string thePort;
    if (!theHost.empty() && theHost.front() == '[')
    {
        const std::size_t theBracket = theHost.find(']');
        if (theBracket == std::string::npos || theBracket == 1)
            return false;
        if (theBracket + 1 < theHost.size())
        {
            if (theHost[theBracket + 1] != ':')
                return false;
            thePort = theHost.substr(theBracket + 2);
            if (thePort.empty())
                return false;
        }
        theHost.resize(theBracket + 1);
    }
    else
    {
        const std::size_t theColon = theHost.find(':');
        if (theColon != std::string::npos)
        {
            thePort = theHost.substr(theColon + 1);
            theHost.resize(theColon);
            if (thePort.empty())
                return false;
        }
    }
    if (theHost.empty())
        return false;
    int thePortNumber = inDefaultPort;
    if (!thePort.empty())
    {
        std::size_t thePos = 0;
        std::uint64_t theValue = 0;
        if (thePort.size() > 5 || !readDecimal(thePort, thePos, 65535, theValue) ||
            thePos != thePort.size() || theValue == 0)
            return false;
        thePortNumber = static_cast<int>(theValue);
    }
    outHost = theHost;
    outPort = thePortNumber;
    return true;
}

bool parseLdapUri(const std::string& inUri, LdapUri& outUri)
{
    const std::string theLower = dn::toLowerAscii(inUri);
    LdapUri theUri;
    std::string theRest;
    if (theLower.rfind("ldaps://", 0) == 0)
    {
        theUri.itsTls = true;
        theRest = inUri.substr(8);
    }
    else if (theLower.rfind("ldap://", 0) == 0)
        theRest = inUri.substr(7);
    else
        return false;
    const std::size_t theSlash = theRest.find('/');
    if (theSlash != std::string::npos)
        theRest.resize(theSlash);
    if (!parseHostPort(theRest, theUri.itsTls ? kLdapsPort : kLdapPort, theUri.itsHost,
                       theUri.itsPort))
        return false;
    outUri = theUri;
    return true;
}

std::vector<LdapUri> parseLdapUriList(const std::string& inList)
{
    std::vector<LdapUri> theUris;
    std::size_t theStart = 0;
    while (theStart < inList.size())
    {
        std::size_t theEnd = inList.find_first_of(" \t\n,", theStart);
        if (theEnd == std::string::npos)
            theEnd = inList.size();
        LdapUri theUri;
        if (theEnd > theStart && parseLdapUri(inList.substr(theStart, theEnd - theStart), theUri))
            theUris.push_back(theUri);
        theStart = theEnd + 1;
    }
    return theUris;
}

} // namespace corvel::directory::ldap
