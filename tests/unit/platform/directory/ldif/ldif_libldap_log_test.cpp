// libldap's complaints about a malformed export reach the information log,
// not standard error: what it prints through liblber is routed, and the
// record parser's own "invalid format" line, which it prints straight to
// standard error, is told by the loader in the same words instead.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <ldap.h>

#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "corvel/platform/directory/ldif/ldif_reader.h"
#include "corvel/platform/directory/libldap_log.h"
#include "tests/support/stderr_capture.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory;
using namespace corvel::directory::ldif;

TEST(LdifLibldapLog, MalformedExportIsReportedInTheLogOnly)
{
    dirtest::LogCapture theLog;
    const std::string thePath = dirtest::writeFile("malformed.ldif",
                                                   "dn: DC=m,DC=test\n"          // 1
                                                   "objectClass: domainDNS\n"    // 2
                                                   "\n"                          // 3
                                                   "dn: CN=B64,DC=m,DC=test\n"   // 4
                                                   "userPassword:: hunter2!\n"   // 5
                                                   "\n"                          // 6
                                                   "dn: CN=Colon,DC=m,DC=test\n" // 7
                                                   "this line has no colon\n"    // 8
                                                   "\n"                          // 9
                                                   "dn: CN=Good,DC=m,DC=test\n"  // 10
                                                   "objectClass: user\n");       // 11
    StderrCapture theStderr;
    auto theDir = loadDirectoryUncached(thePath, 1);
    EXPECT_EQ(theStderr.text(), "");
    EXPECT_NE(theDir->entryOfDn(theDir->findDn("CN=Good,DC=m,DC=test")), nullptr);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 4", "malformed record skipped"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 7", "malformed record skipped"}), 1u);
    EXPECT_TRUE(theLog.anyLineContains(
        "libldap: ldif: invalid format (line 5) entry: \"CN=B64,DC=m,DC=test\""));
    EXPECT_TRUE(theLog.anyLineContains(
        "libldap: ldif: invalid format (line 8) entry: \"CN=Colon,DC=m,DC=test\""));
    // The decoder's complaint, without the character it refused: the value
    // may be a password written with the wrong separator.
    EXPECT_TRUE(theLog.anyLineContains(
        "libldap: ldap_pvt_decode_b64_inplace: invalid base64 encoding char"));
    EXPECT_FALSE(theLog.anyLineContains("(!)"));
}

TEST(LdifLibldapLog, RefusedRecordIsWordedAsTheRecordParserWordsIt)
{
    routeLibldapDiagnostics();
    dirtest::LogCapture theLog;
    const char* const theRecords[] = {
        "dn: CN=x,DC=y\nno colon\n",
        "dn: CN=x,DC=y\r\nno colon\r\n",
        "no colon first\ndn: CN=x,DC=y\n",
        "dn: CN=x,DC=y\n# a comment\n  folded into it\ncn: x\nno colon\n",
        "dn: CN=x,DC=y\ncn:: QUJD\n RA==\nno colon\n",
        "dn: CN=x,DC=y\ncn:: QUJD RA==\n",
        "dn: CN=x,DC=y\ncn:: QUJDRA\n",
        "dn: CN=x,DC=y\ncn:: \n",
        "dn:: Q049eCxEQz15\ncn:: !\n",
        "dn:: !!\ncn: x\n",
    };
    for (const char* curRecord : theRecords)
    {
        SCOPED_TRACE(curRecord);
        // libldap's own answer and words, straight from its record parser.
        std::string theText(curRecord);
        struct berval theValue = {theText.size(), theText.data()};
        LDIFRecord theParsed{};
        StderrCapture theStderr;
        const int theRc = ldap_parse_ldif_record(&theValue, 7, &theParsed, "ldif",
                                                 LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS);
        ldap_ldif_record_done(&theParsed);
        std::string theWords = theStderr.text();
        ASSERT_NE(theRc, 0);
        ASSERT_FALSE(theWords.empty());
        theWords.pop_back(); // its newline

        std::string theOurs(curRecord);
        std::string theRefusal;
        ParsedRecord theRecord;
        EXPECT_FALSE(theRecord.parse(theOurs.data(), theOurs.size(), 7, true, theRefusal));
        EXPECT_EQ(theRefusal, theWords);
    }
    // A record whose lines all parse is left to the record parser.
    std::string theGood = "dn: CN=x,DC=y\ncn:: QUJDRA==\nsn: y\n";
    std::string theRefusal;
    ParsedRecord theRecord;
    EXPECT_TRUE(theRecord.parse(theGood.data(), theGood.size(), 1, true, theRefusal));
    EXPECT_EQ(theRefusal, "");
}
