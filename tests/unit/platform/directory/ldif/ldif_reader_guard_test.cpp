// Records the LDIF reader cannot cope with are refused before it sees them,
// with the usual error line, and the records around them still load; member
// lists keep file order with repeats stored once, also when long.
#include <string>

#include <gtest/gtest.h>

#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory::ldif;

namespace
{

const Entry* entry(const Directory& inDir, const std::string& inDN)
{
    return inDir.entryOfDn(inDir.findDn(inDN));
}

const std::string theGood =
    "dn: CN=Good,DC=y\nobjectClass: group\nmember: CN=U,DC=y\n\ndn: CN=U,DC=y\nobjectClass: user\n";

} // namespace

TEST(LdifReaderGuard, MalformedRecordsAreSkippedWithTheirLine)
{
    struct Case
    {
        const char* itsName;
        std::string itsBad; // a record that starts at line 1
    };
    const Case theCases[] = {
        {"dash after dn", "dn: CN=x,DC=y\n-\n"},
        {"dash after an empty dn", "dn:\n-\n"},
        {"dash after a folded dn", "dn: CN=x,\n DC=y\n-\n"},
        {"dash after dn with CR LF", "dn: CN=x,DC=y\r\n-\r\n"},
        {"comment between dn and dash", "dn: CN=x,DC=y\n# note\n-\n"},
        {"dash after a control", "dn: CN=x,DC=y\ncontrol: 1.2.3\n-\n"},
        {"dash after changetype add", "dn: CN=x,DC=y\nchangetype: add\n-\n"},
        {"dash after changetype modify", "dn: CN=x,DC=y\nchangetype: modify\n-\n"},
        {"dash in an entry", "dn: CN=x,DC=y\nobjectClass: group\n-\n"},
        {"attribute without a type", "dn: CN=g,DC=y\n: x\n"},
        {"attribute without a type, later", "dn: CN=g,DC=y\nobjectClass: group\n:: eA==\n"},
        {"type of white space only after dn", "dn: CN=g,DC=y\n\t\t: x\nobjectClass: group\n"},
        {"type of white space only, later", "dn: CN=g,DC=y\nobjectClass: group\n\v\f\t:: eA==\n"},
    };
    for (const Case& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsName);
        dirtest::LogCapture theLog;
        // The record after the bad one starts at the line after the blank.
        std::size_t theBadLines = 0;
        for (char curChar : curCase.itsBad)
            theBadLines += curChar == '\n' ? 1 : 0;
        std::string thePath = dirtest::writeFile("guard.ldif", curCase.itsBad + "\n" + theGood);
        auto theDir = loadDirectory(thePath);
        ASSERT_TRUE(theDir->itsLoaded);
        EXPECT_EQ(theLog.errorsWith({thePath, "line 1:", "malformed record skipped"}), 1u);
        EXPECT_EQ(theLog.errorCount(), 1u);
        EXPECT_EQ(entry(*theDir, "CN=x,DC=y"), nullptr);
        EXPECT_EQ(entry(*theDir, "CN=g,DC=y"), nullptr);
        const Entry* theGroup = entry(*theDir, "CN=Good,DC=y");
        ASSERT_NE(theGroup, nullptr);
        EXPECT_EQ(theGroup->itsLine, theBadLines + 2);
        EXPECT_EQ(theDir->members(*theGroup).size(), 1u);
    }
}

TEST(LdifReaderGuard, DashLinesOfAChangeRecordAreNotRefusedAsMalformed)
{
    // A modify record is a change record: skipped for that reason, and the
    // "-" lines in it are no reason to call it malformed.
    dirtest::LogCapture theLog;
    std::string thePath = dirtest::writeFile(
        "modify.ldif",
        "dn: CN=x,DC=y\nchangetype: modify\nadd: description\ndescription: d\n-\n\n" + theGood);
    auto theDir = loadDirectory(thePath);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 1:", "change record skipped"}), 1u);
    EXPECT_EQ(theLog.errorsWith({"malformed"}), 0u);
    EXPECT_NE(entry(*theDir, "CN=Good,DC=y"), nullptr);
}

TEST(LdifReaderGuard, LineWithoutColonGivesNoRecord)
{
    for (const std::string& curText :
         {std::string("6\n"), std::string("6"), std::string("6\n\n7\n")})
    {
        SCOPED_TRACE(curText);
        dirtest::LogCapture theLog;
        auto theDir = loadDirectory(dirtest::writeFile("digit.ldif", curText));
        EXPECT_TRUE(theDir->itsLoaded);
        EXPECT_TRUE(theDir->itsEntries.empty());
    }
    // After a good record a lone digit line neither repeats that record nor
    // hides the one after it.
    dirtest::LogCapture theLog;
    std::string thePath =
        dirtest::writeFile("digit2.ldif", theGood + "\n6\n\ndn: CN=V,DC=y\nobjectClass: user\n");
    auto theDir = loadDirectory(thePath);
    EXPECT_EQ(theLog.errorsWith({"already defined"}), 0u);
    EXPECT_NE(entry(*theDir, "CN=Good,DC=y"), nullptr);
    EXPECT_NE(entry(*theDir, "CN=V,DC=y"), nullptr);
    EXPECT_EQ(theDir->itsEntries.size(), 3u);
}

TEST(LdifMembers, LongListKeepsFileOrderAndStoresRepeatsOnce)
{
    // Members in a scrambled order, each named twice (once in another
    // spelling), followed by a second group that repeats some of them.
    const unsigned theCount = 5000;
    std::string theText = "dn: CN=Big,DC=y\nobjectClass: group\n";
    std::vector<unsigned> theOrder;
    for (unsigned curIndex = 0; curIndex < theCount; ++curIndex)
        theOrder.push_back((curIndex * 2999u) % theCount);
    for (unsigned curIndex : theOrder)
        theText += "member: CN=M" + std::to_string(curIndex) + ",DC=y\n";
    for (unsigned curIndex : theOrder)
        theText += "member: cn=m" + std::to_string(curIndex) + ",dc=Y\n";
    theText += "\ndn: CN=Small,DC=y\nobjectClass: group\nmember: CN=M5,DC=y\nmember: CN=M3,DC=y\n"
               "member: CN=M5,DC=y\nmember: CN=M1,DC=y\n";
    dirtest::LogCapture theLog;
    auto theDir = loadDirectory(dirtest::writeFile("big.ldif", theText));
    const Entry* theBig = entry(*theDir, "CN=Big,DC=y");
    ASSERT_NE(theBig, nullptr);
    ASSERT_EQ(theDir->members(*theBig).size(), theCount);
    for (unsigned curIndex = 0; curIndex < theCount; ++curIndex)
        ASSERT_EQ(theDir->dnText(theDir->members(*theBig)[curIndex]),
                  "CN=M" + std::to_string(theOrder[curIndex]) + ",DC=y");
    const Entry* theSmall = entry(*theDir, "CN=Small,DC=y");
    ASSERT_NE(theSmall, nullptr);
    std::vector<std::string> theSmallTexts;
    for (std::uint32_t curDn : theDir->members(*theSmall))
        theSmallTexts.emplace_back(theDir->dnText(curDn));
    EXPECT_EQ(theSmallTexts, (std::vector<std::string>{"CN=M5,DC=y", "CN=M3,DC=y", "CN=M1,DC=y"}));
}
