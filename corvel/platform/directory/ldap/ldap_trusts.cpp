// Forests ours trusts: their domains named by the home domain's
// trustedDomain objects, their DCs and global catalogs found by the same
// locator, reached with the caller's own ticket (cross-realm Kerberos), and
// the foreign security principals of ours that stand for their accounts and
// groups (CN=<SID>,CN=ForeignSecurityPrincipals,<domain>).
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/names.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

namespace
{

std::string firstOf(const Found& inFound, const char* inName)
{
    for (const auto& [curName, curValues] : inFound.itsAttributes)
        if (lower(curName) == lower(inName) && !curValues.empty())
            return curValues.front();
    return {};
}

// The domain part of a domain account's SID: all but its last number.
std::string domainSidOf(const std::string& inSid)
{
    const std::size_t theLast = inSid.rfind('-');
    return theLast == std::string::npos ? std::string() : inSid.substr(0, theLast);
}

} // namespace

Status LdapService::home(std::string& outNamingContext, Connection*& outConnection)
{
    const Status theStatus = homeNamingContext(nullptr, outNamingContext);
    return failed(theStatus) ? theStatus : homeConnection(nullptr, outConnection);
}

Status LdapService::trustedDomains(const std::vector<DomainRef>*& outDomains)
{
    outDomains = &itsTrusted;
    if (itsTrustsRead)
        return S_ok;
    itsTrustsRead = true;
    std::string theHomeNc;
    Connection* theHome = nullptr;
    Status theStatus = home(theHomeNc, theHome);
    if (failed(theStatus))
        return theStatus;
    SearchSpec theSpec;
    theSpec.itsBase = "CN=System," + theHomeNc;
    theSpec.itsScope = LDAP_SCOPE_ONELEVEL;
    theSpec.itsFilter = "(objectClass=trustedDomain)";
    theSpec.itsAttributes = {"trustPartner", "flatName", "securityIdentifier", "trustDirection"};
    std::vector<Found> theFound;
    theStatus = theHome->search(theSpec, theFound);
    if (theStatus == E_noSuchObject)
        return S_ok; // no trust at all
    if (failed(theStatus))
        return theStatus;
    for (const Found& curFound : theFound)
    {
        DomainRef theDomain;
        theDomain.itsDnsRoot = lower(firstOf(curFound, "trustPartner"));
        theDomain.itsNetbios = firstOf(curFound, "flatName");
        theDomain.itsNcDN = dnsNameToDN(theDomain.itsDnsRoot);
        theDomain.itsForeign = true;
        if (!names::sidToText(firstOf(curFound, "securityIdentifier"), theDomain.itsSid))
            theDomain.itsSid.clear();
        if (theDomain.itsNcDN.empty() || firstOf(curFound, "trustDirection") == "0")
            continue;
        platform::reportLog(platform::Report_debug, "ldap: trusted domain %s (%s)",
                            theDomain.itsDnsRoot.c_str(), theDomain.itsNetbios.c_str());
        itsTrusted.push_back(std::move(theDomain));
    }
    return S_ok;
}

const DomainRef* LdapService::domainRefOf(const std::string& inDN)
{
    if (itsDomainsRead)
        if (const DomainRef* theOwn = domainOfDN(inDN, itsDomains))
            return theOwn;
    const std::vector<DomainRef>* theTrusted = nullptr;
    if (!itsTrustsRead && failed(trustedDomains(theTrusted)))
        return nullptr;
    return domainOfDN(inDN, itsTrusted);
}

Status LdapService::foreignGcConnection(const DomainRef& inDomain, Connection*& outConnection)
{
    ServerList& theServers = itsForeignGcs[lower(inDomain.itsDnsRoot)];
    if (theServers.itsTargets.empty())
    {
        theServers.itsTargets = locateGCs(inDomain.itsDnsRoot).itsTargets;
        theServers.itsWhat = "the global catalog of " + inDomain.itsDnsRoot;
    }
    return connectTo(theServers, nullptr, outConnection);
}

Status LdapService::foreignObject(const std::string& inSid, Connection*& outConnection,
                                  EntryPtr& outEntry)
{
    outConnection = nullptr;
    outEntry.reset();
    const std::string theKey = names::canonicalSid(inSid);
    std::string theBytes;
    // Only a domain's SIDs (S-1-5-21-...) name accounts of a forest; the
    // well-known ones (Authenticated Users, S-1-5-11) stand for no object.
    if (theKey.rfind("S-1-5-21-", 0) != 0 || !names::sidFromText(theKey, theBytes))
        return S_ok;
    const auto theKnown = itsForeignBySid.find(theKey);
    if (theKnown != itsForeignBySid.end())
    {
        outConnection = theKnown->second.itsConnection;
        outEntry = theKnown->second.itsEntry;
        return S_ok;
    }
    const std::vector<DomainRef>* theTrusted = nullptr;
    Status theStatus = trustedDomains(theTrusted);
    if (failed(theStatus))
        return theStatus;
    ForeignObject& theObject = itsForeignBySid[theKey];
    for (const DomainRef& curDomain : *theTrusted)
    {
        // The trust names its domain's SID; a forest's other domains have
        // their own, and are asked last.
        if (!curDomain.itsSid.empty() && !names::sameSid(curDomain.itsSid, domainSidOf(theKey)))
            continue;
        Connection* theGc = nullptr;
        if (failed(foreignGcConnection(curDomain, theGc)))
            continue;
        SearchSpec theSpec;
        theSpec.itsBase = "";
        theSpec.itsScope = LDAP_SCOPE_SUBTREE;
        theSpec.itsFilter = "(objectSid=" + escapeFilterBytes(theBytes) + ")";
        theSpec.itsAttributes = groupAttributes();
        theSpec.itsPaged = false;
        std::vector<Found> theFound;
        if (failed(theGc->search(theSpec, theFound)) || theFound.size() != 1)
            continue;
        // Its members are read on a DC of its own domain.
        Connection* theDc = nullptr;
        const DomainRef* theDomain = domainRefOf(theFound.front().itsDN);
        if (theDomain == nullptr || failed(domainConnection(*theDomain, nullptr, theDc)))
            theDc = theGc;
        theStatus = theDc->read(theFound.front().itsDN, groupAttributes(), theObject.itsEntry);
        if (failed(theStatus))
            continue;
        theObject.itsConnection = theDc;
        platform::reportLog(platform::Report_debug, "ldap: %s stands for %s", theKey.c_str(),
                            theFound.front().itsDN.c_str());
        break;
    }
    outConnection = theObject.itsConnection;
    outEntry = theObject.itsEntry;
    return S_ok;
}

Status LdapService::accountSids(const std::string& inDN, std::vector<std::string>& outSids)
{
    const std::string theKey = dnKey(inDN);
    const auto theKnown = itsAccountSids.find(theKey);
    if (theKnown != itsAccountSids.end())
    {
        outSids = theKnown->second;
        return S_ok;
    }
    Connection* theConnection = nullptr;
    Status theStatus = connectionFor(inDN, "", nullptr, theConnection);
    if (failed(theStatus))
        return theStatus;
    EntryPtr theEntry;
    theStatus = theConnection->read(inDN, {"objectSid", "sIDHistory"}, theEntry);
    Connection* theOther = nullptr;
    if ((theStatus == E_noSuchObject || theStatus == E_referral) &&
        elsewhere(inDN, *theConnection, nullptr, theOther))
        theStatus = theOther->read(inDN, {"objectSid", "sIDHistory"}, theEntry);
    std::vector<std::string>& theSids = itsAccountSids[theKey];
    if (succeeded(theStatus))
        for (const char* curName : {"objectsid", "sidhistory"})
            for (const std::string& curValue : theEntry->itsAttributes[curName])
            {
                std::string theSid;
                if (names::sidToText(curValue, theSid))
                    theSids.push_back(theSid);
            }
    else if (theStatus != E_noSuchObject && theStatus != E_referral)
    {
        itsAccountSids.erase(theKey);
        return theStatus;
    }
    outSids = theSids;
    return S_ok;
}

Status LdapService::groupsOfForeignSid(const std::string& inSid,
                                       std::vector<std::string>& outGroups)
{
    const auto theKnown = itsForeignGroups.find(inSid);
    if (theKnown != itsForeignGroups.end())
    {
        outGroups = theKnown->second;
        return S_ok;
    }
    std::string theHomeNc;
    Connection* theHome = nullptr;
    Status theStatus = home(theHomeNc, theHome);
    if (failed(theStatus))
        return theStatus;
    EntryPtr theEntry;
    theStatus = theHome->read("CN=" + dn::escapeDNValue(inSid) + ",CN=ForeignSecurityPrincipals," +
                                  theHomeNc,
                              {"memberOf"}, theEntry);
    std::vector<std::string>& theGroups = itsForeignGroups[inSid];
    if (succeeded(theStatus))
        theGroups = theEntry->itsAttributes["memberof"];
    else if (theStatus != E_noSuchObject)
    {
        itsForeignGroups.erase(inSid);
        return theStatus;
    }
    outGroups = theGroups;
    return S_ok;
}

} // namespace corvel::directory::ldap
