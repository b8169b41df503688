// One connection to one directory server: the bind (the caller's Kerberos
// ticket, or a password over TLS), searches with paging and time-outs, many
// searches kept in flight together, and range retrieval of long attributes.
//
// A connection that times out or breaks is dead from then on: every later
// call fails at once with "server down", so a walk over a silent server ends
// in bounded time instead of waiting at every group.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/directory/ldap/ldap_entries.h"
#include "corvel/platform/directory/ldap/ldap_handles.h"
#include "corvel/platform/directory/ldap/ldap_text.h"

namespace corvel::directory::ldap
{

inline constexpr int kGcPort = 3268;
inline constexpr int kGcsPort = 3269;

using Target = LdapUri;

// What one session asked of the directory, for the cost line at its end.
struct Stats
{
    unsigned long itsRequests = 0;   // searches and reads sent
    unsigned long itsRoundTrips = 0; // waits for an answer to what was sent
    unsigned long itsBinds = 0;      // connections opened (each a few exchanges)
};

// One search to make.
struct SearchSpec
{
    std::string itsBase;
    int itsScope = LDAP_SCOPE_BASE;
    std::string itsFilter = "(objectClass=*)";
    std::vector<std::string> itsAttributes;
    // Seconds the server may spend (0: the operation time-out alone).
    int itsTimeLimit = 0;
    // Paged (the simple paged results control) unless false: without paging
    // a server's size limit fails the search, so a part of an answer is
    // never taken for all of it.
    bool itsPaged = true;
    // Entries the server may return at most (0: its own limit). Beyond it
    // the search ends with LDAP_SIZELIMIT_EXCEEDED.
    int itsSizeLimit = 0;
};

// What one search gave.
struct SearchResult
{
    // LDAP_SUCCESS, or the server's result code, or a client-side code
    // (LDAP_TIMEOUT, LDAP_SERVER_DOWN) when no answer came.
    int itsCode = LDAP_SUCCESS;
    std::vector<Found> itsFound;
    // From the first request to the last page.
    std::chrono::steady_clock::duration itsElapsed{};
};

class Connection
{
public:
    Connection(Target inTarget, Stats& ioStats) : itsTarget(std::move(inTarget)), itsStats(ioStats)
    {
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and binds: without credentials as the caller (SASL GSSAPI,
    // sealed unless over TLS); with them by a simple bind over TLS only.
    Status open(const Credentials* inCredentials);

    // One search; references (referrals) are not chased.
    Status search(const SearchSpec& inSpec, std::vector<Found>& outFound);
    // Several searches kept in flight together, at most inWindow at a time,
    // their next pages asked as soon as a page arrives: round trips are paid
    // once for the lot, not once per search. outResults[i] answers
    // inSpecs[i]. The status is a failure only when the connection itself
    // failed (no answer in time, broken); each search's own code is in its
    // result. After a failure no answer still owed is ever taken for
    // another request's.
    Status searchMany(const std::vector<SearchSpec>& inSpecs, std::size_t inWindow,
                      std::vector<SearchResult>& outResults);

    // The values of a ranged attribute ("member;range=1500-*") from inFirst on.
    Status readRange(const std::string& inDN, const std::string& inAttribute, std::uint32_t inFirst,
                     std::vector<std::string>& ioValues);

    // Reads the named attributes of one entry into the cache; attributes asked
    // for and not returned are recorded as absent.
    Status read(const std::string& inDN, const std::vector<std::string>& inAttributes,
                EntryPtr& outEntry);
    // Merges one search result into the cache, completing ranged member
    // values.
    Status absorb(const Found& inFound, EntryPtr& outEntry);

    EntryCache& entries() { return itsEntries; }
    const Target& target() const { return itsTarget; }
    bool isDead() const { return itsDead || !itsLd; }
    bool isGlobalCatalog() const
    {
        return itsTarget.itsPort == kGcPort || itsTarget.itsPort == kGcsPort;
    }
    // The status of a failed result code; a time-out or a lost connection
    // marks the connection dead.
    Status fail(int inResult);

private:
    Found toFound(LDAPMessage* inEntry);
    // Sends the page of inSpec after inCookie; outId is its message id.
    int sendPage(const SearchSpec& inSpec, const berval* inCookie, int& outId);
    // Waits for the whole answer to the request inId. Counts a round trip
    // when something was sent since the last wait.
    int wait(int inId, LdapMessage& outMessage);

    Target itsTarget;
    Stats& itsStats;
    LdapHandle itsLd;
    bool itsDead = false;
    bool itsSentSinceWait = false;
    EntryCache itsEntries;
};

} // namespace corvel::directory::ldap
