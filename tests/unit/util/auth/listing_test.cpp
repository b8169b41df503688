// Group listing on the LDIF directory: both modes, loops, the same plain
// name in two containers, a user in no group, the depth rule, failures of
// single objects, credentials passed only with a domain and a password, and
// the global groups of an account through the network-management call.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/dir_faults.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/os_netapi.h"
#include "corvel/util/qzauthenticator.h"
#include "tests/unit/util/auth/auth_support.h"

namespace
{

using GroupSet = qzAuthenticator::GroupSet;
using corvel::directory::faults::FaultOp;

const std::string theExample = std::string(CORVEL_SOURCE_DIR) + "/examples/corp.ldif";

std::string exampleUser(const std::string& inCn)
{
    return "CN=" + inCn + ",OU=Users,DC=corp,DC=example,DC=test";
}

class ListingTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("CORVEL_DIRECTORY", ("ldif:" + theExample).c_str(), 1); }
    void TearDown() override
    {
        corvel::directory::faults::clearFaults();
        ::unsetenv("CORVEL_DIRECTORY");
    }
};

TEST_F(ListingTest, RecursiveModeWalksUpAndCutsLoops)
{
    authtest::Capture theCapture;
    GroupSet theGroups;
    // alice: Developers -> Engineering -> Staff; then Staff of OU=Regional
    // is taken as collected already, so IT-Admins above it is not reached.
    // Domain Users is her primary group, named in no member attribute.
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", "", theGroups, true));
    EXPECT_EQ(theGroups, (GroupSet{"Developers", "Domain Users", "Engineering", "Staff"}));
    EXPECT_EQ(theCapture.count("5|qzAuthenticator::getADUserGroups found user as \"" +
                               exampleUser("Alice Anders") + "\""),
              1u);
    EXPECT_EQ(theCapture.count("5|qzAuthenticator::getADUserGroups - result SUCCESS"), 1u);

    // erin: LoopA <-> LoopB ends with each name once.
    GroupSet theLoop;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\erin", "", theLoop, true));
    EXPECT_EQ(theLoop, (GroupSet{"Domain Users", "LoopA", "LoopB"}));

    // dave: Staff directly and through Sales/Marketing.
    GroupSet theDave;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("dave@corp.example.test", "", theDave, true));
    EXPECT_EQ(theDave, (GroupSet{"Domain Users", "Sales/Marketing", "Staff"}));
}

TEST_F(ListingTest, SetIsOnlyAddedToAndStopsTheWalk)
{
    // frank is named in no member attribute (he has no memberOf): true, and
    // only his primary group is added, in both modes.
    GroupSet theGroups{"Zeta", "alpha"};
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\frank", "", theGroups, true));
    EXPECT_EQ(theGroups, (GroupSet{"Domain Users", "Zeta", "alpha"}));
    GroupSet theDirect{"Zeta"};
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\frank", "", theDirect, false));
    EXPECT_EQ(theDirect, (GroupSet{"Domain Users", "Zeta"}));

    // Engineering already held: not walked, so the first Staff is not
    // reached and the Regional one is, with IT-Admins above it.
    GroupSet theHeld{"Engineering"};
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", "", theHeld, true));
    EXPECT_EQ(theHeld,
              (GroupSet{"Developers", "Domain Users", "Engineering", "IT-Admins", "Staff"}));
    // Byte-wise order: upper case before lower case.
    EXPECT_EQ(*GroupSet({"b", "B", "a"}).begin(), "B");
}

TEST_F(ListingTest, DirectModeTakesRelativeNames)
{
    GroupSet theGroups;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", "", theGroups, false));
    EXPECT_EQ(theGroups, (GroupSet{"Developers", "Domain Users", "Staff"}));

    GroupSet theJohn;
    EXPECT_TRUE(
        qzAuthenticator::getUserGroups(exampleUser("Smith\\, John"), L"", L"", theJohn, false));
    EXPECT_EQ(theJohn, (GroupSet{"Domain Users", "Sales/Marketing"}));
}

TEST(ListingShortNames, RelativeNamesOfThreeCharactersOrFewerAreSkipped)
{
    // "CN=X" (4 characters) gives "X"; "O=Q" (3) gives nothing.
    const std::string theLdif =
        authtest::corpLdif() + authtest::groupLdif("X", "X", {authtest::personDN("Carol Test")}) +
        "dn: O=Q,DC=corp,DC=example,DC=test\nobjectClass: group\nsAMAccountName: Q\n"
        "member: " +
        authtest::personDN("Carol Test") + "\n\n";
    authtest::LdifDirectory theDirectory(theLdif);
    GroupSet theGroups;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\carol", "", theGroups, false));
    EXPECT_EQ(theGroups, (GroupSet{"Level3", "X"}));
}

TEST(ListingDepth, DepthLimitsTheLevelsAbove)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    GroupSet theOne;
    qzAuthenticator::enumerateGroup(authtest::groupDN("Level3"), L"", L"", theOne, 1);
    EXPECT_EQ(theOne, (GroupSet{"Level3"}));
    GroupSet theTwo;
    qzAuthenticator::enumerateGroup(authtest::groupDN("Level3"), L"", L"", theTwo, 2);
    EXPECT_EQ(theTwo, (GroupSet{"Level2", "Level3"}));
    GroupSet theAll;
    qzAuthenticator::enumerateGroup(authtest::groupDN("Level3"), L"", L"", theAll, 0x7fffffff);
    EXPECT_EQ(theAll, (GroupSet{"Level0", "Level1", "Level2", "Level3"}));
    GroupSet theNone;
    qzAuthenticator::enumerateGroup(authtest::groupDN("Level3"), L"", L"", theNone, 0);
    EXPECT_EQ(theNone, (GroupSet{"Level3"})); // the group itself is always added
}

TEST(ListingDepth, ThousandsOfLevelsDoNotReachTheStack)
{
    // G0 > G1 > ... > G19999 > carol: the walk runs up 20000 levels.
    constexpr int theLevels = 20000;
    std::string theLdif = authtest::corpLdif();
    for (int curLevel = 0; curLevel < theLevels; ++curLevel)
    {
        const std::string theMember = curLevel + 1 < theLevels
                                          ? authtest::groupDN("G" + std::to_string(curLevel + 1))
                                          : authtest::personDN("Carol Test");
        theLdif += authtest::groupLdif("G" + std::to_string(curLevel),
                                       "G" + std::to_string(curLevel), {theMember});
    }
    authtest::LdifDirectory theDirectory(theLdif);
    GroupSet theGroups;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\carol", "", theGroups, true));
    EXPECT_EQ(theGroups.size(), static_cast<std::size_t>(theLevels + 4)); // + Level3..Level0
    EXPECT_EQ(theGroups.count("G0"), 1u);
    EXPECT_EQ(theGroups.count("G19999"), 1u);
}

TEST_F(ListingTest, FailuresAreLoggedAndTheWalkGoesOn)
{
    authtest::Capture theCapture;
    // A group that cannot be opened is logged; its siblings are still walked.
    corvel::directory::faults::injectFault(FaultOp::Open,
                                           "CN=Developers,OU=Groups,DC=corp,DC=example,DC=test",
                                           corvel::directory::E_accessDenied);
    GroupSet theGroups;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", "", theGroups, true));
    EXPECT_EQ(theGroups, (GroupSet{"Domain Users", "IT-Admins", "Staff"}));
    EXPECT_EQ(theCapture.count("0|enumerateGroup unable to retrieve information about group "
                               "\"CN=Developers,OU=Groups,DC=corp,DC=example,DC=test\", error "
                               "0x80070005"),
              1u);
    corvel::directory::faults::clearFaults();

    // The user cannot be opened.
    corvel::directory::faults::injectFault(FaultOp::Open, exampleUser("Bob Brown"),
                                           corvel::directory::E_accessDenied);
    GroupSet theBob;
    EXPECT_FALSE(qzAuthenticator::getADUserGroups("CORP\\bob", "", theBob, true));
    EXPECT_TRUE(theBob.empty());
    EXPECT_EQ(theCapture.count("0|getUserGroups error finding user \"" + exampleUser("Bob Brown") +
                               "\", error 0x80070005"),
              1u);
    EXPECT_EQ(theCapture.count("5|qzAuthenticator::getADUserGroups - result FAILURE"), 1u);
    corvel::directory::faults::clearFaults();

    // memberOf cannot be read (not "no value"): false with its line.
    corvel::directory::faults::injectFault(FaultOp::GetEx, exampleUser("Bob Brown"),
                                           corvel::directory::E_fail);
    EXPECT_FALSE(qzAuthenticator::getADUserGroups("CORP\\bob", "", theBob, true));
    EXPECT_EQ(theCapture.count("0|getUserGroups unable to retrieve member of for user \"" +
                               exampleUser("Bob Brown") + "\", error 0x80004005"),
              1u);
    corvel::directory::faults::clearFaults();

    // The user's group collection cannot be had in the direct mode.
    corvel::directory::faults::injectFault(FaultOp::Groups, exampleUser("Bob Brown"),
                                           corvel::directory::E_fail);
    EXPECT_FALSE(qzAuthenticator::getADUserGroups("CORP\\bob", "", theBob, false));
    EXPECT_EQ(theCapture.count("0|getUserGroups error getting groups for user \"" +
                               exampleUser("Bob Brown") + "\", error 0x80004005"),
              1u);

    corvel::directory::faults::clearFaults();

    // The primary group cannot be looked up: a failure in both modes, not
    // a listing without it.
    corvel::directory::faults::injectFault(FaultOp::PrimaryGroup, exampleUser("Bob Brown"),
                                           corvel::directory::E_serverDown);
    for (bool curRecursive : {true, false})
        EXPECT_FALSE(qzAuthenticator::getADUserGroups("CORP\\bob", "", theBob, curRecursive));
    EXPECT_EQ(theCapture.count("0|getUserGroups unable to retrieve the primary group of user \"" +
                               exampleUser("Bob Brown") + "\", error 0x8007203A"),
              2u);

    // A name the directory does not know.
    EXPECT_FALSE(qzAuthenticator::getADUserGroups("CORP\\nobody", "", theBob, true));
    EXPECT_EQ(theCapture.count("5|qzAuthenticator::getADUserGroups - result FAILURE"), 6u);
}

TEST_F(ListingTest, SlashInADnIsEscapedInThePath)
{
    authtest::Capture theCapture;
    corvel::directory::faults::injectFault(
        FaultOp::Open, "CN=Sales/Marketing,OU=Groups,DC=corp,DC=example,DC=test",
        corvel::directory::E_fail);
    GroupSet theGroups;
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\jsmith", "", theGroups, true));
    EXPECT_EQ(theGroups, (GroupSet{"Domain Users"}));
    EXPECT_EQ(theCapture.count("about group \"CN=Sales\\2fMarketing,OU=Groups,DC=corp,DC=example,"
                               "DC=test\""),
              1u);
}

TEST_F(ListingTest, CredentialsOnlyWithADomainAndAPassword)
{
    authtest::Capture theCapture;
    const std::string thePassword = "Listing-Secret9";
    const std::string theOwn = "in the caller's own security context";
    GroupSet theGroups;

    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", thePassword, theGroups, true));
    EXPECT_EQ(theCapture.count("with the credentials of \"CORP\\alice\""), 1u);
    EXPECT_TRUE(
        qzAuthenticator::getADUserGroups("alice@corp.example.test", thePassword, theGroups, false));
    EXPECT_EQ(theCapture.count("with the credentials of \"alice@corp.example.test\""), 1u);

    // An empty password: no credentials.
    theCapture.clear();
    EXPECT_TRUE(qzAuthenticator::getADUserGroups("CORP\\alice", "", theGroups, true));
    EXPECT_EQ(theCapture.count(theOwn), 1u);
    EXPECT_EQ(theCapture.count("with the credentials"), 0u);

    // A name found on the global catalog: none, even with a password. The
    // translator takes a DN as a name too.
    theCapture.clear();
    EXPECT_TRUE(qzAuthenticator::getADUserGroups(exampleUser("Alice Anders"), thePassword,
                                                 theGroups, true));
    EXPECT_EQ(theCapture.count(theOwn), 1u);
    EXPECT_EQ(theCapture.count("with the credentials"), 0u);

    // The wide entry points: both parts or nothing.
    theCapture.clear();
    EXPECT_TRUE(qzAuthenticator::getUserGroups(exampleUser("Alice Anders"), L"CORP\\alice", L"",
                                               theGroups, true));
    EXPECT_TRUE(
        qzAuthenticator::getUserGroups(exampleUser("Alice Anders"), L"", L"pw", theGroups, true));
    EXPECT_EQ(theCapture.count(theOwn), 2u);
    EXPECT_TRUE(qzAuthenticator::getUserGroups(exampleUser("Alice Anders"), L"CORP\\\u00e9lise",
                                               L"pw\u20ac", theGroups, true));
    EXPECT_EQ(theCapture.count("with the credentials of \"CORP\\\xc3\xa9lise\""), 1u);

    for (const std::string& curLine : theCapture.all())
        EXPECT_EQ(curLine.find("Secret9"), std::string::npos) << curLine;
}

TEST_F(ListingTest, GlobalGroupsOfAnAccount)
{
    struct Case
    {
        const wchar_t* itsUser;
        std::vector<std::wstring> itsGroups;
    };
    // The primary group first; domain local and universal groups left out.
    const Case theCases[] = {
        {L"CORP\\alice", {L"Domain Users", L"Developers", L"Regional-Staff"}},
        {L"CORP\\dave", {L"Domain Users", L"Staff"}},
        {L"CORP\\carol", {L"Domain Users"}},
        {L"CORP\\erin", {L"Domain Users", L"LoopA"}},
        {L"CORP\\WS01$", {}}, // its primary group is not in the file
    };
    for (const Case& curCase : theCases)
    {
        std::vector<std::wstring> theGroups{L"stale"};
        std::uint32_t theTotal = 99;
        EXPECT_EQ(corvel::platform::netUserGetGroups(L"", curCase.itsUser, theGroups, theTotal),
                  corvel::platform::NetError_success);
        EXPECT_EQ(theGroups, curCase.itsGroups);
        EXPECT_EQ(theTotal, curCase.itsGroups.size());
    }
    std::vector<std::wstring> theGroups;
    std::uint32_t theTotal = 0;
    EXPECT_EQ(corvel::platform::netUserGetGroups(L"\\\\dc01", L"CORP\\nobody", theGroups, theTotal),
              corvel::platform::NetError_userNotFound);
    EXPECT_TRUE(theGroups.empty());
    EXPECT_EQ(corvel::platform::netUserGetGroups(L"", L"", theGroups, theTotal),
              corvel::platform::NetError_invalidParameter);
    ::setenv("CORVEL_DIRECTORY", "ldif:/nonexistent/none.ldif", 1);
    EXPECT_NE(corvel::platform::netUserGetGroups(L"", L"CORP\\alice", theGroups, theTotal),
              corvel::platform::NetError_success);
    EXPECT_TRUE(theGroups.empty());
}

} // namespace
