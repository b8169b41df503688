// Objects, groups, users and enumerations of the LDIF directory.
#include <gtest/gtest.h>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory;

namespace
{

const std::string theCorp = "DC=corp,DC=example,DC=test";
const std::string theGroups = "OU=Groups," + theCorp;
const std::string theUsers = "OU=Users," + theCorp;

std::string path(const std::string& inDN) { return "LDAP://" + dn::escapePathDN(inDN); }

class Objects : public ::testing::Test
{
protected:
    void SetUp() override { itsService = ldif::makeLdifService(dirtest::corpPath()); }

    std::unique_ptr<DirObject> open(const std::string& inDN, ObjectKind inKind)
    {
        std::unique_ptr<DirObject> theObject;
        Status theStatus = itsService->openObject(path(inDN), nullptr, inKind, theObject);
        EXPECT_EQ(theStatus, S_ok) << inDN;
        return theObject;
    }

    // The DNs an enumeration yields, each element's kind marked: "G:" group,
    // "U:" user, "-:" neither.
    static std::vector<std::string> drain(DirEnumerator& inEnum)
    {
        std::vector<std::string> theItems;
        std::unique_ptr<DirObject> theItem;
        for (int curGuard = 0; curGuard < 1000; ++curGuard)
        {
            Status theStatus = inEnum.next(theItem);
            if (theStatus != S_ok)
            {
                EXPECT_EQ(theStatus, S_false);
                EXPECT_EQ(theItem, nullptr);
                break;
            }
            std::string theDN;
            EXPECT_EQ(theItem->get("distinguishedName", theDN), S_ok);
            std::string theMark = theItem->asGroup() ? "G:" : theItem->asUser() ? "U:" : "-:";
            theItems.push_back(theMark + theDN);
        }
        return theItems;
    }

    dirtest::LogCapture itsLog;
    std::shared_ptr<DirectoryService> itsService;
};

} // namespace

TEST_F(Objects, OpenAsEachKind)
{
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(itsService->openObject(path("CN=Staff," + theGroups), nullptr, ObjectKind::Group,
                                     theObject),
              S_ok);
    ASSERT_NE(theObject, nullptr);
    EXPECT_NE(theObject->asGroup(), nullptr);
    EXPECT_EQ(theObject->asUser(), nullptr);

    EXPECT_EQ(
        itsService->openObject(path("CN=Staff," + theGroups), nullptr, ObjectKind::User, theObject),
        E_noInterface);
    EXPECT_EQ(theObject, nullptr);
    EXPECT_EQ(itsService->openObject(path("CN=Alice Anders," + theUsers), nullptr,
                                     ObjectKind::Group, theObject),
              E_noInterface);
    EXPECT_EQ(itsService->openObject(path("CN=Vendor Contact," + theUsers), nullptr,
                                     ObjectKind::User, theObject),
              E_noInterface);
    EXPECT_EQ(
        itsService->openObject(path("OU=Groups," + theCorp), nullptr, ObjectKind::Group, theObject),
        E_noInterface);
    EXPECT_EQ(itsService->openObject(path("CN=Alice Anders," + theUsers), nullptr, ObjectKind::User,
                                     theObject),
              S_ok);
    EXPECT_NE(theObject->asUser(), nullptr);
    // A computer is a user, as in the directory.
    EXPECT_EQ(itsService->openObject(path("CN=WS01,CN=Computers," + theCorp), nullptr,
                                     ObjectKind::User, theObject),
              S_ok);
    EXPECT_EQ(itsService->openObject(path("OU=Groups," + theCorp), nullptr, ObjectKind::Object,
                                     theObject),
              S_ok);

    EXPECT_EQ(itsService->openObject(path("CN=Nobody," + theGroups), nullptr, ObjectKind::Object,
                                     theObject),
              E_noSuchObject);
    EXPECT_EQ(
        itsService->openObject("CN=Staff," + theGroups, nullptr, ObjectKind::Object, theObject),
        E_badPathname);
    EXPECT_EQ(itsService->openObject("LDAP://not a dn", nullptr, ObjectKind::Object, theObject),
              E_invalidDNSyntax);
    // A server before the DN is ignored; the prefix and the DN take any case.
    EXPECT_EQ(itsService->openObject(
                  "ldap://dc1.corp.example.test/cn=staff,ou=groups,dc=corp,dc=example,dc=test",
                  nullptr, ObjectKind::Group, theObject),
              S_ok);
}

TEST_F(Objects, SlashInDNMustBeEscapedInPath)
{
    const std::string theDN = "CN=Sales/Marketing," + theGroups;
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(itsService->openObject("LDAP://CN=Sales\\2fMarketing," + theGroups, nullptr,
                                     ObjectKind::Group, theObject),
              S_ok);
    EXPECT_EQ(itsService->openObject("LDAP://CN=Sales\\2FMarketing," + theGroups, nullptr,
                                     ObjectKind::Group, theObject),
              S_ok);
    std::string theName;
    ASSERT_EQ(theObject->getName(theName), S_ok);
    EXPECT_EQ(theName, "CN=Sales/Marketing");
    // Unescaped, the first '/' ends a server name and the rest names nothing.
    EXPECT_EQ(itsService->openObject("LDAP://" + theDN, nullptr, ObjectKind::Group, theObject),
              E_invalidDNSyntax);
    EXPECT_EQ(theObject, nullptr);

    // isMember wants the user's path escaped the same way.
    auto theStaff = open("CN=Staff," + theGroups, ObjectKind::Group);
    bool theIsMember = false;
    ASSERT_EQ(theStaff->asGroup()->isMember(path(theDN), theIsMember), S_ok);
    EXPECT_TRUE(theIsMember);
}

TEST_F(Objects, NamesAndAttributes)
{
    auto theJohn = open("CN=Smith\\, John," + theUsers, ObjectKind::User);
    std::string theValue;
    ASSERT_EQ(theJohn->getName(theValue), S_ok);
    EXPECT_EQ(theValue, "CN=Smith\\, John"); // as stored
    ASSERT_EQ(theJohn->get("name", theValue), S_ok);
    EXPECT_EQ(theValue, "Smith, John");
    ASSERT_EQ(theJohn->get("SAMACCOUNTNAME", theValue), S_ok);
    EXPECT_EQ(theValue, "jsmith");
    ASSERT_EQ(theJohn->get("objectSid", theValue), S_ok);
    EXPECT_EQ(theValue, "S-1-5-21-1004336348-1177238915-682003330-1110");
    EXPECT_EQ(theJohn->get("telephoneNumber", theValue), E_propertyNotFound);
    std::vector<std::string> theValues;
    ASSERT_EQ(theJohn->getEx("objectClass", theValues), S_ok);
    EXPECT_EQ(theValues,
              (std::vector<std::string>{"top", "person", "organizationalPerson", "user"}));

    // Entries without a name attribute still have a name: the RDN value.
    auto theTwo = ldif::makeLdifService(dirtest::sourcePath("tests/fixtures/two_domains.ldif"));
    std::unique_ptr<DirObject> theTeam;
    ASSERT_EQ(theTwo->openObject("LDAP://CN=Team,OU=People," + theCorp, nullptr, ObjectKind::Group,
                                 theTeam),
              S_ok);
    ASSERT_EQ(theTeam->get("name", theValue), S_ok);
    EXPECT_EQ(theValue, "Team");
    ASSERT_EQ(theTeam->getName(theValue), S_ok);
    EXPECT_EQ(theValue, "cn=Team");
}

TEST_F(Objects, MemberOfInGroupOrderAndNotFound)
{
    auto theDave = open("CN=Dave Davis," + theUsers, ObjectKind::Object);
    std::vector<std::string> theValues;
    ASSERT_EQ(theDave->getEx("memberOf", theValues), S_ok);
    EXPECT_EQ(theValues, (std::vector<std::string>{"CN=Staff," + theGroups,
                                                   "CN=Sales/Marketing," + theGroups}));

    auto theFrank = open("CN=Frank Ford," + theUsers, ObjectKind::Object);
    theValues = {"keep"};
    EXPECT_EQ(theFrank->getEx("memberOf", theValues), E_propertyNotFound);
    EXPECT_EQ(theValues, std::vector<std::string>{"keep"});

    // A group's own memberOf, for the recursive listing.
    auto theDevelopers = open("CN=Developers," + theGroups, ObjectKind::Object);
    ASSERT_EQ(theDevelopers->getEx("memberOf", theValues), S_ok);
    EXPECT_EQ(theValues, (std::vector<std::string>{"CN=Engineering," + theGroups}));
    auto theStaff = open("CN=Staff," + theGroups, ObjectKind::Object);
    EXPECT_EQ(theStaff->getEx("memberOf", theValues), E_propertyNotFound);
}

TEST_F(Objects, IsMemberIsDirectOnly)
{
    auto theStaff = open("CN=Staff," + theGroups, ObjectKind::Group);
    DirGroup* theGroup = theStaff->asGroup();
    bool theIsMember = true;
    ASSERT_EQ(theGroup->isMember(path("CN=Dave Davis," + theUsers), theIsMember), S_ok);
    EXPECT_TRUE(theIsMember);
    ASSERT_EQ(
        theGroup->isMember("LDAP://cn=DAVE DAVIS,ou=users,dc=corp,dc=example,dc=test", theIsMember),
        S_ok);
    EXPECT_TRUE(theIsMember);
    // Alice is in Staff only through Engineering and Developers.
    ASSERT_EQ(theGroup->isMember(path("CN=Alice Anders," + theUsers), theIsMember), S_ok);
    EXPECT_FALSE(theIsMember);
    ASSERT_EQ(theGroup->isMember(path("CN=Nobody," + theUsers), theIsMember), S_ok);
    EXPECT_FALSE(theIsMember);
    theIsMember = true;
    EXPECT_EQ(theGroup->isMember("CN=Dave Davis," + theUsers, theIsMember), E_badPathname);
    EXPECT_FALSE(theIsMember);

    auto theEmpty = open("CN=Empty," + theGroups, ObjectKind::Group);
    ASSERT_EQ(theEmpty->asGroup()->isMember(path("CN=Dave Davis," + theUsers), theIsMember), S_ok);
    EXPECT_FALSE(theIsMember);
}

TEST_F(Objects, MembersAndGroupsInDirectoryOrder)
{
    auto theStaff = open("CN=Staff," + theGroups, ObjectKind::Group);
    std::unique_ptr<DirEnumerator> theEnum;
    ASSERT_EQ(theStaff->asGroup()->members(theEnum), S_ok);
    EXPECT_EQ(drain(*theEnum), (std::vector<std::string>{"G:CN=Engineering," + theGroups,
                                                         "G:CN=Sales/Marketing," + theGroups,
                                                         "U:CN=Dave Davis," + theUsers}));

    auto theEmpty = open("CN=Empty," + theGroups, ObjectKind::Group);
    ASSERT_EQ(theEmpty->asGroup()->members(theEnum), S_ok);
    EXPECT_TRUE(drain(*theEnum).empty());

    auto theAlice = open("CN=Alice Anders," + theUsers, ObjectKind::User);
    ASSERT_EQ(theAlice->asUser()->groups(theEnum), S_ok);
    EXPECT_EQ(drain(*theEnum), (std::vector<std::string>{"G:CN=Developers," + theGroups,
                                                         "G:CN=Staff,OU=Regional," + theGroups}));
    auto theFrank = open("CN=Frank Ford," + theUsers, ObjectKind::User);
    ASSERT_EQ(theFrank->asUser()->groups(theEnum), S_ok);
    EXPECT_TRUE(drain(*theEnum).empty());

    // Objects from an enumeration are usable: a loop of groups is just two
    // groups that list each other.
    auto theLoopA = open("CN=LoopA," + theGroups, ObjectKind::Group);
    ASSERT_EQ(theLoopA->asGroup()->members(theEnum), S_ok);
    std::unique_ptr<DirObject> theLoopB;
    ASSERT_EQ(theEnum->next(theLoopB), S_ok);
    ASSERT_NE(theLoopB->asGroup(), nullptr);
    std::unique_ptr<DirEnumerator> theInner;
    ASSERT_EQ(theLoopB->asGroup()->members(theInner), S_ok);
    EXPECT_EQ(drain(*theInner), (std::vector<std::string>{"G:CN=LoopA," + theGroups}));
}

TEST_F(Objects, DanglingMemberIsAnElementOfNoKind)
{
    std::string thePath = dirtest::writeFile(
        "dangling.ldif", "dn: DC=d,DC=test\nobjectClass: domainDNS\n\n"
                         "dn: CN=G,DC=d,DC=test\nobjectClass: group\n"
                         "member: CN=Ghost,DC=d,DC=test\nmember: CN=U,DC=d,DC=test\n\n"
                         "dn: CN=U,DC=d,DC=test\nobjectClass: user\n");
    auto theService = ldif::makeLdifService(thePath);
    EXPECT_EQ(itsLog.errorsWith({thePath, "CN=Ghost,DC=d,DC=test"}), 1u);
    std::unique_ptr<DirObject> theGroup;
    ASSERT_EQ(
        theService->openObject("LDAP://CN=G,DC=d,DC=test", nullptr, ObjectKind::Group, theGroup),
        S_ok);
    std::unique_ptr<DirEnumerator> theEnum;
    ASSERT_EQ(theGroup->asGroup()->members(theEnum), S_ok);
    std::unique_ptr<DirObject> theGhost;
    ASSERT_EQ(theEnum->next(theGhost), S_ok);
    EXPECT_EQ(theGhost->asGroup(), nullptr);
    EXPECT_EQ(theGhost->asUser(), nullptr);
    std::string theName;
    ASSERT_EQ(theGhost->getName(theName), S_ok);
    EXPECT_EQ(theName, "CN=Ghost");
    std::vector<std::string> theValues;
    EXPECT_EQ(theGhost->getEx("memberOf", theValues), E_propertyNotFound);
    EXPECT_EQ(drain(*theEnum), (std::vector<std::string>{"U:CN=U,DC=d,DC=test"}));
    // It is not something one can open.
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(theService->openObject("LDAP://CN=Ghost,DC=d,DC=test", nullptr, ObjectKind::Object,
                                     theObject),
              E_noSuchObject);
}
