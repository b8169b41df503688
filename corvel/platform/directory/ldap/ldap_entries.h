// What the live directory backend knows of the entries it has read: their
// object classes, their member values and the attributes asked for so far,
// one cache per connection (one server's view). Nothing here talks to the
// server.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvel::directory::ldap
{

std::string lower(const std::string& inText);
// The comparison key of a DN; text that is no DN compares as itself.
std::string dnKey(const std::string& inDN);
// The DC= suffix of a DN: the DN of the domain naming context holding it.
std::string domainOf(const std::string& inDN);

// One search result: DN and attributes by name as returned (ranged names
// kept).
struct Found
{
    std::string itsDN;
    std::vector<std::pair<std::string, std::vector<std::string>>> itsAttributes;
};

// One entry as read from the directory.
struct Entry
{
    std::string itsDN;
    bool itsClassKnown = false;
    bool itsIsGroup = false;
    bool itsIsUser = false;
    // Attributes read so far, by lower-case name; a name present with no
    // values was asked for and is absent.
    std::map<std::string, std::vector<std::string>> itsAttributes;
    bool itsMembersKnown = false;
    std::vector<std::string> itsMembers;
    std::unordered_set<std::string> itsMemberKeys;

    void setMembers(std::vector<std::string> inMembers);
    void setClasses(const std::vector<std::string>& inClasses);
    // Known to be no group (and so to have no members to walk).
    void setNotGroup();
    // Records what a read asked for and did not get: attributes absent, for
    // a group no member values, no class visible to us.
    void settle(const std::vector<std::string>& inAttributes);
    // Whether the walk knows all it needs of it: its class, and as a group
    // its member values.
    bool isClassified() const { return itsClassKnown && (!itsIsGroup || itsMembersKnown); }
};

using EntryPtr = std::shared_ptr<Entry>;

class EntryCache
{
public:
    // The entry for inDN, created empty when new.
    EntryPtr entry(const std::string& inDN);
    // The entry for inDN, or null.
    EntryPtr cached(const std::string& inDN) const;
    std::size_t size() const { return itsEntries.size(); }

private:
    std::unordered_map<std::string, EntryPtr> itsEntries;
};

// The attributes every group read asks for. objectSid and primaryGroupID
// come with the member values: both halves of is-member, the member
// attribute and the primary group rule, come back in the one read (of the
// group, and of a user read as a member).
const std::vector<std::string>& groupAttributes();

} // namespace corvel::directory::ldap
