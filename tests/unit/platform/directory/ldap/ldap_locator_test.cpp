// Finding the directory with nothing configured, over DNS answers of the
// test's own: the records asked, RFC 2782 order, the choice of a domain's
// DCs from the forest's crossRefs, fail-over across what the DNS named, and
// a clear failure when there is nothing to find.
#include "corvel/platform/directory/ldap/ldap_locator.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <map>

#include "corvel/platform/directory/ldap/ldap_service.h"
#include "tests/unit/platform/directory/ldap/loopback_ports.h"

using namespace corvel::directory;
using namespace corvel::directory::ldap;

namespace
{

SrvRecord record(const char* inHost, int inPort, int inPriority, int inWeight)
{
    return SrvRecord{inHost, inPort, inPriority, inWeight};
}

std::vector<std::string> hosts(const std::vector<SrvRecord>& inRecords)
{
    std::vector<std::string> theHosts;
    for (const SrvRecord& curRecord : inRecords)
        theHosts.push_back(curRecord.itsHost);
    return theHosts;
}

// A DNS of the test's own: the names asked, and the records it holds.
struct FakeDns
{
    std::map<std::string, std::vector<SrvRecord>> itsRecords;
    std::vector<std::string> itsAsked;
    SrvLookup lookup()
    {
        return [this](const std::string& inName, std::vector<SrvRecord>& outRecords)
        {
            itsAsked.push_back(inName);
            const auto theAt = itsRecords.find(inName);
            if (theAt == itsRecords.end())
                return false;
            outRecords = theAt->second;
            return true;
        };
    }
};

std::string theDomainOfTheTest;
std::string testDomain() { return theDomainOfTheTest; }

} // namespace

TEST(Locator, Rfc2782OrderByPriorityThenWeight)
{
    // Priority first; within one, weight 0 first, then the running sum of
    // the weights left against the random number drawn.
    std::deque<std::uint32_t> theDraws = {0, 15, 0, 7};
    std::vector<std::uint32_t> theLimits;
    const auto theRandom = [&](std::uint32_t inLimit)
    {
        theLimits.push_back(inLimit);
        const std::uint32_t theDraw = theDraws.empty() ? 0 : theDraws.front();
        if (!theDraws.empty())
            theDraws.pop_front();
        return theDraw;
    };
    const std::vector<SrvRecord> theOrdered = orderSrvRecords(
        {record("late", 389, 20, 5), record("a", 389, 10, 10), record("b", 389, 10, 30),
         record("zero", 389, 10, 0), record("other", 389, 20, 5)},
        theRandom);
    EXPECT_EQ(hosts(theOrdered), (std::vector<std::string>{"zero", "b", "a", "other", "late"}));
    // The sums of the weights left, drawn against each time.
    EXPECT_EQ(theLimits, (std::vector<std::uint32_t>{40, 40, 10, 10, 5}));

    // The highest draw picks the last record whose weight reaches it.
    const auto theAgain = orderSrvRecords({record("x", 1, 0, 1), record("y", 1, 0, 100)},
                                          [](std::uint32_t inLimit) { return inLimit; });
    EXPECT_EQ(hosts(theAgain), (std::vector<std::string>{"y", "x"}));
}

TEST(Locator, RecordsAskedForDomainsAndForests)
{
    FakeDns theDns;
    theDns.itsRecords["_ldap._tcp.dc._msdcs.corp.example.com"] = {
        record("dc1.corp.example.com", 389, 0, 100)};
    theDns.itsRecords["_gc._tcp.example.com"] = {record("gc1.example.com", 3268, 0, 100)};
    const auto theDcs = domainControllers("CORP.Example.COM", false, theDns.lookup());
    ASSERT_EQ(theDcs.size(), 1u);
    EXPECT_EQ(theDcs[0].itsHost, "dc1.corp.example.com");
    EXPECT_EQ(theDcs[0].itsPort, 389);
    const auto theTls = domainControllers("corp.example.com", true, theDns.lookup());
    ASSERT_EQ(theTls.size(), 1u);
    EXPECT_EQ(theTls[0].itsPort, 636);
    EXPECT_TRUE(theTls[0].itsTls);
    const auto theGcs = globalCatalogs("example.com", true, theDns.lookup());
    ASSERT_EQ(theGcs.size(), 1u);
    EXPECT_EQ(theGcs[0].itsPort, 3269);
    EXPECT_TRUE(globalCatalogs("nowhere.test", false, theDns.lookup()).empty());
    EXPECT_TRUE(domainControllers("", false, theDns.lookup()).empty());
    EXPECT_EQ(theDns.itsAsked,
              (std::vector<std::string>{"_ldap._tcp.dc._msdcs.corp.example.com",
                                        "_ldap._tcp.dc._msdcs.corp.example.com",
                                        "_gc._tcp.example.com", "_gc._tcp.nowhere.test"}));

    EXPECT_EQ(dnsNameOfDN("DC=Child,DC=corp,DC=example,DC=com"), "child.corp.example.com");
    EXPECT_EQ(dnsNameOfDN("OU=x,DC=corp"), "");
}

TEST(Locator, ObjectsOfEachDomainGoToThatDomain)
{
    const std::vector<DomainRef> theForest = {
        {"DC=corp,DC=example,DC=com", "corp.example.com", "CORP", false, ""},
        {"DC=emea,DC=corp,DC=example,DC=com", "emea.corp.example.com", "EMEA", false, ""},
        {"DC=other,DC=test", "other.test", "OTHER", false, ""},
    };
    struct Case
    {
        const char* itsDN;
        const char* itsDomain; // null: in no domain of the forest
    };
    const Case theCases[] = {
        {"CN=Sales,OU=Groups,DC=corp,DC=example,DC=com", "CORP"},
        // The longest naming context wins: a child domain under its parent.
        {"CN=Staff,OU=Groups,DC=emea,DC=corp,DC=example,DC=com", "EMEA"},
        {"cn=staff,dc=EMEA,dc=corp,dc=example,dc=com", "EMEA"},
        {"DC=emea,DC=corp,DC=example,DC=com", "EMEA"},
        {"CN=x,DC=other,DC=test", "OTHER"},
        {"CN=x,DC=corpx,DC=example,DC=com", nullptr},
        {"CN=x,DC=example,DC=com", nullptr},
    };
    for (const Case& curCase : theCases)
    {
        const DomainRef* theDomain = domainOfDN(curCase.itsDN, theForest);
        EXPECT_EQ(theDomain ? theDomain->itsNetbios : std::string(),
                  curCase.itsDomain ? curCase.itsDomain : "")
            << curCase.itsDN;
    }
}

TEST(Locator, ServersTheDnsNamedAreTriedInTurnAndNothingFoundFailsClearly)
{
    ::setenv("CORVEL_LDAP_TIMEOUT", "2", 1);
    const int theFirst = ldaptest::closedPort();
    const int theSecond = ldaptest::closedPort();
    ASSERT_GT(theFirst, 0);
    ASSERT_GT(theSecond, 0);
    FakeDns theDns;
    theDns.itsRecords["_ldap._tcp.dc._msdcs.corp.test"] = {record("127.0.0.1", theFirst, 0, 0),
                                                           record("127.0.0.1", theSecond, 1, 0)};
    ServiceOptions theOptions;
    theOptions.itsLookup = theDns.lookup();
    theOptions.itsDefaultDomain = testDomain;
    theOptions.itsPing = nullptr; // no LDAP ping: the DNS's order
    theOptions.itsCache = nullptr;
    theDomainOfTheTest = "corp.test";
    auto theService = makeLdapService(theOptions);
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    // Both DCs refuse: the GC records are asked, none exist, so the DCs'
    // own hosts serve as global catalogs and both are tried.
    EXPECT_EQ(theTranslator->init(InitType_Domain, "CORP"), E_serverDown);
    EXPECT_EQ(theDns.itsAsked.front(), "_ldap._tcp.dc._msdcs.corp.test");

    // No realm at all, or a realm without records: no such domain, at once.
    for (const char* curDomain : {"", "norecords.test"})
    {
        theDomainOfTheTest = curDomain;
        auto theNone = makeLdapService(theOptions);
        ASSERT_EQ(theNone->createNameTranslator(theTranslator), S_ok);
        EXPECT_EQ(theTranslator->init(InitType_GC, ""), E_noSuchDomain) << curDomain;
        std::unique_ptr<DirObject> theObject;
        EXPECT_EQ(theNone->openObject("LDAP://CN=x,DC=corp,DC=test", nullptr, ObjectKind::Group,
                                      theObject),
                  E_noSuchDomain)
            << curDomain;
    }
}

namespace
{

// DCs of the test's own answering the LDAP ping: the first host of the
// pinged list that answers at all wins, as the first datagram back does.
struct FakePing
{
    // host -> {its site, the client's site it reports, a GC?}; absent: silent.
    struct Dc
    {
        std::string itsSite;
        std::string itsClientSite;
        bool itsGc = true;
    };
    std::map<std::string, Dc> itsDcs;
    std::vector<std::vector<std::string>> itsPinged;
    Pinger pinger()
    {
        return [this](const std::vector<std::string>& inHosts, const std::string& inDomain,
                      bool inWantGc) -> std::optional<PingResult>
        {
            itsPinged.push_back(inHosts);
            for (const std::string& curHost : inHosts)
            {
                const auto theAt = itsDcs.find(curHost);
                if (theAt == itsDcs.end() || (inWantGc && !theAt->second.itsGc))
                    continue;
                PingResult theResult;
                theResult.itsHost = curHost;
                theResult.itsResponse.itsDnsForestName = inDomain;
                theResult.itsResponse.itsDcSiteName = theAt->second.itsSite;
                theResult.itsResponse.itsClientSiteName = theAt->second.itsClientSite;
                if (theAt->second.itsSite == theAt->second.itsClientSite)
                    theResult.itsResponse.itsFlags |= kDsClosestFlag;
                return theResult;
            }
            return std::nullopt;
        };
    }
};

std::vector<std::string> hostsOf(const std::vector<LdapUri>& inTargets)
{
    std::vector<std::string> theHosts;
    for (const LdapUri& curTarget : inTargets)
        theHosts.push_back(curTarget.itsHost);
    return theHosts;
}

} // namespace

TEST(DcLocator, PrefersTheClientsSiteAndFallsBack)
{
    // Two sites; the SRV records list the far DC first, as a random choice
    // among equal records may.
    struct Case
    {
        const char* itsWhat;
        std::map<std::string, FakePing::Dc> itsDcs;
        std::vector<std::string> itsOrder;   // of the DCs
        std::string itsSite;                 // the client's
        std::vector<std::string> itsGcOrder; // of the global catalogs
    };
    const Case theCases[] = {
        {"client in A, the far DC answers first",
         {{"far.corp.test", {"B", "A"}}, {"near.corp.test", {"A", "A"}}},
         {"near.corp.test", "far.corp.test"},
         "A",
         {"near.corp.test", "far.corp.test"}},
        {"client in B",
         {{"far.corp.test", {"B", "B"}}, {"near.corp.test", {"A", "B"}}},
         {"far.corp.test", "near.corp.test"},
         "B",
         {"far.corp.test", "near.corp.test"}},
        {"client in no site: the first to answer",
         {{"far.corp.test", {"B", ""}}, {"near.corp.test", {"A", ""}}},
         {"far.corp.test", "near.corp.test"},
         "",
         {"far.corp.test", "near.corp.test"}},
        {"the site's DC is down: the domain's first answer",
         {{"far.corp.test", {"B", "A"}}},
         {"far.corp.test", "near.corp.test"},
         "A",
         {"far.corp.test", "near.corp.test"}},
        {"nobody answers: the DNS's order",
         {},
         {"far.corp.test", "near.corp.test"},
         "",
         {"far.corp.test", "near.corp.test"}},
        {"the near DC is no global catalog",
         {{"far.corp.test", {"B", "A"}}, {"near.corp.test", {"A", "A", false}}},
         {"near.corp.test", "far.corp.test"},
         "A",
         {"far.corp.test", "near.corp.test"}},
    };
    for (const Case& curCase : theCases)
    {
        FakeDns theDns;
        theDns.itsRecords["_ldap._tcp.dc._msdcs.corp.test"] = {record("far.corp.test", 389, 0, 0),
                                                               record("near.corp.test", 389, 0, 0)};
        theDns.itsRecords["_ldap._tcp.A._sites.dc._msdcs.corp.test"] = {
            record("near.corp.test", 389, 0, 0)};
        theDns.itsRecords["_ldap._tcp.B._sites.dc._msdcs.corp.test"] = {
            record("far.corp.test", 389, 0, 0)};
        theDns.itsRecords["_gc._tcp.corp.test"] = {record("far.corp.test", 3268, 0, 0),
                                                   record("near.corp.test", 3268, 0, 0)};
        theDns.itsRecords["_gc._tcp.A._sites.corp.test"] = {record("near.corp.test", 3268, 0, 0)};
        theDns.itsRecords["_gc._tcp.B._sites.corp.test"] = {record("far.corp.test", 3268, 0, 0)};
        FakePing thePing;
        thePing.itsDcs = curCase.itsDcs;
        // Records of one priority and weight 0 keep their order.
        const Location theDcs =
            locateDomainControllers("CORP.test", false, theDns.lookup(), thePing.pinger());
        EXPECT_EQ(hostsOf(theDcs.itsTargets), curCase.itsOrder) << curCase.itsWhat;
        EXPECT_EQ(theDcs.itsClientSite, curCase.itsSite) << curCase.itsWhat;
        ASSERT_FALSE(thePing.itsPinged.empty());
        EXPECT_EQ(thePing.itsPinged.front().size(), 2u) << "every DC pinged at once";
        const Location theGcs =
            locateGlobalCatalogs(theDcs.itsForest.empty() ? "corp.test" : theDcs.itsForest,
                                 theDcs.itsClientSite, false, theDns.lookup(), thePing.pinger());
        EXPECT_EQ(hostsOf(theGcs.itsTargets), curCase.itsGcOrder) << curCase.itsWhat;
        for (const LdapUri& curTarget : theGcs.itsTargets)
            EXPECT_EQ(curTarget.itsPort, 3268) << curCase.itsWhat;
    }
}
