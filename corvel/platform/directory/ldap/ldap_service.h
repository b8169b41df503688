// The live directory's service for one session: which servers it talks to
// (configured ones, or those the DNS names for the caller's domain), the
// connections opened on them (one per server, port and credentials, closed
// at the session's end), the domain each object lives in, and what the walk
// fetched ahead of itself. At its end it logs, at the debug level, what the
// session cost in requests and round trips.
#pragma once

#include <future>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_connection.h"
#include "corvel/platform/directory/ldap/ldap_locator.h"

namespace corvel::directory::ldap
{

// The naming context and DNS name of one domain of the forest, as its
// crossRef in the configuration gives them.
struct DomainRef
{
    std::string itsNcDN;
    std::string itsDnsRoot;
    std::string itsNetbios;
    // A domain of a forest ours trusts (its trustedDomain object), not one
    // of our forest; with its domain SID.
    bool itsForeign = false;
    std::string itsSid;
};

// The domain inDN lies in: the domain whose naming context is the longest
// suffix of inDN; null when none is.
const DomainRef* domainOfDN(const std::string& inDN, const std::vector<DomainRef>& inDomains);

struct ServiceOptions
{
    // Servers named by the configuration; empty: find them through DNS.
    std::vector<Target> itsConfigured;
    SrvLookup itsLookup = systemSrvLookup;
    Pinger itsPing = systemPing;
    // Where what the locator found is kept for the process's life; null:
    // nowhere (located afresh by every session).
    LocationCache* itsCache = &LocationCache::process();
    // The caller's domain when nothing is configured.
    std::string (*itsDefaultDomain)() = defaultDomainName;
};

class LdapService : public DirectoryService, public std::enable_shared_from_this<LdapService>
{
public:
    explicit LdapService(ServiceOptions inOptions) : itsOptions(std::move(inOptions)) {}
    ~LdapService() override;

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override;
    Status openObject(const std::string& inPath, const Credentials* inCredentials,
                      ObjectKind inKind, std::unique_ptr<DirObject>& outObject) override;
    // Base reads, every one in flight at once on the DC of each object's
    // domain (ldap_reads.cpp); what the session's cache holds is not asked.
    Status readObjects(std::vector<ObjectRead>& ioReads) override;

    // The forest's global catalog.
    Status gcConnection(const Credentials* inCredentials, Connection*& outConnection);
    // A DC of the home domain: the configured server, or one of the
    // caller's domain.
    Status homeConnection(const Credentials* inCredentials, Connection*& outConnection);
    // A DC for the object inDN: of the domain it lies in when that is
    // known to be another than the home domain, else the home DC. inServer
    // (from an "LDAP://server/DN" path) names the server outright.
    Status connectionFor(const std::string& inDN, const std::string& inServer,
                         const Credentials* inCredentials, Connection*& outConnection);
    // A DC of the domain inDomain (its crossRef).
    Status domainConnection(const DomainRef& inDomain, const Credentials* inCredentials,
                            Connection*& outConnection);
    // The forest's domains (their crossRefs), read once per session through
    // inVia (any server of the forest holds the configuration).
    Status domains(Connection& inVia, const std::vector<DomainRef>*& outDomains);
    // Whether the crossRefs are read, and the search that reads them on a
    // global catalog, so that a caller can send it with a search of its own.
    bool domainsKnown() const { return itsDomainsRead; }
    const std::vector<DomainRef>& knownDomains() const { return itsDomains; }
    static SearchSpec globalDomainsSpec();
    void takeDomains(const std::vector<Found>& inCrossRefs);
    // The naming context of the home DC (its defaultNamingContext).
    Status homeNamingContext(const Credentials* inCredentials, std::string& outDN);
    bool homeNamingContextKnown() const { return !itsHomeNc.empty(); }
    // inServer's defaultNamingContext, read on it: the home domain's when it
    // is the home DC (a configured server is both that and the global
    // catalog), saving a read of its own.
    void noteNamingContext(const Connection& inServer, const std::string& inNc);
    // Starts opening the home DC's connection on a thread of its own, when
    // it is not open yet: a question about to be looked up on the global
    // catalog reads its user on the home DC next, and both binds then share
    // their round trips.
    void openHomeAhead();
    // Whether any directory can be reached at all: servers configured, or a
    // domain named by Kerberos.
    bool hasDirectory();

    // --- member classification (ldap_members.cpp) ---

    // Ensures that the members of inGroup are classified (cached with
    // their object classes, a group with its member values), as cheaply as
    // the directory allows: the first time below a group, the groups under
    // it are fetched a whole level of nesting at a time.
    Status classifyMembers(Connection& inConnection, const EntryPtr& inGroup);
    // Reads what the cache lacks of inDNs (inAttributes), many in one
    // request; an entry not returned is left as it was.
    Status fetchEntries(Connection& inConnection, const std::vector<std::string>& inDNs,
                        const std::vector<std::string>& inAttributes, std::size_t& ioBudget);
    // Fetches, a level at a time, the groups above inGroups (their memberOf)
    // with their names, for the recursive group listing.
    void prefetchAbove(Connection& inConnection, const std::vector<std::string>& inGroups);
    // The SID text of the primary group of the object inDN, read once per
    // session; empty when it has none or this server cannot read it. When
    // asked at inGroup, whose levels below are not fetched yet, the read goes
    // out with the fetch of inGroup's members: one round trip for both.
    Status primaryGroupSid(Connection& inConnection, const std::string& inDN, std::string& outSid,
                           const EntryPtr& inGroup = nullptr);

    // --- forests ours trusts (ldap_trusts.cpp) ---

    // The domains of the forests ours trusts, from the home domain's
    // trustedDomain objects, read once per session.
    Status trustedDomains(const std::vector<DomainRef>*& outDomains);
    // The domain inDN lies in, of our forest or of one it trusts; null when
    // neither is known (the trusts are read when our forest's domains give
    // none).
    const DomainRef* domainRefOf(const std::string& inDN);
    // The global catalog of the forest of inDomain, a domain of a trusted
    // forest.
    Status foreignGcConnection(const DomainRef& inDomain, Connection*& outConnection);
    // The object of a trusted forest that a foreign security principal of
    // ours stands for (its SID in its name): outEntry null when no trusted
    // forest holds that SID. Read once per session.
    Status foreignObject(const std::string& inSid, Connection*& outConnection, EntryPtr& outEntry);
    // The SIDs an account counts as (objectSid and sIDHistory), read on a DC
    // of its own domain, once per session.
    Status accountSids(const std::string& inDN, std::vector<std::string>& outSids);
    // The groups of our home domain that hold the foreign security principal
    // of inSid (the memberOf of CN=<inSid>,CN=ForeignSecurityPrincipals,...).
    Status groupsOfForeignSid(const std::string& inSid, std::vector<std::string>& outGroups);

    Stats& stats() { return itsStats; }

private:
    // The session's connection over ioServers with these credentials,
    // opened when first wanted (ldap_connection.h: it fails over along the
    // list).
    Status connectTo(ServerList& ioServers, const Credentials* inCredentials,
                     Connection*& outConnection);
    std::string connectionKey(const ServerList& inServers, const Credentials* inCredentials) const;
    // Fills itsHome (and itsGc when configured) from the configuration or
    // the DNS, once.
    Status locate();
    // The global catalogs, looked up when first wanted.
    Status locateGc(const Credentials* inCredentials);
    // The home domain's naming context and a connection to one of its DCs,
    // with the caller's own ticket.
    Status home(std::string& outNamingContext, Connection*& outConnection);
    // A DC of inDN's own domain other than inTried, when its domain is known
    // (or learnt now: the forest's crossRefs, the trusts).
    bool elsewhere(const std::string& inDN, Connection& inTried, const Credentials* inCredentials,
                   Connection*& outOther);
    // The locator's answer for a domain's DCs or a forest's global
    // catalogs, from the cache when it holds one.
    Location locateDCs(const std::string& inDomain);
    Location locateGCs(const std::string& inForest);
    void prefetchBelow(Connection& inConnection, const EntryPtr& inTop);
    // The session's prefetch budget, set from the tuning on first use.
    void startBudget();
    void fetchNested(Connection& inConnection, const EntryPtr& inEntry);

    ServiceOptions itsOptions;
    bool itsLocated = false;
    Status itsLocateStatus = S_ok;
    std::string itsDomainName; // the caller's, when found through the DNS
    std::string itsClientSite; // as its DCs told it
    std::string itsForestName; // as its DCs named it
    ServerList itsHome{{}, 0, "a domain controller"};
    ServerList itsGc{{}, 0, "the global catalog"};
    std::map<std::string, ServerList> itsDomainServers; // by naming-context key
    std::map<std::string, ServerList> itsNamedServers;  // "LDAP://server/DN", by server
    bool itsDomainsRead = false;
    std::vector<DomainRef> itsDomains;
    std::string itsHomeNc;
    std::map<std::string, std::unique_ptr<Connection>> itsConnections;
    Stats itsStats;
    // What the walk has fetched ahead of itself in this session.
    std::size_t itsPrefetchBudget = 0;
    bool itsBudgetSet = false;
    std::unordered_set<std::string> itsExpanded; // groups whose levels below were fetched
    std::unordered_set<std::string> itsInChainAsked;
    // "<SID=...>" reads answered in this session: the SID's DN.
    std::map<std::string, std::string> itsDnBySid;
    // readObjects' reads of ioIndexes that searches can answer, answered so;
    // ioIndexes keeps the rest.
    void searchFirst(Connection& inConnection, std::vector<ObjectRead>& ioReads,
                     std::vector<std::size_t>& ioIndexes);
    // The home DC's connection being opened ahead (openHomeAhead), over
    // copies of the list and the statistics.
    std::future<std::unique_ptr<Connection>> itsHomeAhead;
    ServerList itsHomeAheadList;
    Stats itsHomeAheadStats;
    // Trusts, and what was learnt across them.
    bool itsTrustsRead = false;
    std::vector<DomainRef> itsTrusted;
    std::map<std::string, ServerList> itsForeignGcs; // by forest
    struct ForeignObject
    {
        Connection* itsConnection = nullptr;
        EntryPtr itsEntry;
    };
    std::map<std::string, ForeignObject> itsForeignBySid;
    std::map<std::string, std::vector<std::string>> itsAccountSids;   // by DN key
    std::map<std::string, std::vector<std::string>> itsForeignGroups; // by SID
};

// A service with options of the caller's (tests give their own DNS answers).
std::shared_ptr<DirectoryService> makeLdapService(ServiceOptions inOptions);

} // namespace corvel::directory::ldap
