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
        {"DC=corp,DC=example,DC=com", "corp.example.com", "CORP"},
        {"DC=emea,DC=corp,DC=example,DC=com", "emea.corp.example.com", "EMEA"},
        {"DC=other,DC=test", "other.test", "OTHER"},
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
