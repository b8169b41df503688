// Finding the directory as Active Directory's own clients do on a host that
// knows nothing but a realm and DNS (the Linux form of the DC locator):
//
//   the domain   the realm of the caller's Kerberos ticket (the default
//                credentials cache's principal), else krb5.conf's default
//                realm, as a DNS name in lower case;
//   its DCs      the DNS SRV records _ldap._tcp.dc._msdcs.<domain>, each
//                pinged over UDP (ldap_ping.h, several in flight): the first
//                to answer tells the client's site, and the DCs of that site
//                (_ldap._tcp.<site>._sites.dc._msdcs.<domain>) are preferred;
//                the first of them to answer is the one used;
//   the forest's global catalogs  _gc._tcp.<site>._sites.<forest>, else
//                _gc._tcp.<forest>, the forest named by the DCs' answers.
//
// SRV records are put in RFC 2782 order: by priority, and within a priority
// by a weighted random choice. Looking up records and pinging go through
// functions the service is given, so that the choice of servers can be
// tried against answers of a test's own. What was found is kept for the
// process's life (the program keeps nothing between runs).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_ping.h"
#include "corvel/platform/directory/ldap/ldap_text.h"

namespace corvel::directory::ldap
{

struct SrvRecord
{
    std::string itsHost; // without the trailing dot
    int itsPort = 0;
    int itsPriority = 0;
    int itsWeight = 0;
};

// The records of inName; false when the name has none or DNS gave no answer.
using SrvLookup =
    std::function<bool(const std::string& inName, std::vector<SrvRecord>& outRecords)>;

// The system's resolver (libresolv), bounded: a few seconds at most.
bool systemSrvLookup(const std::string& inName, std::vector<SrvRecord>& outRecords);

// inRecords in RFC 2782 order. inRandom(n) gives a number in [0, n].
std::vector<SrvRecord> orderSrvRecords(std::vector<SrvRecord> inRecords,
                                       const std::function<std::uint32_t(std::uint32_t)>& inRandom);

// The DNS name of the caller's domain (see above); empty when neither the
// ticket nor krb5.conf names a realm.
std::string defaultDomainName();

// "corp.example.com" from "DC=corp,DC=example,DC=com"; empty when the DN is
// no DC= path.
std::string dnsNameOfDN(const std::string& inDN);

// The servers of inService for inDomain, in the order to try them: the
// domain's DCs (ldap.conf's ldaps asks for port 636) or the forest's global
// catalogs (3268, or 3269 with TLS). Logs, at the debug level, the records
// asked and what they gave.
std::vector<LdapUri> domainControllers(const std::string& inDomain, bool inTls,
                                       const SrvLookup& inLookup);
std::vector<LdapUri> globalCatalogs(const std::string& inForest, bool inTls,
                                    const SrvLookup& inLookup);

// The LDAP ping of inHosts for inDomain: the first answer, taking only
// global catalogs when inWantGc; nothing when none answered in time.
using Pinger = std::function<std::optional<PingResult>(const std::vector<std::string>& inHosts,
                                                       const std::string& inDomain, bool inWantGc)>;

// pingDomainControllers with the locator's time-out.
std::optional<PingResult> systemPing(const std::vector<std::string>& inHosts,
                                     const std::string& inDomain, bool inWantGc);

// What the locator found for one domain's DCs or one forest's global
// catalogs.
struct Location
{
    // In the order to try them: the one that answered first (in the
    // client's site when it has one), the rest of its site, then the rest.
    std::vector<LdapUri> itsTargets;
    std::string itsClientSite; // empty: in no site, or no DC answered
    std::string itsForest;     // the forest's DNS name as the DCs named it; empty when unknown
    std::string itsWhy;        // why the first is first, for the log
};

// The DCs of inDomain, as described above; no targets when the DNS has no
// records. Without an answer to any ping, the records' own order.
Location locateDomainControllers(const std::string& inDomain, bool inTls, const SrvLookup& inLookup,
                                 const Pinger& inPing);
// The global catalogs of inForest, preferring those of inClientSite.
Location locateGlobalCatalogs(const std::string& inForest, const std::string& inClientSite,
                              bool inTls, const SrvLookup& inLookup, const Pinger& inPing);

// What the locator found in this process, by domain or forest: the one
// copy the sessions of a process share.
class LocationCache
{
public:
    // False when nothing is known of inKey yet.
    bool find(const std::string& inKey, Location& outLocation) const;
    void store(const std::string& inKey, const Location& inLocation);
    // The answer inHost gave to a ping for inDomain, if it gave one.
    bool findAnswer(const std::string& inHost, const std::string& inDomain,
                    PingResult& outAnswer) const;
    void storeAnswer(const std::string& inDomain, const PingResult& inAnswer);
    // DCs pinged in vain: not waited for again in this process.
    bool wasSilent(const std::string& inHost) const;
    void markSilent(const std::string& inHost);
    // The process's own.
    static LocationCache& process();

private:
    mutable std::mutex itsMutex;
    std::map<std::string, Location> itsLocations;
    std::map<std::string, PingResult> itsAnswers; // by host and domain
    std::set<std::string> itsSilent;
};

} // namespace corvel::directory::ldap
