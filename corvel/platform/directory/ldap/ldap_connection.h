// One connection to one directory server: the bind (Kerberos or a password
// over TLS), searches with paging and time-outs, range retrieval of long
// attributes, and the cache of the entries read through it.
#pragma once

#include <ldap.h>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/directory/ldap/ldap_text.h"

namespace corvel::directory::ldap
{

constexpr int kGcPort = 3268;
constexpr int kGcsPort = 3269;
// Base reads kept in flight on one connection while classifying a member
// list: enough to hide the round trip, few enough that a server answering
// requests in turn is never flooded.
constexpr std::size_t kReadsInFlight = 64;
// Above this many members to classify, one search for the groups among them
// costs the server less than reading each (measured on Samba: 2,000 member
// groups in one search take a tenth of the server time of 2,000 reads).
constexpr std::size_t kSearchAbove = 32;
// AD returns at most MaxPageSize (1000) entries per search without paging.
constexpr int kPageSize = 1000;
// Bounds the range retrieval of one attribute: 1500 values a step on AD,
// so this allows groups of tens of millions of members and no endless loop.
constexpr int kMaxRangeSteps = 100000;
constexpr const char* kInChainRule = "1.2.840.113556.1.4.1941";

// The operation time-out in seconds.
int timeoutSeconds();

std::string lower(const std::string& inText);
// The comparison key of a DN; text that is no DN compares as itself.
std::string dnKey(const std::string& inDN);
// The DC= suffix of a DN: the DN of the domain naming context holding it.
std::string domainOf(const std::string& inDN);

using Target = LdapUri;

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

    void setMembers(std::vector<std::string> inMembers)
    {
        itsMembers = std::move(inMembers);
        itsMemberKeys.clear();
        for (const std::string& curMember : itsMembers)
            itsMemberKeys.insert(dnKey(curMember));
        itsMembersKnown = true;
    }
    void setClasses(const std::vector<std::string>& inClasses)
    {
        itsClassKnown = true;
        itsIsGroup = false;
        itsIsUser = false;
        for (const std::string& curClass : inClasses)
        {
            const std::string theClass = lower(curClass);
            itsIsGroup = itsIsGroup || theClass == "group";
            itsIsUser = itsIsUser || theClass == "user";
        }
    }
};

using EntryPtr = std::shared_ptr<Entry>;

// One search result: DN and attributes by name as returned (ranged names kept).
struct Found
{
    std::string itsDN;
    std::vector<std::pair<std::string, std::vector<std::string>>> itsAttributes;
};

class LdapService;

class Connection
{
public:
    Connection(LdapService& inService, Target inTarget) : itsService(inService), itsTarget(std::move(inTarget)) {}
    ~Connection()
    {
        if (itsLd != nullptr)
            ldap_unbind_ext_s(itsLd, nullptr, nullptr);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Status open(const Credentials* inCredentials);

    // A search, with paging unless !inPaged; references (referrals) are not
    // chased. Without paging, a server's size limit fails the search: a
    // part of the answer is never taken for all of it.
    // inTimeLimit: seconds the server may spend (0: the operation time-out).
    Status search(const std::string& inBase, int inScope, const std::string& inFilter,
                  const std::vector<std::string>& inAttributes, std::vector<Found>& outFound,
                  int inTimeLimit = 0, bool inPaged = true);

    // The cache entry for inDN (created empty when new).
    EntryPtr entry(const std::string& inDN)
    {
        EntryPtr& theEntry = itsEntries[dnKey(inDN)];
        if (!theEntry)
        {
            theEntry = std::make_shared<Entry>();
            theEntry->itsDN = inDN;
        }
        return theEntry;
    }
    EntryPtr cached(const std::string& inDN)
    {
        const auto theAt = itsEntries.find(dnKey(inDN));
        return theAt == itsEntries.end() ? nullptr : theAt->second;
    }

    // Merges one search result into the cache, completing ranged member
    // values; returns the entry.
    Status absorb(const Found& inFound, EntryPtr& outEntry);
    // Reads the named attributes of one entry into the cache.
    Status read(const std::string& inDN, const std::vector<std::string>& inAttributes,
                EntryPtr& outEntry);
    // Classifies and caches the entries of inDNs (with a group's member
    // values), one base read each, kReadsInFlight of them at once.
    Status fetchMany(const std::vector<std::string>& inDNs);
    // The SID text of the primary group of the object inDN, read once per
    // session (a walk asks about the same user at every group); empty when
    // it has none or this server cannot read it (an object of another
    // domain, which cannot have its primary group here anyway).
    Status primaryGroupSid(const std::string& inDN, std::string& outSid);
    // The values of a ranged attribute from inFirst on.
    Status readRange(const std::string& inDN, const std::string& inAttribute, std::uint32_t inFirst,
                     std::vector<std::string>& ioValues);

    const Target& target() const { return itsTarget; }
    LdapService& service() { return itsService; }

private:
    Status fail(int inResult);
    Found toFound(LDAPMessage* inEntry);
    // Sends a base read of inDN without waiting; outId is its message id.
    Status sendRead(const std::string& inDN, int& outId);
    // Waits for the whole answer to the read outId; outFound is null when
    // the object cannot be read (absent, elsewhere, or hidden from us).
    Status takeRead(int inId, std::unique_ptr<Found>& outFound);

    LdapService& itsService;
    Target itsTarget;
    LDAP* itsLd = nullptr;
    bool itsDead = false;
    std::unordered_map<std::string, EntryPtr> itsEntries;
};

// The attributes every group read asks for.
const std::vector<std::string>& groupAttributes();

} // namespace corvel::directory::ldap
