// A file read in several parts on threads gives the directory and the error
// lines one reader gives: generated exports with every kind of record the
// loader keeps, refuses or reports, loaded in 1 to 7 parts.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvel/platform/directory/ldif/ldif_input.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "tests/unit/platform/directory/dir_test_util.h"
#include "tests/unit/platform/directory/ldif/ldif_describe.h"

using namespace corvel::directory::ldif;

namespace
{

// An export of inRecords records drawn from inSeed: groups whose members
// name entries before and after them, entries that are never defined, other
// spellings of the same DN, repeated entries (also far apart, so in other
// parts, unless inRepeats is false), and records the loader refuses.
std::string generate(unsigned inSeed, int inRecords, bool inRepeats)
{
    std::mt19937 theRandom(inSeed);
    const auto pick = [&](int inCount)
    { return static_cast<int>(theRandom() % static_cast<unsigned>(inCount)); };
    const auto dn = [&](int inIndex)
    {
        switch (pick(6))
        {
        case 0:
            return "cn=e" + std::to_string(inIndex) + ",dc=P,dc=TEST"; // another case
        case 1:
            return "CN = e" + std::to_string(inIndex) + " , DC=p,DC=test"; // blanks
        default:
            return "CN=e" + std::to_string(inIndex) + ",DC=p,DC=test";
        }
    };
    std::string theText = pick(2) ? "version: 1\n\n" : "";
    theText += "dn: DC=p,DC=test\nobjectClass: domainDNS\n\n";
    for (int curRecord = 0; curRecord < inRecords; ++curRecord)
    {
        const int theIndex =
            inRepeats && pick(3) == 0 && curRecord > 0 ? pick(curRecord) : curRecord; // a repeat
        const std::string theEol = pick(8) == 0 ? "\r\n" : "\n";
        std::string theRecord = pick(6) == 0 ? "# e" + std::to_string(theIndex) + theEol : "";
        theRecord += "dn: " + dn(theIndex) + theEol;
        switch (pick(12))
        {
        case 0:
            theRecord += "this line has no colon" + theEol;
            break;
        case 1:
            theRecord += "cn:: QUJD RA==" + theEol;
            break;
        case 2:
            theRecord += "changetype: delete" + theEol;
            break;
        case 3:
            theRecord = "dn: not a dn" + theEol + "objectClass: user" + theEol;
            break;
        case 4:
            theRecord += "objectClass: group" + theEol + "-" + theEol;
            break;
        case 5:
            theRecord += "description:< file:///etc/hostname" + theEol;
            break;
        case 6:
            theRecord += "objectClass: user" + theEol + "member: " + dn(pick(inRecords)) + theEol;
            break;
        case 7:
            theRecord += "objectClass: user" + theEol + "objectSid:: AQUAAAAAAAUVAAAA" + theEol;
            break;
        default:
        {
            const bool theGroup = pick(2) == 0;
            theRecord += std::string("objectClass: ") + (theGroup ? "group" : "user") + theEol;
            theRecord += "sAMAccountName: e" + std::to_string(theIndex) + theEol;
            theRecord += "displ" + theEol + " ayName: E " + std::to_string(pick(50)) + theEol;
            theRecord +=
                "objectGUID:: " + std::string(pick(2) ? "AAECAwQFBgcICQoLDA0ODw==" : "AAEC") +
                theEol;
            for (int curMember = theGroup ? pick(5) : 0; curMember > 0; --curMember)
                theRecord += "member: " +
                             (pick(10) == 0 ? "CN=ghost" + std::to_string(pick(9)) + ",DC=p,DC=test"
                                            : dn(pick(inRecords))) +
                             theEol;
            if (pick(10) == 0)
                theRecord += "include: file:///etc/hostname" + theEol;
        }
        }
        theText += theRecord + theEol;
        for (int curBlank = pick(4) == 0 ? pick(3) : 0; curBlank > 0; --curBlank)
            theText += theEol;
    }
    return theText;
}

// The directory and every log line of a load in inParts parts.
std::string loadIn(const std::string& inPath, unsigned inParts)
{
    dirtest::LogCapture theLog;
    std::string theText = dirtest::describe(*loadDirectoryUncached(inPath, inParts));
    for (const dirtest::LogLine& curLine : dirtest::capturedLines())
        theText += std::to_string(curLine.itsLevel) + " " + curLine.itsText + "\n";
    return theText;
}

} // namespace

TEST(LdifParts, AnyNumberOfPartsGivesTheSameDirectoryAndLines)
{
    // With entries repeated, and without: then the first part's tables are
    // taken whole.
    for (unsigned curSeed = 1; curSeed <= 16; ++curSeed)
    {
        SCOPED_TRACE("seed " + std::to_string(curSeed));
        const bool theRepeats = curSeed <= 12;
        const std::string theText = generate(curSeed, 150, theRepeats);
        // Parts there are: the text has blank lines to cut at.
        ASSERT_EQ(splitAtBlankLines(theText, 7).size(), 7u);
        const std::string thePath = dirtest::writeFile("parts.ldif", theText);
        const std::string theWhole = loadIn(thePath, 1);
        ASSERT_EQ(theWhole.find("already defined") != std::string::npos,
                  theRepeats); // the cases are there
        ASSERT_NE(theWhole.find("names no entry"), std::string::npos);
        for (unsigned curParts : {2u, 3u, 7u})
            EXPECT_EQ(loadIn(thePath, curParts), theWhole) << curParts << " parts";
    }
}

TEST(LdifParts, CutsFollowBlankLinesOnly)
{
    const std::string theText = "dn: a\nx: 1\n\ndn: b\r\n\r\ndn: c\n folded\n\n\ndn: d\n";
    for (std::size_t curParts = 1; curParts <= 6; ++curParts)
    {
        const std::vector<std::size_t> theStarts = splitAtBlankLines(theText, curParts);
        ASSERT_FALSE(theStarts.empty());
        EXPECT_EQ(theStarts.front(), 0u);
        for (std::size_t curStart = 1; curStart < theStarts.size(); ++curStart)
        {
            EXPECT_GT(theStarts[curStart], theStarts[curStart - 1]);
            const std::string theBefore = theText.substr(0, theStarts[curStart]);
            EXPECT_TRUE(theBefore.ends_with("\n\n") || theBefore.ends_with("\n\r\n")) << theBefore;
        }
    }
}

TEST(LdifParts, RecordLineCountsEveryLineBeforeIt)
{
    // The record "dn: bad" is refused with the line it starts on, whatever
    // the reader dropped before it and however the text ends, and nothing
    // else is reported.
    const struct
    {
        const char* itsText;
        unsigned itsLine;
    } theCases[] = {
        {"dn: bad\n", 1},
        {"dn: bad", 1},
        {"\n\ndn: bad\nx: 1", 3},
        {"# dropped\n\ndn: bad\nx: 1\n", 3},
        {"# dropped\n folded\n\n\ndn: bad\n\n", 5},
        {"# kept\ndn: bad\n", 2},
        {"version: 1\ndn: bad\n", 2},
        {"dn: DC=a\nx: 1\n\r\n# dropped\r\n\r\ndn: bad\r\nx: 1\r\n", 6},
        {"\n\ndn: bad\n\n\n", 3},
        {"# dropped\n\n7\n\ndn: bad\n", 5}, // the reader hands the dropped comment back: no record
    };
    for (const auto& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsText);
        dirtest::LogCapture theLog;
        const std::string thePath = dirtest::writeFile("lines.ldif", curCase.itsText);
        loadDirectoryUncached(thePath, 1);
        EXPECT_EQ(theLog.errorsWith({"line " + std::to_string(curCase.itsLine) +
                                     ": \"bad\" is not a distinguished name"}),
                  1u);
        EXPECT_EQ(theLog.errorCount(), 1u);
    }
}
