// The authenticator and the live directory backend against the throw-away
// domain controller, through the API: what the console program cannot reach
// (a domain account as the current account, explicit credentials, every name
// format, a server that stops answering). Run by dc_api.sh with the DC's
// environment; skips without one.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "corvel/testing/platform_hooks.h"
#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/os_identity.h"
#include "corvel/util/qzauthenticator.h"
#include "tests/support/log_capture.h"

namespace dir = corvel::directory;

namespace
{

std::string env(const char* inName)
{
    const char* theValue = std::getenv(inName);
    return theValue == nullptr ? std::string() : std::string(theValue);
}

class DomainController : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (env("CORVEL_DC_DIR").empty() || env("CORVEL_DIRECTORY").empty())
            GTEST_SKIP() << "no domain controller";
        itsBase = env("CORVEL_DC_BASE");
        itsGroups = "OU=Groups," + itsBase;
        itsPeople = "OU=People," + itsBase;
    }

    std::string itsBase;
    std::string itsGroups;
    std::string itsPeople;
};

// A translator initialised on the global catalog with the caller's ticket.
std::unique_ptr<dir::NameTranslator> gcTranslator(dir::Session& inSession)
{
    std::unique_ptr<dir::NameTranslator> theTranslator;
    EXPECT_EQ(inSession.service().createNameTranslator(theTranslator), dir::S_ok);
    EXPECT_EQ(theTranslator->init(dir::InitType_GC, ""), dir::S_ok);
    return theTranslator;
}

} // namespace

TEST_F(DomainController, BareGroupIsRetriedWithTheDomainOfADomainAccount)
{
    corvel::platform::setIdentityOverride("alice", env("CORVEL_DC_DOMAIN"), "S-1-5-21-1-2-3-1105");
    std::string theDN;
    EXPECT_TRUE(qzAuthenticator::getObjectDN("Sales", theDN, true));
    EXPECT_EQ(theDN, "CN=Sales," + itsGroups);
    // A user name is never retried, and neither is a name with '-'.
    theDN.clear();
    EXPECT_FALSE(qzAuthenticator::getObjectDN("alice", theDN, false));
    EXPECT_FALSE(qzAuthenticator::getObjectDN("No-Such", theDN, true));
    EXPECT_TRUE(theDN.empty());
    // Without a domain account the retry names the wrong domain and fails.
    corvel::platform::setIdentityOverride("root", "Unix User", "S-1-22-1-0");
    EXPECT_FALSE(qzAuthenticator::getObjectDN("Sales", theDN, true));
    corvel::platform::clearIdentityOverride();
}

TEST_F(DomainController, TranslatesEveryNameFormBackAndForth)
{
    dir::Session theSession;
    auto theTranslator = gcTranslator(theSession);
    const std::string theAlice = "CN=Alice Test," + itsPeople;
    ASSERT_EQ(theTranslator->set(dir::NameType_Unknown, "CORP\\alice"), dir::S_ok);
    std::string theDN, theNT4, theUpn, theSid, theGuid, theCanonical;
    EXPECT_EQ(theTranslator->get(dir::NameType_1779, theDN), dir::S_ok);
    EXPECT_EQ(theDN, theAlice);
    EXPECT_EQ(theTranslator->get(dir::NameType_NT4, theNT4), dir::S_ok);
    EXPECT_EQ(theNT4, "CORP\\alice");
    EXPECT_EQ(theTranslator->get(dir::NameType_UserPrincipalName, theUpn), dir::S_ok);
    EXPECT_EQ(theUpn, "alice@corp.example.test");
    ASSERT_EQ(theTranslator->get(dir::NameType_SIDOrSIDHistory, theSid), dir::S_ok);
    EXPECT_EQ(theSid.rfind("S-1-5-21-", 0), 0u) << theSid;
    ASSERT_EQ(theTranslator->get(dir::NameType_GUID, theGuid), dir::S_ok);
    ASSERT_EQ(theTranslator->get(dir::NameType_Canonical, theCanonical), dir::S_ok);
    EXPECT_EQ(theCanonical, "corp.example.test/People/Alice Test");

    // Each form found again names the same object.
    for (const std::string& curName :
         {theSid, theGuid, theCanonical, std::string("Alice Test"), theUpn, theAlice})
    {
        ASSERT_EQ(theTranslator->set(dir::NameType_Unknown, curName), dir::S_ok) << curName;
        std::string theAgain;
        EXPECT_EQ(theTranslator->get(dir::NameType_1779, theAgain), dir::S_ok);
        EXPECT_EQ(theAgain, theAlice) << curName;
    }
    // A service principal name names the DC's account.
    ASSERT_EQ(theTranslator->set(dir::NameType_Unknown, "ldap/" + env("CORVEL_DC_HOST")),
              dir::S_ok);
    EXPECT_EQ(theTranslator->get(dir::NameType_1779, theDN), dir::S_ok);
    EXPECT_EQ(theDN.rfind("CN=DC1,", 0), 0u) << theDN;
}

TEST_F(DomainController, UnknownAndHostileNamesAreNotFound)
{
    dir::Session theSession;
    auto theTranslator = gcTranslator(theSession);
    for (const char* curName :
         {"*", "*)(objectClass=*", "CORP\\*", "*@corp.example.test", "*\\alice",
          "corp.example.test/*", "CORP\\alice)(|(cn=*", "nobody@nowhere"})
        EXPECT_TRUE(dir::isNameNotFound(theTranslator->set(dir::NameType_Unknown, curName)))
            << curName;
    // A name that several objects share is reported as such.
    std::unique_ptr<dir::NameTranslator> theDomain;
    ASSERT_EQ(theSession.service().createNameTranslator(theDomain), dir::S_ok);
    EXPECT_EQ(theDomain->init(dir::InitType_Domain, "NOSUCHDOMAIN"), dir::E_noSuchDomain);
    EXPECT_EQ(theDomain->init(dir::InitType_Domain, "*"), dir::E_noSuchDomain);
}

TEST_F(DomainController, ExplicitCredentialsBindOverTlsAndNeverLogThePassword)
{
    LogCapture theLog;
    const std::string thePassword = env("CORVEL_DC_USER_PASSWORD");
    {
        dir::Session theSession;
        std::unique_ptr<dir::NameTranslator> theTranslator;
        ASSERT_EQ(theSession.service().createNameTranslator(theTranslator), dir::S_ok);
        EXPECT_EQ(theTranslator->initEx(dir::InitType_Domain, "CORP", "bob", "CORP", thePassword),
                  dir::S_ok);
        ASSERT_EQ(theTranslator->set(dir::NameType_Unknown, "bob@corp.example.test"), dir::S_ok);
        std::string theNT4;
        EXPECT_EQ(theTranslator->get(dir::NameType_NT4, theNT4), dir::S_ok);
        EXPECT_EQ(theNT4, "CORP\\bob");
        EXPECT_EQ(theTranslator->initEx(dir::InitType_Domain, "corp.example.test", "bob",
                                        "corp.example.test", "wrong-" + thePassword),
                  dir::E_logonFailure);
    }
    // The same through the authenticator: a user name with its domain and a
    // password reads the directory with those credentials.
    std::string theResult;
    bool theUsedGC = true;
    {
        dir::Session theSession;
        EXPECT_TRUE(qzAuthenticator::findUser("bob@corp.example.test", thePassword, theResult,
                                              theUsedGC, dir::NameType_1779));
    }
    EXPECT_FALSE(theUsedGC);
    EXPECT_EQ(theResult, "CN=Bob Test," + itsPeople);
    for (const std::string& curText : theLog.texts())
        EXPECT_EQ(curText.find(thePassword), std::string::npos) << curText;
}

TEST_F(DomainController, GroupsAndMembersComeFromTheDirectory)
{
    dir::Session theSession;
    std::unique_ptr<dir::DirObject> theUser;
    ASSERT_EQ(theSession.service().openObject("LDAP://CN=Bob Test," + itsPeople, nullptr,
                                              dir::ObjectKind::User, theUser),
              dir::S_ok);
    std::vector<std::string> theMemberOf;
    ASSERT_EQ(theUser->getEx("memberOf", theMemberOf), dir::S_ok);
    EXPECT_EQ(theMemberOf, std::vector<std::string>{"CN=Level3," + itsGroups});
    std::string theName;
    EXPECT_EQ(theUser->get("name", theName), dir::S_ok);
    EXPECT_EQ(theName, "Bob Test");
    EXPECT_EQ(theUser->get("noSuchAttribute", theName), dir::E_propertyNotFound);
    EXPECT_EQ(theUser->asGroup(), nullptr);

    std::unique_ptr<dir::DirObject> theGroup;
    ASSERT_EQ(theSession.service().openObject("LDAP://CN=R\\2fD Team," + itsGroups, nullptr,
                                              dir::ObjectKind::Group, theGroup),
              dir::S_ok);
    EXPECT_EQ(theGroup->getName(theName), dir::S_ok);
    EXPECT_EQ(theName, "CN=R/D Team");
    bool theIsMember = false;
    EXPECT_EQ(theGroup->asGroup()->isMember("LDAP://cn=erin test," + itsPeople, theIsMember),
              dir::S_ok);
    EXPECT_TRUE(theIsMember);
    EXPECT_EQ(theSession.service().openObject("LDAP://CN=Nothing," + itsGroups, nullptr,
                                              dir::ObjectKind::Group, theGroup),
              dir::E_noSuchObject);
    EXPECT_EQ(theSession.service().openObject("LDAP://CN=Bob Test," + itsPeople, nullptr,
                                              dir::ObjectKind::Group, theGroup),
              dir::E_noInterface);
}

TEST_F(DomainController, MembershipWalkAnswersFromTheDirectory)
{
    EXPECT_TRUE(
        qzAuthenticator::isUserInGroup("CN=Level0," + itsGroups, "CN=Bob Test," + itsPeople));
    EXPECT_FALSE(
        qzAuthenticator::isUserInGroup("CN=Level0," + itsGroups, "CN=Alice Test," + itsPeople));
    EXPECT_TRUE(
        qzAuthenticator::isUserInGroup("CN=LoopA," + itsGroups, "CN=Carol Test," + itsPeople));
    EXPECT_FALSE(
        qzAuthenticator::isUserInGroup("CN=LoopB," + itsGroups, "CN=Bob Test," + itsPeople));
}

TEST_F(DomainController, WithoutATicketNothingIsReadAndNothingCrashes)
{
    const std::string theSaved = env("KRB5CCNAME");
    setenv("KRB5CCNAME", ("FILE:" + env("CORVEL_DC_DIR") + "/no-such-ccache").c_str(), 1);
    {
        dir::Session theSession;
        std::unique_ptr<dir::NameTranslator> theTranslator;
        ASSERT_EQ(theSession.service().createNameTranslator(theTranslator), dir::S_ok);
        EXPECT_TRUE(dir::failed(theTranslator->init(dir::InitType_GC, "")));
        EXPECT_TRUE(dir::failed(theTranslator->set(dir::NameType_Unknown, "CORP\\alice")));
    }
    std::string theDN;
    EXPECT_FALSE(qzAuthenticator::getObjectDN("CORP\\alice", theDN, false));
    setenv("KRB5CCNAME", theSaved.c_str(), 1);
}

// Last: freezes the DC for a few seconds. A server that stops answering in
// the middle of a session fails the calls within the time-out and then at
// once; the walk answers false and returns.
TEST_F(DomainController, ServerThatStopsAnsweringMidSessionFailsInBoundedTime)
{
    const pid_t thePid = static_cast<pid_t>(std::atol(env("CORVEL_DC_PID").c_str()));
    ASSERT_GT(thePid, 1);
    dir::Session theSession;
    std::unique_ptr<dir::DirObject> theUser;
    ASSERT_EQ(theSession.service().openObject("LDAP://CN=Bob Test," + itsPeople, nullptr,
                                              dir::ObjectKind::User, theUser),
              dir::S_ok);
    ASSERT_EQ(kill(thePid, SIGSTOP), 0);
    const auto theStart = std::chrono::steady_clock::now();
    std::vector<std::string> theValues;
    const dir::Status theFirst = theUser->getEx("memberOf", theValues);
    const dir::Status theSecond = theUser->getEx("description", theValues);
    const bool theVerdict =
        qzAuthenticator::isUserInGroup("CN=Level0," + itsGroups, "CN=Bob Test," + itsPeople);
    const auto theSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now() - theStart)
                                .count();
    kill(thePid, SIGCONT);
    EXPECT_TRUE(dir::failed(theFirst));
    EXPECT_EQ(theSecond, dir::E_serverDown); // the dead connection is not retried
    EXPECT_FALSE(theVerdict);
    EXPECT_LT(theSeconds, 20);
}

// The walk's first request for members fetches the levels below: a DC that
// stops answering then fails that request within the time-out, the group
// counts as no member found, and the walk ends.
TEST_F(DomainController, ServerThatStopsAnsweringMidPrefetchGivesFalseInBoundedTime)
{
    const pid_t thePid = static_cast<pid_t>(std::atol(env("CORVEL_DC_PID").c_str()));
    ASSERT_GT(thePid, 1);
    dir::Session theSession;
    std::unique_ptr<dir::DirObject> theTop;
    ASSERT_EQ(theSession.service().openObject("LDAP://CN=Level0," + itsGroups, nullptr,
                                              dir::ObjectKind::Group, theTop),
              dir::S_ok);
    ASSERT_NE(theTop->asGroup(), nullptr);
    // The direct question first, so that what the walk asks next of the
    // frozen DC is the levels below.
    const std::string theBob = "LDAP://CN=Bob Test," + itsPeople;
    bool theDirect = true;
    ASSERT_EQ(theTop->asGroup()->isMember(theBob, theDirect), dir::S_ok);
    ASSERT_EQ(kill(thePid, SIGSTOP), 0);
    const auto theStart = std::chrono::steady_clock::now();
    const bool theVerdict = qzAuthenticator::_isUserInGroup(*theTop->asGroup(), theBob);
    const auto theSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now() - theStart)
                                .count();
    kill(thePid, SIGCONT);
    EXPECT_FALSE(theVerdict);
    EXPECT_LT(theSeconds, 8); // one time-out (dc_api.sh sets it to 3 s), then at once
}
