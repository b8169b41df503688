// One connection to the directory: the bind (the caller's Kerberos ticket,
// or a password over TLS), searches with paging and time-outs, many searches
// kept in flight together, and range retrieval of long attributes.
//
// A connection serves a list of servers (the DCs of a domain, the global
// catalogs of a forest), as the platform's own directory interfaces do: it
// binds to the first of them that answers, and when that server breaks or
// falls silent mid-operation it binds to the next and repeats the requests
// that had no whole answer yet (every one of them is a read). Only when no
// server of the list answers does the operation fail; the connection is
// dead from then on, and every later call fails at once with "server down",
// so a walk over silent servers ends in bounded time. A server that refuses
// the bind is never answered by the next one: each try would count against
// the account.
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
    unsigned long itsRequests = 0;       // searches and reads sent
    unsigned long itsRoundTrips = 0;     // waits for an answer to what was sent
    unsigned long itsBinds = 0;          // connections opened and bound
    unsigned long itsBindRoundTrips = 0; // their TCP connects and bind exchanges
    unsigned long itsFailovers = 0;      // servers given up mid-operation for the next
};

// The servers a connection may use, in the order to try them, and the one
// it uses now. Owned by the service; the connections over it share it, so a
// server found silent is skipped by all of them.
struct ServerList
{
    std::vector<Target> itsTargets;
    std::size_t itsActive = 0;
    std::string itsWhat; // for the log: "the global catalog", "a domain controller"
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
    // inCredentials null or empty: the caller's own ticket. They are kept
    // (the password wiped at the end) to bind again after a failover.
    Connection(ServerList& ioServers, Stats& ioStats, const Credentials* inCredentials);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and binds to the first server of the list, from the active
    // one on, that answers: without credentials as the caller (SASL
    // GSS-SPNEGO, one round trip, else GSSAPI; sealed unless over TLS); with
    // them by a simple bind over TLS only. Only a server that does not
    // answer sends it on to the next.
    Status open();

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
    // The server in use (the list's active one).
    const Target& target() const { return itsServers->itsTargets[itsServers->itsActive]; }
    bool isDead() const { return itsDead || !itsLd; }
    bool isGlobalCatalog() const
    {
        return !itsServers->itsTargets.empty() &&
               (target().itsPort == kGcPort || target().itsPort == kGcsPort);
    }
    // A connection opened on a thread of its own, over copies of the list
    // and the statistics, taken into the session's: it goes on with ioServers
    // (its position copied there) and counts into ioStats (its counts added).
    void adopt(ServerList& ioServers, Stats& ioStats);
    // True from the second call on: the session says once that it connected.
    bool announced()
    {
        const bool theAnnounced = itsAnnounced;
        itsAnnounced = true;
        return theAnnounced;
    }
    // The SASL mechanism the bind used ("GSS-SPNEGO", "GSSAPI"), or "simple".
    const std::string& mechanism() const { return itsMechanism; }
    // The status of a failed result code; a time-out or a lost connection
    // marks the connection dead.
    Status fail(int inResult);

private:
    // Connects to inTarget and binds; the handle is kept only on success.
    int openTarget(const Target& inTarget);
    int bindAsCaller(const Target& inTarget);
    int bindWithPassword(const Target& inTarget);
    // One SASL bind, step by step, each step's wait counted.
    int saslBind(const char* inMechanism);
    // After a time-out or a broken connection: the next server of the list,
    // bound; false when none is left.
    bool failOver(int inResult);
    // searchMany on the server in use; outDone[i] says which searches got
    // their whole answer. LDAP_SUCCESS, or the code that broke the
    // connection.
    int searchOnce(const std::vector<SearchSpec>& inSpecs, std::size_t inWindow,
                   std::vector<SearchResult>& ioResults, std::vector<bool>& ioDone);
    // One answer of a search into ioResult; outNext is the next page's
    // cookie (empty at the end; the caller owns its memory).
    int takeAnswer(const SearchSpec& inSpec, LdapMessage& inMessage, int inPages,
                   SearchResult& ioResult, berval& outNext);
    Found toFound(LDAPMessage* inEntry);
    // Sends the page of inSpec after inCookie; outId is its message id.
    int sendPage(const SearchSpec& inSpec, const berval* inCookie, int& outId);
    // Waits for the whole answer to the request inId. Counts a round trip
    // when something was sent since the last wait.
    int wait(int inId, LdapMessage& outMessage);

    ServerList* itsServers;
    Stats* itsStats;
    Credentials itsCredentials;
    LdapHandle itsLd;
    std::string itsMechanism;
    bool itsDead = false;
    bool itsAnnounced = false;
    bool itsSentSinceWait = false;
    EntryCache itsEntries;
};

} // namespace corvel::directory::ldap
