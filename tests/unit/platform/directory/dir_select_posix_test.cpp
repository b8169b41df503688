// Which directory a process talks to, and sessions.
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "corvel/platform/directory/dir_service.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory;

namespace
{

// Sets the variables the choice depends on for one test and restores them.
class DirectoryEnv : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* curName : theNames)
        {
            const char* theValue = std::getenv(curName);
            itsSaved.emplace_back(curName,
                                  theValue ? std::optional<std::string>(theValue) : std::nullopt);
            ::unsetenv(curName);
        }
        itsHome = dirtest::scratchDir() /
                  ("home-" + std::to_string(itsSaved.size()) +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(itsHome);
        ::setenv("HOME", itsHome.c_str(), 1);
        // No system file: the machine's own ldap.conf must not decide, nor
        // its Kerberos realm (with nothing configured the realm names the
        // domain whose DCs the DNS gives).
        ::setenv("LDAPCONF", (itsHome / "no-ldap.conf").c_str(), 1);
        ::setenv("KRB5_CONFIG", (itsHome / "no-krb5.conf").c_str(), 1);
        ::setenv("KRB5CCNAME", ("FILE:" + (itsHome / "no-ccache").string()).c_str(), 1);
    }
    void TearDown() override
    {
        for (const auto& [curName, curValue] : itsSaved)
        {
            if (curValue)
                ::setenv(curName.c_str(), curValue->c_str(), 1);
            else
                ::unsetenv(curName.c_str());
        }
    }

    static Status initGC()
    {
        Session theSession;
        std::unique_ptr<NameTranslator> theTranslator;
        Status theStatus = theSession.service().createNameTranslator(theTranslator);
        return theStatus == S_ok ? theTranslator->init(InitType_GC, "") : theStatus;
    }

    static constexpr const char* theNames[] = {"CORVEL_DIRECTORY", "LDAPURI",   "LDAPNOINIT",
                                               "LDAPCONF",         "LDAPRC",    "HOME",
                                               "KRB5_CONFIG",      "KRB5CCNAME"};
    std::vector<std::pair<std::string, std::optional<std::string>>> itsSaved;
    std::filesystem::path itsHome;
    dirtest::LogCapture itsLog;
};

} // namespace

TEST_F(DirectoryEnv, LdifFileNamedOutright)
{
    ::setenv("CORVEL_DIRECTORY", ("ldif:" + dirtest::corpPath()).c_str(), 1);
    ::setenv("LDAPURI", "ldap://ignored.example.test", 1);
    EXPECT_EQ(configuredDirectory(), "ldif:" + dirtest::corpPath());

    Session theSession;
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theSession.service().createNameTranslator(theTranslator), S_ok);
    ASSERT_EQ(theTranslator->init(InitType_GC, ""), S_ok);
    ASSERT_EQ(theTranslator->set(NameType_Unknown, "CORP\\alice"), S_ok);
    std::string theDN;
    ASSERT_EQ(theTranslator->get(NameType_1779, theDN), S_ok);
    EXPECT_EQ(theDN, "CN=Alice Anders,OU=Users,DC=corp,DC=example,DC=test");
}

TEST_F(DirectoryEnv, NothingConfiguredAndNoRealmIsNoDomain)
{
    EXPECT_EQ(configuredDirectory(), "");
    EXPECT_EQ(initGC(), E_noSuchDomain);
    Session theSession;
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theSession.service().createNameTranslator(theTranslator), S_ok);
    EXPECT_EQ(theTranslator->init(InitType_Domain, "CORP"), E_noSuchDomain);
    EXPECT_TRUE(failed(theTranslator->set(NameType_Unknown, "CORP\\alice")));
    std::unique_ptr<DirObject> theObject;
    Status theOpen =
        theSession.service().openObject("LDAP://CN=x,DC=y", nullptr, ObjectKind::Group, theObject);
    EXPECT_TRUE(theOpen == E_noSuchDomain || theOpen == E_serverDown);
    EXPECT_EQ(theObject, nullptr);

    // LDAPNOINIT turns off even a configured URI.
    ::setenv("LDAPURI", "ldap://dc.example.test", 1);
    ::setenv("LDAPNOINIT", "1", 1);
    EXPECT_EQ(configuredDirectory(), "");
}

TEST_F(DirectoryEnv, OpenLdapClientConfigurationOrder)
{
    std::ofstream(itsHome / "no-ldap.conf")
        << "# system file\nBASE dc=example,dc=test\nURI ldap://system.example.test\n";
    EXPECT_EQ(configuredDirectory(), "ldap://system.example.test");

    std::ofstream(itsHome / ".ldaprc")
        << "  uri   ldaps://user.example.test  ldaps://backup.example.test\n";
    EXPECT_EQ(configuredDirectory(), "ldaps://user.example.test  ldaps://backup.example.test");

    std::ofstream(itsHome / "myrc")
        << "URI ldap://named-rc.example.test\n#URI ldap://commented.example.test\n";
    ::setenv("LDAPRC", "myrc", 1);
    EXPECT_EQ(configuredDirectory(), "ldap://named-rc.example.test");

    ::setenv("LDAPURI", "ldap://env.example.test", 1);
    EXPECT_EQ(configuredDirectory(), "ldap://env.example.test");

    ::setenv("CORVEL_DIRECTORY", "ldif:/x.ldif", 1);
    EXPECT_EQ(configuredDirectory(), "ldif:/x.ldif");
}

TEST_F(DirectoryEnv, UnusableChoicesAnswerNoDomain)
{
    ::setenv("CORVEL_DIRECTORY", "gopher://dc.example.test", 1);
    EXPECT_EQ(initGC(), E_noSuchDomain);
    EXPECT_EQ(itsLog.errorsWith({"gopher://dc.example.test"}), 1u);

    std::string theMissing = (dirtest::scratchDir() / "missing.ldif").string();
    ::setenv("CORVEL_DIRECTORY", ("ldif:" + theMissing).c_str(), 1);
    EXPECT_EQ(initGC(), E_noSuchDomain);
    EXPECT_EQ(itsLog.errorsWith({theMissing, "cannot be read"}), 1u);
}

TEST_F(DirectoryEnv, SessionsNestPerThread)
{
    ::setenv("CORVEL_DIRECTORY", ("ldif:" + dirtest::corpPath()).c_str(), 1);
    Session theOuter;
    DirectoryService* theOuterService = &theOuter.service();
    {
        Session theInner;
        EXPECT_EQ(&theInner.service(), theOuterService);
        {
            Session theInnermost;
            EXPECT_EQ(&theInnermost.service(), theOuterService);
        }
    }
    Session theAfterInner;
    EXPECT_EQ(&theAfterInner.service(), theOuterService); // the outer one is still open

    DirectoryService* theOtherThread = nullptr;
    Status theOtherInit = E_fail;
    std::thread theThread(
        [&]
        {
            Session theSession;
            theOtherThread = &theSession.service();
            std::unique_ptr<NameTranslator> theTranslator;
            if (theSession.service().createNameTranslator(theTranslator) == S_ok)
                theOtherInit = theTranslator->init(InitType_GC, "");
        });
    theThread.join();
    EXPECT_NE(theOtherThread, theOuterService);
    EXPECT_EQ(theOtherInit, S_ok);
}

TEST_F(DirectoryEnv, ObjectsOutliveNothingTheyNeed)
{
    ::setenv("CORVEL_DIRECTORY", ("ldif:" + dirtest::corpPath()).c_str(), 1);
    std::unique_ptr<DirEnumerator> theEnum;
    {
        Session theSession;
        std::unique_ptr<DirObject> theGroup;
        ASSERT_EQ(
            theSession.service().openObject("LDAP://CN=Staff,OU=Groups,DC=corp,DC=example,DC=test",
                                            nullptr, ObjectKind::Group, theGroup),
            S_ok);
        ASSERT_EQ(theGroup->asGroup()->members(theEnum), S_ok);
    }
    // Released late by a careless caller: still no dangling memory.
    std::unique_ptr<DirObject> theItem;
    EXPECT_EQ(theEnum->next(theItem), S_ok);
    ASSERT_NE(theItem, nullptr);
    std::string theName;
    EXPECT_EQ(theItem->getName(theName), S_ok);
    EXPECT_EQ(theName, "CN=Engineering");
}
