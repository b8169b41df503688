// The live directory's objects: a group, a user or any object as read
// through one connection, and the enumerations of members and groups.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

// ---------------------------------------------------------------------------
// Objects

class LdapEnumerator;

class LdapObject : public DirGroup, public DirUser
{
public:
    LdapObject(std::shared_ptr<LdapService> inService, Connection& inConnection, EntryPtr inEntry)
        : itsService(std::move(inService)), itsConnection(inConnection), itsEntry(std::move(inEntry))
    {
    }

    Status getName(std::string& outName) override
    {
        std::vector<dn::Rdn> theRdns;
        if (!dn::parseDN(itsEntry->itsDN, theRdns) || theRdns.empty())
            return E_invalidDNSyntax;
        outName = theRdns.front().itsText;
        return S_ok;
    }

    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        std::vector<std::string> theValues;
        const Status theStatus = getEx(inAttribute, theValues);
        if (failed(theStatus))
            return theStatus;
        outValue = theValues.front();
        return S_ok;
    }

    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override
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
            // memberOf can be ranged too on very large memberships.
        }
        if (theAt->second.empty())
            return E_propertyNotFound;
        outValues = theAt->second;
        return S_ok;
    }

    DirGroup* asGroup() override { return itsEntry->itsIsGroup ? this : nullptr; }
    DirUser* asUser() override { return itsEntry->itsIsUser ? this : nullptr; }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
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
        theStatus = itsConnection.primaryGroupSid(theDN, thePrimary);
        if (failed(theStatus) || thePrimary.empty())
            return theStatus;
        std::string theOwnSid;
        theStatus = ownSid(theOwnSid);
        if (failed(theStatus))
            return theStatus;
        outIsMember = names::sameSid(theOwnSid, thePrimary);
        return S_ok;
    }

    Status primaryGroup(std::string& outGroupDN) override
    {
        outGroupDN.clear();
        std::string theSid;
        Status theStatus = itsConnection.primaryGroupSid(itsEntry->itsDN, theSid);
        std::string theBytes;
        if (failed(theStatus) || theSid.empty() || !names::sidFromText(theSid, theBytes))
            return failed(theStatus) ? theStatus : S_false;
        // A primary group is a group of the object's own domain.
        std::vector<Found> theFound;
        theStatus = itsConnection.search(domainOf(itsEntry->itsDN), LDAP_SCOPE_SUBTREE,
                                         "(&(objectClass=group)(objectSid=" +
                                             escapeFilterBytes(theBytes) + "))",
                                         groupAttributes(), theFound);
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

    Status members(std::unique_ptr<DirEnumerator>& outMembers) override;
    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override;

private:
    // This object's objectSid as text; empty when it has none.
    Status ownSid(std::string& outSid)
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

    Status ensureMembers()
    {
        if (itsEntry->itsMembersKnown)
            return S_ok;
        EntryPtr theEntry;
        return itsConnection.read(itsEntry->itsDN, {"member"}, theEntry);
    }

    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    EntryPtr itsEntry;
};

class LdapEnumerator : public DirEnumerator
{
public:
    LdapEnumerator(std::shared_ptr<LdapService> inService, Connection& inConnection,
                   std::vector<EntryPtr> inEntries)
        : itsService(std::move(inService)), itsConnection(inConnection), itsEntries(std::move(inEntries))
    {
    }

    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        if (itsNext >= itsEntries.size())
            return S_false;
        outObject = std::make_unique<LdapObject>(itsService, itsConnection, itsEntries[itsNext++]);
        return S_ok;
    }

private:
    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    std::vector<EntryPtr> itsEntries;
    std::size_t itsNext = 0;
};


} // namespace corvel::directory::ldap
