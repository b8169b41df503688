// The LDIF backend's fault hook from the environment: the entry syntax, and
// that the faults it injects act on the service it is applied to.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_faults_env.h"

using namespace corvel::directory;
using namespace corvel::directory::ldif;

namespace
{

std::vector<FaultSpec> parse(const std::string& inText, std::vector<std::string>& outErrors)
{
    return parseFaultSpecs(inText, outErrors);
}

} // namespace

TEST(FaultsEnvParse, EntriesWithTargetsHoldingColonsSemicolonsAndBackslashes)
{
    std::vector<std::string> theErrors;
    auto theSpecs = parse("Open:CN=Staff,OU=Groups,DC=corp:0x80070005;ismember::2147950640;"
                          "SetName:CORP\\Staff:0x80072116;Next:CN=a\\;b\\,c,DC=x:0x80004005;"
                          "GetName:ldap://x:y:0X1;;",
                          theErrors);
    EXPECT_TRUE(theErrors.empty());
    ASSERT_EQ(theSpecs.size(), 5u);
    EXPECT_EQ(theSpecs[0].itsOp, FaultOp::Open);
    EXPECT_EQ(theSpecs[0].itsTarget, "CN=Staff,OU=Groups,DC=corp");
    EXPECT_EQ(theSpecs[0].itsStatus, E_accessDenied);
    EXPECT_EQ(theSpecs[1].itsOp, FaultOp::IsMember);
    EXPECT_EQ(theSpecs[1].itsTarget, "");
    EXPECT_EQ(theSpecs[1].itsStatus, E_noSuchObject); // decimal form
    EXPECT_EQ(theSpecs[2].itsTarget, "CORP\\Staff");
    EXPECT_EQ(theSpecs[3].itsOp, FaultOp::Next);
    EXPECT_EQ(theSpecs[3].itsTarget, "CN=a\\;b\\,c,DC=x"); // escapes kept for the DN
    EXPECT_EQ(theSpecs[4].itsTarget, "ldap://x:y");
    EXPECT_EQ(theSpecs[4].itsStatus, 1u);
}

TEST(FaultsEnvParse, BadEntriesAreNamedAndSkipped)
{
    std::vector<std::string> theErrors;
    auto theSpecs = parse("Open;Bogus::0x5;Open:x:;Open:x:0x1G;Open:x:0x100000000;Open:x:12a;"
                          "Members:CN=g:5;trailing\\",
                          theErrors);
    ASSERT_EQ(theSpecs.size(), 1u);
    EXPECT_EQ(theSpecs[0].itsOp, FaultOp::Members);
    EXPECT_EQ(theSpecs[0].itsStatus, 5u);
    EXPECT_EQ(theErrors, (std::vector<std::string>{"Open", "Bogus::0x5", "Open:x:", "Open:x:0x1G",
                                                   "Open:x:0x100000000", "Open:x:12a", "trailing\\"}));
}

TEST(FaultsEnvApply, InjectsOnceIntoTheServiceMadeAfterwards)
{
    setInfoLog("", 0);
    const std::string thePath = testing::TempDir() + "faults_env.ldif";
    std::FILE* theFile = std::fopen(thePath.c_str(), "w");
    ASSERT_NE(theFile, nullptr);
    std::fputs("dn: DC=corp,DC=test\nobjectClass: domainDNS\n\n"
               "dn: CN=CORP,CN=Partitions,CN=Configuration,DC=corp,DC=test\nobjectClass: crossRef\n"
               "nCName: DC=corp,DC=test\ndnsRoot: corp.test\nnETBIOSName: CORP\n\n"
               "dn: CN=g,DC=corp,DC=test\nobjectClass: group\nsAMAccountName: g\n\n",
               theFile);
    std::fclose(theFile);
    ::setenv("CORVEL_LDIF_FAULTS", "Open:cn=G,dc=CORP,dc=test:0x80070005;SetName:CORP\\g:0x80072116", 1);
    auto theService = makeLdifService(thePath);
    // Faults are process-wide: a second service sees them too.
    auto theSecond = makeLdifService(thePath);
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(theService->openObject("LDAP://CN=g,DC=corp,DC=test", nullptr, ObjectKind::Group, theObject),
              E_accessDenied);
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    ASSERT_EQ(theTranslator->init(InitType_GC, ""), S_ok);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CORP\\g"), E_nameNotFound);
    EXPECT_EQ(theSecond->openObject("LDAP://CN=g,DC=corp,DC=test", nullptr, ObjectKind::Group, theObject),
              E_accessDenied);
    // Clearing the table restores the directory: the faults were the only cause.
    clearFaults();
    EXPECT_EQ(theSecond->openObject("LDAP://CN=g,DC=corp,DC=test", nullptr, ObjectKind::Group, theObject), S_ok);
    EXPECT_EQ(theTranslator->set(NameType_Unknown, "CORP\\g"), S_ok);
    std::remove(thePath.c_str());
}
