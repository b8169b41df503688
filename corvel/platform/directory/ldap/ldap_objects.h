// The live directory's objects: a group, a user or any object as one
// connection has read it, and the enumerations of members and groups. They
// answer from the connection's cache and read only what it lacks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_service.h"

namespace corvel::directory::ldap
{

class LdapObject : public DirGroup, public DirUser
{
public:
    LdapObject(std::shared_ptr<LdapService> inService, Connection& inConnection, EntryPtr inEntry)
        : itsService(std::move(inService)), itsConnection(inConnection),
          itsEntry(std::move(inEntry))
    {
    }

    Status getName(std::string& outName) override;
    Status get(const std::string& inAttribute, std::string& outValue) override;
    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override;
    DirGroup* asGroup() override { return itsEntry->itsIsGroup ? this : nullptr; }
    DirUser* asUser() override { return itsEntry->itsIsUser ? this : nullptr; }

    // The member values, then the primary group rule: the object's
    // primaryGroupID (read once per session) against this group's objectSid.
    Status isMember(const std::string& inPath, bool& outIsMember) override;
    Status members(std::unique_ptr<DirEnumerator>& outMembers) override;
    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override;
    Status primaryGroup(std::string& outGroupDN) override;

private:
    // This object's objectSid as text; empty when it has none.
    Status ownSid(std::string& outSid);
    // Whether the account inDN is a member through a foreign security
    // principal among this group's members.
    Status isForeignMember(const std::string& inDN, bool& outIsMember);
    // For an object of a trusted forest: the groups of ours that hold its
    // foreign security principal, after its own memberOf.
    Status addForeignGroups(std::vector<std::string>& ioGroups);
    Status ensureMembers();

    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    EntryPtr itsEntry;
};

class LdapEnumerator : public DirEnumerator
{
public:
    LdapEnumerator(std::shared_ptr<LdapService> inService, Connection& inConnection,
                   std::vector<EntryPtr> inEntries)
        : itsService(std::move(inService)), itsConnection(inConnection),
          itsEntries(std::move(inEntries))
    {
    }

    Status next(std::unique_ptr<DirObject>& outObject) override;

private:
    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    std::vector<EntryPtr> itsEntries;
    std::size_t itsNext = 0;
};

} // namespace corvel::directory::ldap
