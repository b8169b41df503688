// The test-only fault table: faults act on the chosen operation of the
// chosen object through any backend, sessions see them once injected, and
// the entry syntax of CORVEL_DIRECTORY_FAULTS.
#include "tests/support/dir_faults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"

using namespace corvel::directory;

namespace
{

const std::string theCorp = "DC=corp,DC=example,DC=test";
const std::string theGroups = "OU=Groups," + theCorp;
const std::string theUsers = "OU=Users," + theCorp;

std::string path(const std::string& inDN) { return "LDAP://" + dn::escapePathDN(inDN); }

class Faults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        faults::clearFaults();
        itsService = faults::wrap(
            ldif::makeLdifService(std::string(CORVEL_SOURCE_DIR) + "/examples/corp.ldif"));
    }
    void TearDown() override { faults::clearFaults(); }

    std::unique_ptr<DirObject> open(const std::string& inDN, ObjectKind inKind)
    {
        std::unique_ptr<DirObject> theObject;
        EXPECT_EQ(itsService->openObject(path(inDN), nullptr, inKind, theObject), S_ok) << inDN;
        return theObject;
    }

    std::shared_ptr<DirectoryService> itsService;
};

} // namespace

TEST_F(Faults, FaultsOnObjectOperations)
{
    const std::string theStaffDN = "CN=Staff," + theGroups;
    const std::string theAliceDN = "CN=Alice Anders," + theUsers;
    std::unique_ptr<DirObject> theObject;

    faults::injectFault(faults::FaultOp::Open, "cn=STAFF,ou=groups,dc=corp,dc=example,dc=test",
                        E_accessDenied);
    EXPECT_EQ(itsService->openObject(path(theStaffDN), nullptr, ObjectKind::Group, theObject),
              E_accessDenied);
    EXPECT_EQ(theObject, nullptr);
    EXPECT_EQ(itsService->openObject(path("CN=Engineering," + theGroups), nullptr,
                                     ObjectKind::Group, theObject),
              S_ok);
    faults::clearFaults();

    auto theStaff = open(theStaffDN, ObjectKind::Group);
    auto theAlice = open(theAliceDN, ObjectKind::User);
    auto theOther = open("CN=Engineering," + theGroups, ObjectKind::Group);
    std::string theValue;
    std::vector<std::string> theValues;
    bool theIsMember = false;
    std::unique_ptr<DirEnumerator> theEnum;
    std::unique_ptr<DirObject> theItem;

    faults::injectFault(faults::FaultOp::RelativeName, theStaffDN, E_fail);
    faults::injectFault(faults::FaultOp::Get, theStaffDN, E_accessDenied);
    faults::injectFault(faults::FaultOp::GetEx, theAliceDN, E_serverDown);
    faults::injectFault(faults::FaultOp::IsMember, theStaffDN, E_accessDenied);
    faults::injectFault(faults::FaultOp::Members, theStaffDN, E_outOfMemory);
    faults::injectFault(faults::FaultOp::Groups, theAliceDN, E_timeout);
    EXPECT_EQ(theStaff->getName(theValue), E_fail);
    EXPECT_EQ(theStaff->get("name", theValue), E_accessDenied);
    EXPECT_EQ(theAlice->getEx("memberOf", theValues), E_serverDown);
    EXPECT_EQ(theStaff->asGroup()->isMember(path(theAliceDN), theIsMember), E_accessDenied);
    EXPECT_EQ(theStaff->asGroup()->members(theEnum), E_outOfMemory);
    EXPECT_EQ(theEnum, nullptr);
    EXPECT_EQ(theAlice->asUser()->groups(theEnum), E_timeout);
    // Other objects are not touched.
    EXPECT_EQ(theOther->getName(theValue), S_ok);
    EXPECT_EQ(theOther->get("name", theValue), S_ok);
    EXPECT_EQ(theOther->asGroup()->isMember(path(theAliceDN), theIsMember), S_ok);
    EXPECT_EQ(theOther->asGroup()->members(theEnum), S_ok);
    faults::clearFaults();

    // Next fails for the enumeration of the target only.
    ASSERT_EQ(theStaff->asGroup()->members(theEnum), S_ok);
    ASSERT_EQ(theEnum->next(theItem), S_ok);
    faults::injectFault(faults::FaultOp::Next, theStaffDN, E_fail);
    EXPECT_EQ(theEnum->next(theItem), E_fail);
    EXPECT_EQ(theItem, nullptr);
    std::unique_ptr<DirEnumerator> theOtherEnum;
    ASSERT_EQ(theOther->asGroup()->members(theOtherEnum), S_ok);
    EXPECT_EQ(theOtherEnum->next(theItem), S_ok);

    // An empty target hits every object.
    faults::clearFaults();
    faults::injectFault(faults::FaultOp::Get, "", E_accessDenied);
    EXPECT_EQ(theOther->get("name", theValue), E_accessDenied);
    EXPECT_EQ(theAlice->get("name", theValue), E_accessDenied);
    faults::clearFaults();
    EXPECT_EQ(theAlice->get("name", theValue), S_ok);
}

TEST_F(Faults, FaultsOnTranslatorOperations)
{
    std::unique_ptr<NameTranslator> theTranslator;
    faults::injectFault(faults::FaultOp::CreateTranslator, "", E_classNotRegistered);
    EXPECT_EQ(itsService->createNameTranslator(theTranslator), E_classNotRegistered);
    EXPECT_EQ(theTranslator, nullptr);
    faults::clearFaults();
    ASSERT_EQ(itsService->createNameTranslator(theTranslator), S_ok);

    faults::injectFault(faults::FaultOp::InitTranslator, "corp", E_logonFailure);
    EXPECT_EQ(theTranslator->init(InitType_Domain, "CORP"), E_logonFailure);
    EXPECT_EQ(theTranslator->init(InitType_GC, ""), S_ok);

    faults::injectFault(faults::FaultOp::SetName, "CORP\\Staff", E_accessDenied);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "corp\\staff"), E_accessDenied);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CORP\\alice"), S_ok);

    // get matches the name given to set, or the DN it resolved to.
    faults::injectFault(faults::FaultOp::GetName, "CN=Alice Anders," + theUsers, E_fail);
    std::string theDN;
    EXPECT_EQ(theTranslator->get(NameType_1779, theDN), E_fail);
    ASSERT_EQ(theTranslator->set(NameType_Unknown, "CORP\\bob"), S_ok);
    EXPECT_EQ(theTranslator->get(NameType_1779, theDN), S_ok);
    faults::injectFault(faults::FaultOp::GetName, "corp\\bob", 0x80072116);
    EXPECT_EQ(theTranslator->get(NameType_1779, theDN), 0x80072116u);
}

TEST_F(Faults, SessionsSeeFaultsInjectedWhileTheyAreOpen)
{
    ::setenv("CORVEL_DIRECTORY",
             (std::string("ldif:") + CORVEL_SOURCE_DIR + "/examples/corp.ldif").c_str(), 1);
    const std::string theStaff = "LDAP://CN=Staff," + theGroups;
    std::unique_ptr<DirObject> theObject;
    Session theSession;
    EXPECT_EQ(theSession.service().openObject(theStaff, nullptr, ObjectKind::Group, theObject),
              S_ok);
    faults::injectFault(faults::FaultOp::Open, "cn=STAFF," + theGroups, E_accessDenied);
    EXPECT_EQ(theSession.service().openObject(theStaff, nullptr, ObjectKind::Group, theObject),
              E_accessDenied);
    // Clearing the table restores the directory: the fault was the only cause.
    faults::clearFaults();
    EXPECT_EQ(theSession.service().openObject(theStaff, nullptr, ObjectKind::Group, theObject),
              S_ok);
    ::unsetenv("CORVEL_DIRECTORY");
}

TEST(FaultsEnvParse, EntriesWithTargetsHoldingColonsSemicolonsAndBackslashes)
{
    std::vector<std::string> theErrors;
    auto theSpecs =
        faults::parseFaultSpecs("Open:CN=Staff,OU=Groups,DC=corp:0x80070005;ismember::2147950640;"
                                "SetName:CORP\\Staff:0x80072116;Next:CN=a\\;b\\,c,DC=x:0x80004005;"
                                "GetName:ldap://x:y:0X1;;",
                                theErrors);
    EXPECT_TRUE(theErrors.empty());
    ASSERT_EQ(theSpecs.size(), 5u);
    EXPECT_EQ(theSpecs[0].itsOp, faults::FaultOp::Open);
    EXPECT_EQ(theSpecs[0].itsTarget, "CN=Staff,OU=Groups,DC=corp");
    EXPECT_EQ(theSpecs[0].itsStatus, E_accessDenied);
    EXPECT_EQ(theSpecs[1].itsOp, faults::FaultOp::IsMember);
    EXPECT_EQ(theSpecs[1].itsTarget, "");
    EXPECT_EQ(theSpecs[1].itsStatus, E_noSuchObject); // decimal form
    EXPECT_EQ(theSpecs[2].itsTarget, "CORP\\Staff");
    EXPECT_EQ(theSpecs[3].itsOp, faults::FaultOp::Next);
    EXPECT_EQ(theSpecs[3].itsTarget, "CN=a\\;b\\,c,DC=x"); // escapes kept for the DN
    EXPECT_EQ(theSpecs[4].itsTarget, "ldap://x:y");
    EXPECT_EQ(theSpecs[4].itsStatus, 1u);
}

TEST(FaultsEnvParse, BadEntriesAreNamedAndSkipped)
{
    std::vector<std::string> theErrors;
    auto theSpecs =
        faults::parseFaultSpecs("Open;Bogus::0x5;Open:x:;Open:x:0x1G;Open:x:0x100000000;Open:x:12a;"
                                "Members:CN=g:5;trailing\\",
                                theErrors);
    ASSERT_EQ(theSpecs.size(), 1u);
    EXPECT_EQ(theSpecs[0].itsOp, faults::FaultOp::Members);
    EXPECT_EQ(theSpecs[0].itsStatus, 5u);
    EXPECT_EQ(theErrors,
              (std::vector<std::string>{"Open", "Bogus::0x5", "Open:x:", "Open:x:0x1G",
                                        "Open:x:0x100000000", "Open:x:12a", "trailing\\"}));
}
