#include "corvel/platform/directory/ldap/ldap_objects.h"

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

namespace
{

// The SID a foreign security principal's DN names
// (CN=<SID>,CN=ForeignSecurityPrincipals,...); empty for any other DN.
std::string foreignSid(const std::string& inDN)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns) || theRdns.size() < 2 || theRdns[0].itsAvas.size() != 1 ||
        theRdns[1].itsAvas.size() != 1 ||
        lower(theRdns[1].itsAvas[0].itsValue) != "foreignsecurityprincipals")
        return {};
    return names::canonicalSid(theRdns[0].itsAvas[0].itsValue);
}

bool isForeignPrincipal(const Entry& inEntry)
{
    const auto theClasses = inEntry.itsAttributes.find("objectclass");
    if (theClasses != inEntry.itsAttributes.end())
        for (const std::string& curClass : theClasses->second)
            if (lower(curClass) == "foreignsecurityprincipal")
                return true;
    return false;
}

} // namespace

Status LdapObject::getName(std::string& outName)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(itsEntry->itsDN, theRdns) || theRdns.empty())
        return E_invalidDNSyntax;
    outName = theRdns.front().itsText;
    return S_ok;
}

Status LdapObject::get(const std::string& inAttribute, std::string& outValue)
{
    std::vector<std::string> theValues;
    const Status theStatus = getEx(inAttribute, theValues);
    if (failed(theStatus))
        return theStatus;
    outValue = theValues.front();
    return S_ok;
}

Status LdapObject::getEx(const std::string& inAttribute, std::vector<std::string>& outValues)
{
    const std::string theName = lower(inAttribute);
    if (theName == "distinguishedname" && !itsEntry->itsDN.empty())
    {
        outValues = {itsEntry->itsDN};
        return S_ok;
    }
    if (theName == "member")
    {
        const Status theStatus = ensureMembers();
        if (failed(theStatus))
            return theStatus;
        if (itsEntry->itsMembers.empty())
            return E_propertyNotFound;
        outValues = itsEntry->itsMembers;
        return S_ok;
    }
    auto theAt = itsEntry->itsAttributes.find(theName);
    if (theAt == itsEntry->itsAttributes.end())
    {
        EntryPtr theEntry;
        const Status theStatus = itsConnection.read(itsEntry->itsDN, {inAttribute}, theEntry);
        if (failed(theStatus))
            return theStatus;
        theAt = itsEntry->itsAttributes.find(theName);
        if (theAt == itsEntry->itsAttributes.end())
            return E_propertyNotFound;
    }
    outValues = theAt->second;
    if (theName == "memberof")
    {
        const Status theStatus = addForeignGroups(outValues);
        if (failed(theStatus))
            return theStatus;
        // The recursive group listing climbs memberOf: the levels above are
        // fetched ahead, a level at a time.
        if (!outValues.empty())
            itsService->prefetchAbove(itsConnection, outValues);
    }
    if (outValues.empty())
        return E_propertyNotFound;
    return S_ok;
}

Status LdapObject::addForeignGroups(std::vector<std::string>& ioGroups)
{
    // An object of a trusted forest belongs, as seen from ours, also to the
    // groups of ours that hold its foreign security principal.
    const std::vector<DomainRef>* theTrusted = nullptr;
    const DomainRef* theDomain = itsService->domainRefOf(itsEntry->itsDN);
    if (theDomain == nullptr || !theDomain->itsForeign ||
        failed(itsService->trustedDomains(theTrusted)))
        return S_ok;
    std::string theSid;
    Status theStatus = ownSid(theSid);
    if (failed(theStatus) || theSid.empty())
        return theStatus;
    std::vector<std::string> theOurs;
    theStatus = itsService->groupsOfForeignSid(theSid, theOurs);
    if (failed(theStatus))
        return theStatus;
    ioGroups.insert(ioGroups.end(), theOurs.begin(), theOurs.end());
    return S_ok;
}

Status LdapObject::isMember(const std::string& inPath, bool& outIsMember)
{
    outIsMember = false;
    std::string theServer;
    std::string theDN;
    if (!dn::parseLdapPath(inPath, theServer, theDN))
        return E_badPathname;
    Status theStatus = ensureMembers();
    if (failed(theStatus))
        return theStatus;
    outIsMember = itsEntry->itsMemberKeys.count(dnKey(theDN)) != 0;
    if (outIsMember)
        return S_ok;
    std::string thePrimary;
    theStatus = itsService->primaryGroupSid(itsConnection, theDN, thePrimary, itsEntry);
    if (failed(theStatus))
        return theStatus;
    if (!thePrimary.empty())
    {
        std::string theOwnSid;
        theStatus = ownSid(theOwnSid);
        if (failed(theStatus))
            return theStatus;
        outIsMember = names::sameSid(theOwnSid, thePrimary);
        if (outIsMember)
            return S_ok;
    }
    return isForeignMember(theDN, outIsMember);
}

Status LdapObject::isForeignMember(const std::string& inDN, bool& outIsMember)
{
    // A foreign security principal among the members stands for the account
    // whose SID (or one of whose former SIDs) is in its name: a user of a
    // trusted forest is a member through it.
    std::vector<std::string> theForeign;
    for (const std::string& curMember : itsEntry->itsMembers)
    {
        std::string theSid = foreignSid(curMember);
        if (!theSid.empty())
            theForeign.push_back(std::move(theSid));
    }
    if (theForeign.empty())
        return S_ok;
    std::vector<std::string> theSids;
    const Status theStatus = itsService->accountSids(inDN, theSids);
    if (failed(theStatus))
        return theStatus;
    for (const std::string& curSid : theSids)
        for (const std::string& curForeign : theForeign)
            if (names::sameSid(curSid, curForeign))
            {
                outIsMember = true;
                return S_ok;
            }
    return S_ok;
}

Status LdapObject::primaryGroup(std::string& outGroupDN)
{
    outGroupDN.clear();
    std::string theSid;
    Status theStatus = itsService->primaryGroupSid(itsConnection, itsEntry->itsDN, theSid);
    std::string theBytes;
    if (failed(theStatus) || theSid.empty() || !names::sidFromText(theSid, theBytes))
        return failed(theStatus) ? theStatus : S_false;
    // A primary group is a group of the object's own domain.
    SearchSpec theSpec;
    theSpec.itsBase = domainOf(itsEntry->itsDN);
    theSpec.itsScope = LDAP_SCOPE_SUBTREE;
    theSpec.itsFilter = "(&(objectClass=group)(objectSid=" + escapeFilterBytes(theBytes) + "))";
    theSpec.itsAttributes = groupAttributes();
    std::vector<Found> theFound;
    theStatus = itsConnection.search(theSpec, theFound);
    if (theStatus == E_noSuchObject || theStatus == E_referral)
        return S_false;
    if (failed(theStatus))
        return theStatus;
    if (theFound.size() != 1)
        return S_false;
    EntryPtr theGroup;
    theStatus = itsConnection.absorb(theFound.front(), theGroup);
    if (failed(theStatus))
        return theStatus;
    outGroupDN = theFound.front().itsDN;
    return S_ok;
}

Status LdapObject::members(std::unique_ptr<DirEnumerator>& outMembers)
{
    Status theStatus = ensureMembers();
    if (failed(theStatus))
        return theStatus;
    theStatus = itsService->classifyMembers(itsConnection, itsEntry);
    if (failed(theStatus))
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : itsEntry->itsMembers)
        theEntries.push_back(itsConnection.entries().entry(curDN));
    outMembers = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

Status LdapObject::groups(std::unique_ptr<DirEnumerator>& outGroups)
{
    std::vector<std::string> theGroups;
    const Status theStatus = getEx("memberOf", theGroups);
    if (failed(theStatus) && theStatus != E_propertyNotFound)
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : theGroups)
    {
        // memberOf names groups only.
        EntryPtr theEntry = itsConnection.entries().entry(curDN);
        if (!theEntry->itsClassKnown)
        {
            theEntry->itsClassKnown = true;
            theEntry->itsIsGroup = true;
        }
        theEntries.push_back(theEntry);
    }
    outGroups = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

Status LdapObject::ownSid(std::string& outSid)
{
    outSid.clear();
    if (itsEntry->itsAttributes.count("objectsid") == 0)
    {
        EntryPtr theEntry;
        const Status theStatus = itsConnection.read(itsEntry->itsDN, {"objectSid"}, theEntry);
        if (failed(theStatus))
            return theStatus;
    }
    const auto& theSids = itsEntry->itsAttributes["objectsid"];
    if (!theSids.empty() && !names::sidToText(theSids.front(), outSid))
        outSid.clear();
    return S_ok;
}

Status LdapObject::ensureMembers()
{
    if (itsEntry->itsMembersKnown)
        return S_ok;
    EntryPtr theEntry;
    return itsConnection.read(itsEntry->itsDN, {"member"}, theEntry);
}

Status LdapEnumerator::next(std::unique_ptr<DirObject>& outObject)
{
    if (itsNext >= itsEntries.size())
        return S_false;
    const EntryPtr& theEntry = itsEntries[itsNext++];
    // A foreign security principal that stands for a group of a trusted
    // forest is that group, whose members are read in its own forest.
    if (isForeignPrincipal(*theEntry))
    {
        Connection* theForeign = nullptr;
        EntryPtr theGroup;
        const Status theStatus =
            itsService->foreignObject(foreignSid(theEntry->itsDN), theForeign, theGroup);
        if (failed(theStatus))
            return theStatus;
        if (theGroup && theGroup->itsIsGroup)
        {
            outObject = std::make_unique<LdapObject>(itsService, *theForeign, theGroup);
            return S_ok;
        }
    }
    outObject = std::make_unique<LdapObject>(itsService, itsConnection, theEntry);
    return S_ok;
}

} // namespace corvel::directory::ldap
