// Name lookup: getObjectDN on the global catalog with its one retry for bare
// group names, and findUser's choice of where to translate.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <pwd.h>

#include <string>
#include <thread>
#include <vector>

#include "auth_support.h"
#include "tests/support/dir_faults.h"
#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"

using corvel::directory::faults::FaultOp;
using corvel::directory::faults::injectFault;

namespace
{

const std::string theInitLine =
    "5|qzAuthenticator::getObjectDN initing name translator on global catalog";

std::string retryLine(const std::string& inPrefixed)
{
    return "5|qzAuthenticator::getObjectDN reiniting name translator on global catalog, adding "
           "domain prefix, searching for \"" +
           inPrefixed + "\"";
}

std::string optionsTrace(const std::string& inName, const std::string& inHex)
{
    return "5|* qzAuthenticator::getObjectDN error translating object \"" + inName +
           "\", error 0x" + inHex + ", evaluating options";
}

std::string finalTrace(const std::string& inName, const std::string& inHex)
{
    return "5|* qzAuthenticator::getObjectDN error translating object \"" + inName +
           "\", error 0x" + inHex;
}

// The capture's lines of getObjectDN alone (the directory may log too).
std::vector<std::string> lookupLines(const authtest::Capture& inCapture)
{
    std::vector<std::string> theLines;
    for (const std::string& curLine : inCapture.all())
        if (curLine.find("getObjectDN") != std::string::npos)
            theLines.push_back(curLine);
    return theLines;
}

// Groups whose names carry each of the characters that mark a name as
// qualified; prefixed with CORP\ every one of them would be found.
std::string markedGroups()
{
    return authtest::groupLdif("Team-A", "Team-A", {}) +
           authtest::groupLdif("Team/B", "Team/B", {}) +
           authtest::groupLdif("Team\\,C", "Team,C", {}) +
           authtest::groupLdif("Team@D", "Team@D", {}) +
           authtest::groupLdif("Team\\\\E", "Team\\E", {});
}

} // namespace

TEST(ObjectLookup, NamesFoundOnTheFirstTryAreNeverRetried)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::ActAs theAccount("alice", "CORP", "S-1-5-21-1-2-3-1104");
    struct Case
    {
        std::string itsName;
        bool itsIsGroup;
        std::string itsDN;
    };
    const std::vector<Case> theCases = {
        {"alice@corp.example.test", false, authtest::personDN("Alice Test")},
        {"CORP\\bob", false, authtest::personDN("Bob Test")},
        {authtest::personDN("Carol Test"), false, authtest::personDN("Carol Test")},
        {"CORP\\Staff", true, authtest::groupDN("Staff")},
        {authtest::groupDN("Sales"), true, authtest::groupDN("Sales")},
    };
    for (const Case& curCase : theCases)
    {
        authtest::Capture theCapture;
        std::string theDN;
        ASSERT_TRUE(qzAuthenticator::getObjectDN(curCase.itsName, theDN, curCase.itsIsGroup))
            << curCase.itsName;
        EXPECT_EQ(theDN, curCase.itsDN);
        EXPECT_EQ(lookupLines(theCapture), std::vector<std::string>{theInitLine})
            << curCase.itsName;
    }
}

TEST(ObjectLookup, BareGroupNotFoundIsRetriedOnceWithTheAccountsDomain)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::ActAs theAccount("alice", "CORP", "S-1-5-21-1-2-3-1104");
    authtest::Capture theCapture;
    std::string theDN;
    ASSERT_TRUE(qzAuthenticator::getObjectDN("Staff", theDN, true));
    EXPECT_EQ(theDN, authtest::groupDN("Staff"));
    const std::vector<std::string> theExpected = {
        theInitLine,
        optionsTrace("Staff", "80072116"),
        retryLine("CORP\\Staff"),
    };
    EXPECT_EQ(lookupLines(theCapture), theExpected);
}

TEST(ObjectLookup, RetryThatFailsTooTracesTheNameAsGiven)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::ActAs theAccount("someone", "OTHER", "S-1-5-21-9-9-9-1000");
    authtest::Capture theCapture;
    std::string theDN = "unchanged";
    EXPECT_FALSE(qzAuthenticator::getObjectDN("Staff", theDN, true));
    EXPECT_EQ(theDN, "unchanged");
    const std::vector<std::string> theExpected = {
        theInitLine,
        optionsTrace("Staff", "80072116"),
        retryLine("OTHER\\Staff"),
        finalTrace("Staff", "80072116"),
    };
    EXPECT_EQ(lookupLines(theCapture), theExpected);
    EXPECT_EQ(theCapture.traces().back(),
              "qzAuthenticator::getObjectDN error translating object \"Staff\", error 0x80072116");
}

TEST(ObjectLookup, BareUserNamesAreNeverRetried)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif() +
                                         authtest::groupLdif("Bob", "bobgroup", {}));
    authtest::ActAs theAccount("alice", "CORP", "S-1-5-21-1-2-3-1104");
    authtest::Capture theCapture;
    std::string theDN;
    // CORP\bob would be found; the user flag forbids the retry.
    EXPECT_FALSE(qzAuthenticator::getObjectDN("bob", theDN, false));
    const std::vector<std::string> theExpected = {
        theInitLine,
        optionsTrace("bob", "80072116"),
        finalTrace("bob", "80072116"),
    };
    EXPECT_EQ(lookupLines(theCapture), theExpected);
}

TEST(ObjectLookup, NamesWithAQualifierCharacterAreNotRetried)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif() + markedGroups());
    authtest::ActAs theAccount("alice", "CORP", "S-1-5-21-1-2-3-1104");
    for (const std::string curName : {"Team-A", "Team/B", "Team,C", "Team@D", "Team\\E"})
    {
        // The prefixed name exists, so only the character rule stops the retry.
        std::string theDN;
        ASSERT_TRUE(qzAuthenticator::getObjectDN("CORP\\" + curName, theDN, true)) << curName;

        authtest::Capture theCapture;
        std::string theBareDN = "unchanged";
        EXPECT_FALSE(qzAuthenticator::getObjectDN(curName, theBareDN, true)) << curName;
        EXPECT_EQ(theBareDN, "unchanged");
        EXPECT_EQ(theCapture.count("reiniting"), 0u) << curName;
        EXPECT_EQ(lookupLines(theCapture).back(), finalTrace(curName, "80072116")) << curName;
    }
}

TEST(ObjectLookup, OnlyTheNotFoundConditionIsRetried)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::ActAs theAccount("alice", "CORP", "S-1-5-21-1-2-3-1104");
    {
        // Access denied on the bare name: no retry.
        injectFault(FaultOp::SetName, "Staff", corvel::directory::E_accessDenied);
        authtest::Capture theCapture;
        std::string theDN;
        EXPECT_FALSE(qzAuthenticator::getObjectDN("Staff", theDN, true));
        const std::vector<std::string> theExpected = {
            theInitLine,
            optionsTrace("Staff", "80070005"),
            finalTrace("Staff", "80070005"),
        };
        EXPECT_EQ(lookupLines(theCapture), theExpected);
        corvel::directory::faults::clearFaults();
    }
    {
        // Any failure whose low 16 bits are 8470 is not-found, whatever the
        // upper bits say.
        injectFault(FaultOp::SetName, "Sales", 0x800A2116u);
        authtest::Capture theCapture;
        std::string theDN;
        EXPECT_TRUE(qzAuthenticator::getObjectDN("Sales", theDN, true));
        EXPECT_EQ(theDN, authtest::groupDN("Sales"));
        EXPECT_EQ(theCapture.count(optionsTrace("Sales", "800A2116")), 1u);
        EXPECT_EQ(theCapture.count(retryLine("CORP\\Sales")), 1u);
    }
}

TEST(ObjectLookup, NoAccountMeansNoRetry)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a thread as a uid without account";
    const uid_t theUnknown = 54322;
    if (::getpwuid(theUnknown) != nullptr)
        GTEST_SKIP() << "uid 54322 has an account here";
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::Capture theCapture;
    bool theResult = true;
    bool theChanged = false;
    std::thread theThread(
        [&]
        {
            corvel::directory::Session theSession(theDirectory.service());
            if (::syscall(SYS_setresuid, -1, theUnknown, -1) != 0)
                return;
            theChanged = true;
            std::string theDN;
            theResult = qzAuthenticator::getObjectDN("Staff", theDN, true);
            ::syscall(SYS_setresuid, -1, 0, -1);
        });
    theThread.join();
    ASSERT_TRUE(theChanged);
    EXPECT_FALSE(theResult);
    const std::vector<std::string> theExpected = {
        theInitLine,
        optionsTrace("Staff", "80072116"),
        finalTrace("Staff", "80072116"),
    };
    EXPECT_EQ(lookupLines(theCapture), theExpected);
}

TEST(ObjectLookup, TranslatorFailuresAreErrorLines)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    {
        injectFault(FaultOp::CreateTranslator, "", corvel::directory::E_classNotRegistered);
        authtest::Capture theCapture;
        std::string theDN;
        EXPECT_FALSE(qzAuthenticator::getObjectDN("CORP\\Staff", theDN, true));
        const std::vector<std::string> theExpected = {
            "0|qzAuthenticator::getObjectDN error creating name translator, error 0x80040154"};
        EXPECT_EQ(lookupLines(theCapture), theExpected);
        corvel::directory::faults::clearFaults();
    }
    {
        injectFault(FaultOp::InitTranslator, "", corvel::directory::E_serverDown);
        authtest::Capture theCapture;
        std::string theDN;
        EXPECT_FALSE(qzAuthenticator::getObjectDN("CORP\\Staff", theDN, true));
        const std::vector<std::string> theExpected = {
            theInitLine,
            "0|qzAuthenticator::getObjectDN error initing the name translator, error 0x8007203A"};
        EXPECT_EQ(lookupLines(theCapture), theExpected);
        corvel::directory::faults::clearFaults();
    }
    {
        // Translated, but the DN cannot be read back: false, no message.
        injectFault(FaultOp::GetName, "CORP\\Staff", corvel::directory::E_fail);
        authtest::Capture theCapture;
        std::string theDN = "unchanged";
        EXPECT_FALSE(qzAuthenticator::getObjectDN("CORP\\Staff", theDN, true));
        EXPECT_EQ(theDN, "unchanged");
        EXPECT_EQ(lookupLines(theCapture), std::vector<std::string>{theInitLine});
    }
}

TEST(ObjectLookup, NoDirectoryConfiguredFailsAtInit)
{
    ::unsetenv("CORVEL_DIRECTORY");
    ::setenv("LDAPCONF", "/nonexistent/qz-ldap.conf", 1);
    ::setenv("LDAPNOINIT", "1", 1);
    authtest::Capture theCapture;
    std::string theDN;
    EXPECT_FALSE(qzAuthenticator::getObjectDN("CORP\\Staff", theDN, true));
    EXPECT_EQ(theCapture.count("0|qzAuthenticator::getObjectDN error initing the name translator, "
                               "error 0x"),
              1u);
}

TEST(FindUser, PrincipalNameWithPasswordBindsToItsDomainWithCredentials)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    authtest::Capture theCapture;
    std::string theResult;
    bool theUsedGC = true;
    ASSERT_TRUE(qzAuthenticator::findUser("alice@corp.example.test", "s3cret-Pw", theResult,
                                          theUsedGC, corvel::directory::NameType_NT4));
    EXPECT_EQ(theResult, "CORP\\alice");
    EXPECT_FALSE(theUsedGC);
    EXPECT_EQ(theCapture.count(
                  "5|findUser initing name translator on domain \"corp.example.test\" and user "
                  "\"alice\""),
              1u);
    EXPECT_EQ(theCapture.count("s3cret-Pw"), 0u);
}

TEST(FindUser, EmptyPasswordBindsToTheDomainWithoutCredentials)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    authtest::Capture theCapture;
    std::string theResult;
    bool theUsedGC = true;
    ASSERT_TRUE(qzAuthenticator::findUser("CORP\\bob", "", theResult, theUsedGC,
                                          corvel::directory::NameType_1779));
    EXPECT_EQ(theResult, authtest::personDN("Bob Test"));
    EXPECT_FALSE(theUsedGC);
    EXPECT_EQ(theCapture.count("5|findUser initing name translator on domain \"CORP\""), 1u);
    EXPECT_EQ(theCapture.count("and user"), 0u);
}

TEST(FindUser, BackslashAndAtAreTrimmedForTheBindButSetWhole)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    authtest::Capture theCapture;
    std::string theResult = "unchanged";
    bool theUsedGC = true;
    EXPECT_FALSE(qzAuthenticator::findUser("X\\alice@corp.example.test", "pw-secret-9", theResult,
                                           theUsedGC, corvel::directory::NameType_NT4));
    EXPECT_EQ(theResult, "unchanged");
    EXPECT_FALSE(theUsedGC);
    EXPECT_EQ(theCapture.count(
                  "5|findUser initing name translator on domain \"corp.example.test\" and user "
                  "\"alice\""),
              1u);
    EXPECT_EQ(theCapture.count("5|* findUser error translating user "
                               "\"X\\alice@corp.example.test\", error 0x80072116"),
              1u);
    EXPECT_EQ(theCapture.count("pw-secret-9"), 0u);
}

TEST(FindUser, BareNameGoesToTheGlobalCatalog)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    authtest::Capture theCapture;
    std::string theResult;
    bool theUsedGC = false;
    ASSERT_TRUE(qzAuthenticator::findUser("Alice Test", "pw", theResult, theUsedGC,
                                          corvel::directory::NameType_NT4));
    EXPECT_EQ(theResult, "CORP\\alice");
    EXPECT_TRUE(theUsedGC);
    EXPECT_EQ(theCapture.count("5|findUser initing name translator on global catalog"), 1u);
}

TEST(FindUser, FailuresToCreateOrInitAreErrorLines)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    corvel::directory::Session theSession;
    {
        authtest::Capture theCapture;
        std::string theResult;
        bool theUsedGC = true;
        EXPECT_FALSE(qzAuthenticator::findUser("bob@nowhere.test", "", theResult, theUsedGC,
                                               corvel::directory::NameType_NT4));
        EXPECT_FALSE(theUsedGC);
        EXPECT_EQ(
            theCapture.count("0|findUser error initing the name translator, error 0x8007054B"), 1u);
    }
    {
        injectFault(FaultOp::CreateTranslator, "", corvel::directory::E_outOfMemory);
        authtest::Capture theCapture;
        std::string theResult;
        bool theUsedGC = true;
        EXPECT_FALSE(qzAuthenticator::findUser("CORP\\bob", "", theResult, theUsedGC,
                                               corvel::directory::NameType_NT4));
        EXPECT_FALSE(theUsedGC);
        EXPECT_EQ(theCapture.count("0|findUser error creating name translator, error 0x8007000E"),
                  1u);
        EXPECT_EQ(theCapture.count("initing"), 0u);
    }
}
