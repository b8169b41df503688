#include "corvel/platform/directory/ldap/ldap_translator.h"

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

const std::vector<std::string>& nameAttributes()
{
    static const std::vector<std::string> kAttributes = {
        "distinguishedName", "sAMAccountName", "userPrincipalName", "objectSid",
        "objectGUID",        "displayName",    "canonicalName"};
    return kAttributes;
}

std::string firstValue(const Found& inFound, const char* inName)
{
    for (const auto& [curName, curValues] : inFound.itsAttributes)
        if (lower(curName) == lower(inName) && !curValues.empty())
            return curValues.front();
    return {};
}


Status LdapTranslator::configurationDN(std::string& outDN)
{
    if (itsConfiguration.empty())
    {
        std::vector<Found> theFound;
        const Status theStatus = itsConnection->search("", LDAP_SCOPE_BASE, "(objectClass=*)",
                                                       {"configurationNamingContext"}, theFound);
        if (failed(theStatus))
            return theStatus;
        if (theFound.empty())
            return E_noSuchDomain;
        itsConfiguration = firstValue(theFound.front(), "configurationNamingContext");
        if (itsConfiguration.empty())
            return E_noSuchDomain;
    }
    outDN = itsConfiguration;
    return S_ok;
}

Status LdapTranslator::findDomain(const std::string& inFilter, Found& outCrossRef)
{
    std::string theConfiguration;
    Status theStatus = configurationDN(theConfiguration);
    if (failed(theStatus))
        return theStatus;
    std::vector<Found> theFound;
    theStatus = itsConnection->search("CN=Partitions," + theConfiguration, LDAP_SCOPE_ONELEVEL,
                                      // Only a domain's crossRef has a NetBIOS name;
                                      // the configuration and schema share its dnsRoot.
                                      "(&(objectClass=crossRef)(nETBIOSName=*)" + inFilter + ")",
                                      {"nCName", "dnsRoot", "nETBIOSName"}, theFound);
    if (failed(theStatus))
        return theStatus;
    if (theFound.size() != 1)
        return E_noSuchDomain;
    outCrossRef = theFound.front();
    return S_ok;
}

Status LdapTranslator::initWith(InitType inKind, const std::string& inPath,
                                const Credentials* inCredentials)
{
    itsConnection = nullptr;
    itsHasResult = false;
    if (!itsService->hasTargets())
        return E_noSuchDomain;
    if (inKind == InitType_GC)
    {
        itsBase.clear();
        return itsService->configuredConnection(true, "", inCredentials, itsConnection);
    }
    if (inKind == InitType_Server)
    {
        itsBase.clear();
        Status theStatus =
            itsService->configuredConnection(false, inPath, inCredentials, itsConnection);
        if (failed(theStatus))
            return theStatus;
        std::vector<Found> theFound;
        theStatus = itsConnection->search("", LDAP_SCOPE_BASE, "(objectClass=*)",
                                          {"defaultNamingContext"}, theFound);
        if (succeeded(theStatus) && !theFound.empty())
            itsBase = firstValue(theFound.front(), "defaultNamingContext");
        return theStatus;
    }
    if (inKind != InitType_Domain || inPath.empty())
        return E_invalidArg;
    // The configured DC, when it serves the named domain.
    Status theStatus = itsService->configuredConnection(false, "", inCredentials, itsConnection);
    if (failed(theStatus))
        return theStatus;
    const std::string theValue = dn::escapeFilterValue(inPath);
    Found theCrossRef;
    theStatus = findDomain("(|(nETBIOSName=" + theValue + ")(dnsRoot=" + theValue + "))", theCrossRef);
    if (failed(theStatus))
    {
        itsConnection = nullptr;
        return theStatus;
    }
    itsBase = firstValue(theCrossRef, "nCName");
    return S_ok;
}

Status LdapTranslator::searchOne(const std::string& inBase, const std::string& inFilter, Found& outFound)
{
    std::vector<Found> theFound;
    const Status theStatus =
        itsConnection->search(inBase, LDAP_SCOPE_SUBTREE, inFilter, nameAttributes(), theFound);
    if (theStatus == E_noSuchObject)
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    if (theFound.empty())
        return E_nameNotFound;
    if (theFound.size() > 1)
        return E_nameNotUnique;
    outFound = std::move(theFound.front());
    return S_ok;
}

Status LdapTranslator::byCanonicalName(const std::string& inName, Found& outFound)
{
    std::vector<std::string> theParts;
    if (!splitCanonicalName(inName, theParts))
        return E_nameNotFound;
    Found theCrossRef;
    Status theStatus =
        findDomain("(dnsRoot=" + dn::escapeFilterValue(theParts.front()) + ")", theCrossRef);
    if (theStatus == E_noSuchDomain)
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    // One level a step: a canonical name does not say whether a component
    // is an OU or a CN, the name attribute holds either.
    std::string theBase = firstValue(theCrossRef, "nCName");
    for (std::size_t curIndex = 1; curIndex < theParts.size(); ++curIndex)
    {
        std::vector<Found> theFound;
        theStatus = itsConnection->search(theBase, LDAP_SCOPE_ONELEVEL,
                                          "(name=" + dn::escapeFilterValue(theParts[curIndex]) + ")",
                                          nameAttributes(), theFound);
        if (failed(theStatus))
            return theStatus == E_noSuchObject ? E_nameNotFound : theStatus;
        if (theFound.size() != 1)
            return theFound.empty() ? E_nameNotFound : E_nameNotUnique;
        theBase = theFound.front().itsDN;
        outFound = std::move(theFound.front());
    }
    return S_ok;
}

Status LdapTranslator::set(NameType inType, const std::string& inName)
{
    itsHasResult = false;
    if (itsConnection == nullptr)
        return E_fail;
    if (inName.empty())
        return E_nameNotFound;
    Found theFound;
    Status theStatus = E_nameNotFound;
    const bool theUnknown = inType == NameType_Unknown;
    std::string theBytes;
    std::vector<dn::Rdn> theRdns;

    if ((theUnknown || inType == NameType_GUID) && inName.front() == '{' &&
        names::guidFromText(inName, theBytes))
        theStatus = searchOne(itsBase, "(objectGUID=" + escapeFilterBytes(theBytes) + ")", theFound);
    else if ((theUnknown || inType == NameType_SIDOrSIDHistory) && inName.size() > 4 &&
             (inName.compare(0, 4, "S-1-") == 0) && names::sidFromText(inName, theBytes))
        theStatus = searchOne(itsBase, "(objectSid=" + escapeFilterBytes(theBytes) + ")", theFound);
    else if ((theUnknown || inType == NameType_1779) && inName.find('=') != std::string::npos &&
             dn::parseDN(inName, theRdns))
    {
        std::vector<Found> theResults;
        theStatus = itsConnection->search(inName, LDAP_SCOPE_BASE, "(objectClass=*)", nameAttributes(),
                                          theResults);
        if (succeeded(theStatus) && theResults.size() == 1)
            theFound = std::move(theResults.front());
        else if (succeeded(theStatus) || theStatus == E_noSuchObject ||
                 theStatus == E_invalidDNSyntax || theStatus == E_referral)
            theStatus = E_nameNotFound;
    }
    else if ((theUnknown || inType == NameType_NT4) && inName.find('\\') != std::string::npos)
    {
        const std::size_t theSlash = inName.find('\\');
        const std::string theDomain = dn::escapeFilterValue(inName.substr(0, theSlash));
        Found theCrossRef;
        theStatus = findDomain("(|(nETBIOSName=" + theDomain + ")(dnsRoot=" + theDomain + "))",
                               theCrossRef);
        if (theStatus == E_noSuchDomain)
            theStatus = E_nameNotFound;
        else if (succeeded(theStatus))
            theStatus = searchOne(firstValue(theCrossRef, "nCName"),
                                  "(sAMAccountName=" +
                                      dn::escapeFilterValue(inName.substr(theSlash + 1)) + ")",
                                  theFound);
    }
    else if ((theUnknown || inType == NameType_UserPrincipalName) &&
             inName.find('@') != std::string::npos)
    {
        theStatus = searchOne(itsBase, "(userPrincipalName=" + dn::escapeFilterValue(inName) + ")",
                              theFound);
        if (theStatus == E_nameNotFound)
        {
            // The implicit UPN: sAMAccountName@dnsRoot.
            const std::size_t theAt = inName.rfind('@');
            Found theCrossRef;
            const Status theDomainStatus = findDomain(
                "(dnsRoot=" + dn::escapeFilterValue(inName.substr(theAt + 1)) + ")", theCrossRef);
            if (succeeded(theDomainStatus))
                theStatus = searchOne(firstValue(theCrossRef, "nCName"),
                                      "(sAMAccountName=" +
                                          dn::escapeFilterValue(inName.substr(0, theAt)) + ")",
                                      theFound);
            else if (theDomainStatus != E_noSuchDomain)
                theStatus = theDomainStatus;
        }
    }
    else if (inName.find('/') != std::string::npos &&
             (theUnknown || inType == NameType_Canonical || inType == NameType_ServicePrincipalName))
    {
        theStatus = inType == NameType_ServicePrincipalName ? E_nameNotFound
                                                            : byCanonicalName(inName, theFound);
        if (theStatus == E_nameNotFound && inType != NameType_Canonical)
            theStatus = searchOne(itsBase,
                                  "(servicePrincipalName=" + dn::escapeFilterValue(inName) + ")",
                                  theFound);
    }
    else if (theUnknown || inType == NameType_Display)
        theStatus = searchOne(itsBase, "(displayName=" + dn::escapeFilterValue(inName) + ")", theFound);

    if (failed(theStatus))
        return theStatus;
    itsResult = std::move(theFound);
    itsHasResult = true;
    return S_ok;
}

Status LdapTranslator::get(NameType inType, std::string& outName)
{
    if (!itsHasResult)
        return E_fail;
    switch (inType)
    {
    case NameType_1779:
        outName = itsResult.itsDN;
        return S_ok;
    case NameType_NT4:
    case NameType_UserPrincipalName:
    {
        const std::string theAccount = firstValue(itsResult, "sAMAccountName");
        if (inType == NameType_UserPrincipalName)
        {
            const std::string theUpn = firstValue(itsResult, "userPrincipalName");
            if (!theUpn.empty())
            {
                outName = theUpn;
                return S_ok;
            }
        }
        if (theAccount.empty())
            return E_nameNotFound;
        Found theCrossRef;
        const Status theStatus = findDomain(
            "(nCName=" + dn::escapeFilterValue(domainOf(itsResult.itsDN)) + ")", theCrossRef);
        if (failed(theStatus))
            return theStatus == E_noSuchDomain ? E_nameNotFound : theStatus;
        outName = inType == NameType_NT4
                      ? firstValue(theCrossRef, "nETBIOSName") + "\\" + theAccount
                      : theAccount + "@" + firstValue(theCrossRef, "dnsRoot");
        return S_ok;
    }
    case NameType_Canonical:
        outName = firstValue(itsResult, "canonicalName");
        return outName.empty() ? E_nameNotFound : S_ok;
    case NameType_GUID:
        return names::guidToText(firstValue(itsResult, "objectGUID"), outName) ? S_ok
                                                                               : E_nameNotFound;
    case NameType_SIDOrSIDHistory:
        return names::sidToText(firstValue(itsResult, "objectSid"), outName) ? S_ok
                                                                             : E_nameNotFound;
    case NameType_Display:
        outName = firstValue(itsResult, "displayName");
        return outName.empty() ? E_nameNotFound : S_ok;
    default:
        return E_invalidArg;
    }
}

} // namespace corvel::directory::ldap
