// Name translation over the LDIF directory.
#include <gtest/gtest.h>

#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory;

namespace
{

const std::string theCorp = "DC=corp,DC=example,DC=test";
const std::string theAliceDN = "CN=Alice Anders,OU=Users," + theCorp;

class Translate : public ::testing::Test
{
protected:
    void SetUp() override
    {
        itsService = ldif::makeLdifService(dirtest::corpPath());
        ASSERT_EQ(itsService->createNameTranslator(itsTranslator), S_ok);
        ASSERT_EQ(itsTranslator->init(InitType_GC, ""), S_ok);
    }

    // The DN the name translates to, or the failure code as text.
    std::string dnOf(const std::string& inName, NameType inType = NameType_Unknown)
    {
        Status theStatus = itsTranslator->set(inType, inName);
        if (theStatus != S_ok)
            return "error " + std::to_string(theStatus);
        std::string theDN;
        theStatus = itsTranslator->get(NameType_1779, theDN);
        return theStatus == S_ok ? theDN : "get error " + std::to_string(theStatus);
    }

    dirtest::LogCapture itsLog;
    std::shared_ptr<DirectoryService> itsService;
    std::unique_ptr<NameTranslator> itsTranslator;
};

std::string error(Status inStatus) { return "error " + std::to_string(inStatus); }

} // namespace

TEST_F(Translate, EveryFormatOfAnUnknownName)
{
    EXPECT_EQ(dnOf(theAliceDN), theAliceDN);
    EXPECT_EQ(dnOf("cn=alice anders,ou=users,dc=CORP,dc=example,dc=test"), theAliceDN); // as stored
    EXPECT_EQ(dnOf("CORP\\alice"), theAliceDN);
    EXPECT_EQ(dnOf("corp\\ALICE"), theAliceDN);
    EXPECT_EQ(dnOf("alice@corp.example.test"), theAliceDN);
    EXPECT_EQ(dnOf("ALICE@Corp.Example.Test"), theAliceDN);
    EXPECT_EQ(dnOf("corp.example.test/Users/Alice Anders"), theAliceDN);
    EXPECT_EQ(dnOf("S-1-5-21-1004336348-1177238915-682003330-1104"), theAliceDN);
    EXPECT_EQ(dnOf("{6b29fc40-ca47-1067-b31d-00dd01066207}"), theAliceDN);
    EXPECT_EQ(dnOf("Alice Anders"), theAliceDN); // display name
    EXPECT_EQ(dnOf("HTTP/web.corp.example.test"), "CN=svc-web,OU=Users," + theCorp);
    // An explicit UPN, and the implicit sAMAccountName@dnsRoot beside it.
    EXPECT_EQ(dnOf("dave.davis@example.test"), "CN=Dave Davis,OU=Users," + theCorp);
    EXPECT_EQ(dnOf("dave@corp.example.test"), "CN=Dave Davis,OU=Users," + theCorp);
    // Groups, including names with '/' and ','.
    EXPECT_EQ(dnOf("CORP\\Staff"), "CN=Staff,OU=Groups," + theCorp);
    EXPECT_EQ(dnOf("CORP\\Sales-Marketing"), "CN=Sales/Marketing,OU=Groups," + theCorp);
    EXPECT_EQ(dnOf("corp.example.test/Groups/Sales\\/Marketing"),
              "CN=Sales/Marketing,OU=Groups," + theCorp);
    EXPECT_EQ(dnOf("CN=Sales\\2fMarketing,OU=Groups," + theCorp),
              "CN=Sales/Marketing,OU=Groups," + theCorp);
    EXPECT_EQ(dnOf("CORP\\jsmith"), "CN=Smith\\, John,OU=Users," + theCorp);
    EXPECT_EQ(dnOf("corp.example.test/Users/Smith, John"), "CN=Smith\\, John,OU=Users," + theCorp);
    // The domain itself.
    EXPECT_EQ(dnOf("CORP\\"), theCorp);
    EXPECT_EQ(dnOf("corp.example.test/"), theCorp);
    // As the live directory answers them: a DNS name as the domain part, and
    // a name that reads as several forms found under a later one.
    EXPECT_EQ(dnOf("corp.example.test\\alice"), theAliceDN);
    EXPECT_EQ(dnOf("nobody@corp.example.test"), error(E_nameNotFound));
}

TEST(TranslateForms, ANameOfSeveralFormsIsFoundUnderTheFirstThatHoldsIt)
{
    // Display names holding '@', '\\', '/' and '=': each is tried as every
    // form it reads as, the display name last.
    const std::string theLdif = std::string(
        "dn: DC=corp,DC=test\nobjectClass: domainDNS\n\n"
        "dn: CN=CORP,CN=Partitions,CN=Configuration,DC=corp,DC=test\nobjectClass: crossRef\n"
        "nCName: DC=corp,DC=test\ndnsRoot: corp.test\nnETBIOSName: CORP\n\n");
    const char* theDisplays[] = {"Ann @ Sales", "R\\D", "a/b", "x=y", "ann@corp.test"};
    std::string theText = theLdif;
    for (int curIndex = 0; curIndex < 5; ++curIndex)
        theText += "dn: CN=u" + std::to_string(curIndex) + ",DC=corp,DC=test\nobjectClass: user\n" +
                   "sAMAccountName: u" + std::to_string(curIndex) +
                   "\ndisplayName: " + theDisplays[curIndex] + "\n\n";
    auto theService = ldif::makeLdifService(dirtest::writeFile("forms.ldif", theText));
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    ASSERT_EQ(theTranslator->init(InitType_GC, ""), S_ok);
    for (int curIndex = 0; curIndex < 5; ++curIndex)
    {
        ASSERT_EQ(theTranslator->set(NameType_Unknown, theDisplays[curIndex]), S_ok)
            << theDisplays[curIndex];
        std::string theDN;
        ASSERT_EQ(theTranslator->get(NameType_1779, theDN), S_ok);
        EXPECT_EQ(theDN, "CN=u" + std::to_string(curIndex) + ",DC=corp,DC=test")
            << theDisplays[curIndex];
    }
}

TEST_F(Translate, NotFoundAndNotUnique)
{
    // A bare group name is no format the directory knows (the caller's
    // retry with a domain prefix depends on this).
    EXPECT_EQ(dnOf("Staff"), error(E_nameNotFound));
    EXPECT_EQ(dnOf("IT-Admins"), error(E_nameNotFound));
    EXPECT_EQ(dnOf("nobody@corp.example.test"), error(E_nameNotFound));
    EXPECT_EQ(dnOf("NODOMAIN\\alice"), error(E_nameNotFound));
    EXPECT_EQ(dnOf("CORP\\nobody"), error(E_nameNotFound));
    EXPECT_EQ(dnOf("CN=Nobody,OU=Users," + theCorp), error(E_nameNotFound));
    EXPECT_EQ(dnOf("S-1-5-21-1-2-3-4"), error(E_nameNotFound));
    EXPECT_EQ(dnOf(""), error(E_nameNotFound));
    EXPECT_TRUE(isNameNotFound(itsTranslator->set(NameType_Unknown, "Staff")));
    // After a failed set there is nothing to get.
    std::string theName = "untouched";
    EXPECT_TRUE(failed(itsTranslator->get(NameType_1779, theName)));
    EXPECT_EQ(theName, "untouched");

    auto theTwo = ldif::makeLdifService(dirtest::sourcePath("tests/fixtures/two_domains.ldif"));
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theTwo->createNameTranslator(theTranslator), S_ok);
    ASSERT_EQ(theTranslator->init(InitType_GC, ""), S_ok);
    // Two Pat Same in two domains: the display name is ambiguous on the GC.
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "Pat Same"), E_nameNotUnique);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CORP\\pat"), S_ok);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "EUROPE\\pat"), S_ok);
}

TEST_F(Translate, DomainTranslatorSeesOnlyItsDomain)
{
    auto theTwo = ldif::makeLdifService(dirtest::sourcePath("tests/fixtures/two_domains.ldif"));
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theTwo->createNameTranslator(theTranslator), S_ok);
    std::string theDN;

    ASSERT_EQ(theTranslator->init(InitType_Domain, "europe"), S_ok); // NetBIOS, any case
    ASSERT_EQ(theTranslator->set(NameType_Unknown, "Pat Same"), S_ok);
    ASSERT_EQ(theTranslator->get(NameType_1779, theDN), S_ok);
    EXPECT_EQ(theDN, "CN=Pat Same,OU=People,DC=emea," + theCorp);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CORP\\alice"), E_nameNotFound);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CN=Alice Anders,OU=People," + theCorp),
              E_nameNotFound);

    ASSERT_EQ(theTranslator->init(InitType_Domain, "corp.example.test"), S_ok); // DNS name
    ASSERT_EQ(theTranslator->set(NameType_Unknown, "Pat Same"), S_ok);
    ASSERT_EQ(theTranslator->get(NameType_1779, theDN), S_ok);
    EXPECT_EQ(theDN, "CN=Pat Same,OU=People," + theCorp);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "zoe@emea.corp.example.test"), E_nameNotFound);

    ASSERT_EQ(theTranslator->init(InitType_Domain, "LAB"), S_ok);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "LAB\\labuser"), S_ok);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "labuser@lab.test"), S_ok);

    EXPECT_EQ(theTranslator->init(InitType_Domain, "EMEA"), E_noSuchDomain);
    EXPECT_EQ(theTranslator->init(InitType_Domain, "nowhere.test"), E_noSuchDomain);
    // A failed init leaves no usable translator behind.
    EXPECT_TRUE(failed(theTranslator->set(NameType_Unknown, "LAB\\labuser")));
}

TEST_F(Translate, GetInEveryFormat)
{
    ASSERT_EQ(itsTranslator->set(NameType_Unknown, "alice@corp.example.test"), S_ok);
    std::string theName;
    ASSERT_EQ(itsTranslator->get(NameType_1779, theName), S_ok);
    EXPECT_EQ(theName, theAliceDN);
    ASSERT_EQ(itsTranslator->get(NameType_NT4, theName), S_ok);
    EXPECT_EQ(theName, "CORP\\alice");
    ASSERT_EQ(itsTranslator->get(NameType_Canonical, theName), S_ok);
    EXPECT_EQ(theName, "corp.example.test/Users/Alice Anders");
    ASSERT_EQ(itsTranslator->get(NameType_UserPrincipalName, theName), S_ok);
    EXPECT_EQ(theName, "alice@corp.example.test");
    ASSERT_EQ(itsTranslator->get(NameType_SIDOrSIDHistory, theName), S_ok);
    EXPECT_EQ(theName, "S-1-5-21-1004336348-1177238915-682003330-1104");

    ASSERT_EQ(itsTranslator->set(NameType_Unknown, "CN=Sales\\2fMarketing,OU=Groups," + theCorp),
              S_ok);
    ASSERT_EQ(itsTranslator->get(NameType_NT4, theName), S_ok);
    EXPECT_EQ(theName, "CORP\\Sales-Marketing");
    ASSERT_EQ(itsTranslator->get(NameType_Canonical, theName), S_ok);
    EXPECT_EQ(theName, "corp.example.test/Groups/Sales\\/Marketing");
    // A group has no UPN: the failure is no success.
    EXPECT_TRUE(failed(itsTranslator->get(NameType_UserPrincipalName, theName)));

    // An OU has no logon name.
    ASSERT_EQ(itsTranslator->set(NameType_Unknown, "OU=Groups," + theCorp), S_ok);
    EXPECT_TRUE(failed(itsTranslator->get(NameType_NT4, theName)));
    ASSERT_EQ(itsTranslator->set(NameType_Unknown, theCorp), S_ok);
    ASSERT_EQ(itsTranslator->get(NameType_NT4, theName), S_ok);
    EXPECT_EQ(theName, "CORP\\");
}

TEST_F(Translate, ExplicitFormatsAndUninitialisedUse)
{
    EXPECT_EQ(dnOf("CORP\\alice", NameType_NT4), theAliceDN);
    EXPECT_EQ(dnOf("CORP\\alice", NameType_1779), error(E_nameNotFound));
    EXPECT_EQ(dnOf("alice@corp.example.test", NameType_UserPrincipalName), theAliceDN);
    EXPECT_EQ(dnOf("Alice Anders", NameType_Display), theAliceDN);

    std::unique_ptr<NameTranslator> theFresh;
    ASSERT_EQ(itsService->createNameTranslator(theFresh), S_ok);
    EXPECT_TRUE(failed(theFresh->set(NameType_Unknown, "CORP\\alice")));
}

TEST_F(Translate, CredentialsAreNeverLogged)
{
    const std::string thePassword = "Pa55-w0rd-never-logged";
    ASSERT_EQ(itsTranslator->initEx(InitType_Domain, "CORP", "alice", "CORP", thePassword), S_ok);
    EXPECT_EQ(dnOf("CORP\\alice"), theAliceDN);
    EXPECT_EQ(itsTranslator->initEx(InitType_Domain, "NOPE", "alice", "NOPE", thePassword),
              E_noSuchDomain);
    Credentials theCredentials{"CORP\\alice", thePassword};
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(itsService->openObject("LDAP://" + theAliceDN, &theCredentials, ObjectKind::User,
                                     theObject),
              S_ok);
    EXPECT_EQ(itsService->openObject("LDAP://CN=None," + theCorp, &theCredentials, ObjectKind::User,
                                     theObject),
              E_noSuchObject);
    EXPECT_FALSE(itsLog.anyLineContains(thePassword));
}
