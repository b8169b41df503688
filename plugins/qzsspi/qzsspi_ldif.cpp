// The LDIF package: the userPassword of the entry in the LDIF directory the
// framework is configured for (CORVEL_DIRECTORY=ldif:PATH).
//
// The status word carries the code Active Directory puts in its bind
// diagnostics: 0x525 no such user, 0x52e wrong password, 0x533 disabled,
// 0x775 locked out, 0x532 password expired; 2 (ENOENT) when no LDIF
// directory is configured or it cannot be read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include <lber.h>
#include <ldif.h>

#include "qzsspi_internal.h"

namespace qzsspi
{

namespace
{

constexpr unsigned int theNoSuchUser = 0x525;
constexpr unsigned int theWrongPassword = 0x52e;
constexpr unsigned int theDisabled = 0x533;
constexpr unsigned int theLockedOut = 0x775;
constexpr unsigned int thePasswordExpired = 0x532;

struct Record
{
    std::string itsDn;
    std::vector<std::pair<std::string, std::string>> itsAttrs; // lower-case name, value

    std::vector<std::string> values(const char* inName) const
    {
        std::vector<std::string> theValues;
        for (const auto& curAttr : itsAttrs)
            if (curAttr.first == inName)
                theValues.push_back(curAttr.second);
        return theValues;
    }
    std::string first(const char* inName) const
    {
        for (const auto& curAttr : itsAttrs)
            if (curAttr.first == inName)
                return curAttr.second;
        return std::string();
    }
    bool hasClass(const char* inClass) const
    {
        for (const std::string& curValue : values("objectclass"))
            if (strcasecmp(curValue.c_str(), inClass) == 0)
                return true;
        return false;
    }
};

std::string lowerOf(std::string inText)
{
    for (char& curChar : inText)
        if (curChar >= 'A' && curChar <= 'Z')
            curChar = static_cast<char>(curChar - 'A' + 'a');
    return inText;
}

// The attributes a logon needs; nothing else is kept.
bool isWanted(const std::string& inName)
{
    static const char* const theNames[] = {
        "objectclass", "samaccountname", "userpassword", "useraccountcontrol",
        "ncname",      "netbiosname",    "dnsroot"};
    for (const char* curName : theNames)
        if (inName == curName)
            return true;
    return false;
}

// Reads the records with libldap's LDIF reader. Values given by reference
// ("attr:< file://...") are never followed: the file is not to make this
// plug-in read other files.
bool readLdif(const std::string& inPath, std::vector<Record>& outRecords)
{
    LDIFFP* theFile = ldif_open(inPath.c_str(), "r");
    if (theFile == nullptr)
        return false;
    unsigned long theLineNo = 0;
    char* theBuffer = nullptr;
    int theBufferSize = 0;
    while (ldif_read_record(theFile, &theLineNo, &theBuffer, &theBufferSize) > 0)
    {
        Record theRecord;
        char* theNext = theBuffer;
        char* theLine;
        while ((theLine = ldif_getline(&theNext)) != nullptr)
        {
            if (theLine[0] == '#' || theLine[0] == '\0')
                continue;
            const char* theColon = std::strchr(theLine, ':');
            if (theColon == nullptr || theColon[1] == '<')
                continue;
            struct berval theType = {0, nullptr};
            struct berval theValue = {0, nullptr};
            int theFree = 0;
            if (ldif_parse_line2(theLine, &theType, &theValue, &theFree) != 0)
                continue;
            std::string theName = lowerOf(std::string(theType.bv_val, theType.bv_len));
            std::string theText =
                theValue.bv_val ? std::string(theValue.bv_val, theValue.bv_len) : std::string();
            if (theFree && theValue.bv_val)
            {
                explicit_bzero(theValue.bv_val, theValue.bv_len);
                ber_memfree(theValue.bv_val);
            }
            if (theName == "dn")
                theRecord.itsDn = theText;
            else if (isWanted(theName))
                theRecord.itsAttrs.emplace_back(std::move(theName), std::move(theText));
        }
        if (!theRecord.itsDn.empty())
            outRecords.push_back(std::move(theRecord));
    }
    ber_memfree(theBuffer);
    ldif_close(theFile);
    return true;
}

bool loadConfigured(std::vector<Record>& outRecords)
{
    const std::string theDirectory = configuredDirectory();
    if (theDirectory.rfind("ldif:", 0) != 0)
        return false;
    return readLdif(theDirectory.substr(5), outRecords);
}

// Case-insensitive "inDn ends with ,inSuffix" (or equals it).
bool isUnder(const std::string& inDn, const std::string& inSuffix)
{
    if (inSuffix.empty() || inDn.size() <= inSuffix.size())
        return false;
    const std::size_t theStart = inDn.size() - inSuffix.size();
    return inDn[theStart - 1] == ',' && strcasecmp(inDn.c_str() + theStart, inSuffix.c_str()) == 0;
}

const Record* findDomain(const std::vector<Record>& inRecords, const std::string& inDomain)
{
    for (const Record& curRecord : inRecords)
    {
        if (!curRecord.hasClass("crossRef"))
            continue;
        if (strcasecmp(curRecord.first("netbiosname").c_str(), inDomain.c_str()) == 0 ||
            strcasecmp(curRecord.first("dnsroot").c_str(), inDomain.c_str()) == 0)
            return &curRecord;
    }
    return nullptr;
}

} // namespace

std::string ldifDnsRoot(const std::string& inDomain)
{
    std::vector<Record> theRecords;
    if (inDomain.empty() || !loadConfigured(theRecords))
        return std::string();
    const Record* theDomain = findDomain(theRecords, inDomain);
    return theDomain ? theDomain->first("dnsroot") : std::string();
}

int verifyLdif(const std::string& inDomain, const std::string& inUser, const char* inPassword,
               unsigned int& outStatus)
{
    std::vector<Record> theRecords;
    if (!loadConfigured(theRecords))
    {
        outStatus = ENOENT;
        return resultServiceFailure;
    }
    std::string theNamingContext;
    if (!inDomain.empty())
    {
        const Record* theDomain = findDomain(theRecords, inDomain);
        if (theDomain == nullptr)
        {
            outStatus = theNoSuchUser;
            return resultBadUserOrPassword;
        }
        theNamingContext = theDomain->first("ncname");
    }

    const Record* theUser = nullptr;
    for (const Record& curRecord : theRecords)
    {
        if (!curRecord.hasClass("user") ||
            strcasecmp(curRecord.first("samaccountname").c_str(), inUser.c_str()) != 0)
            continue;
        if (!theNamingContext.empty() && !isUnder(curRecord.itsDn, theNamingContext))
            continue;
        if (theUser != nullptr)
        {
            // The same name in two domains and no domain given: no one to
            // check against.
            theUser = nullptr;
            break;
        }
        theUser = &curRecord;
    }
    bool theMatches = false;
    if (theUser != nullptr)
        for (const std::string& curStored : theUser->values("userpassword"))
            theMatches = passwordMatches(curStored, inPassword) || theMatches;
    for (Record& curRecord : theRecords)
        for (auto& curAttr : curRecord.itsAttrs)
            if (curAttr.first == "userpassword")
                clearSecret(curAttr.second);
    if (theUser == nullptr)
    {
        outStatus = theNoSuchUser;
        return resultBadUserOrPassword;
    }
    if (!theMatches)
    {
        outStatus = theWrongPassword;
        return resultBadUserOrPassword;
    }
    const unsigned long theControl =
        std::strtoul(theUser->first("useraccountcontrol").c_str(), nullptr, 10);
    if (theControl & 0x2)
    {
        outStatus = theDisabled;
        return resultNotAllowed;
    }
    if (theControl & 0x10)
    {
        outStatus = theLockedOut;
        return resultNotAllowed;
    }
    if (theControl & 0x800000)
    {
        outStatus = thePasswordExpired;
        return resultNotAllowed;
    }
    outStatus = 0;
    return resultAccepted;
}

} // namespace qzsspi
