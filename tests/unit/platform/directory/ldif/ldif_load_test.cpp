// Loading LDIF: the forms Active Directory exports, and bad input.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory;
using namespace corvel::directory::ldif;

namespace
{

const Entry* entry(const Directory& inDir, const std::string& inDN)
{
    return inDir.entryOfDn(inDir.findDn(inDN));
}

std::vector<std::string> texts(const Directory& inDir, std::span<const std::uint32_t> inDns)
{
    std::vector<std::string> theTexts;
    for (std::uint32_t curDn : inDns)
        theTexts.emplace_back(inDir.dnText(curDn));
    return theTexts;
}

const std::string theCorp = "DC=corp,DC=example,DC=test";

} // namespace

TEST(LdifLoad, SampleDirectoryAsExported)
{
    dirtest::LogCapture theLog;
    auto theDir = loadDirectory(dirtest::corpPath());
    ASSERT_TRUE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorCount(), 0u);

    const Entry* theAlice = entry(*theDir, "CN=Alice Anders,OU=Users," + theCorp);
    ASSERT_NE(theAlice, nullptr);
    EXPECT_TRUE(theAlice->is(Class_User));
    EXPECT_FALSE(theAlice->is(Class_Group));
    ASSERT_NE(theDir->firstValue(*theAlice, Attr_objectSid), nullptr);
    EXPECT_EQ(*theDir->firstValue(*theAlice, Attr_objectSid),
              "S-1-5-21-1004336348-1177238915-682003330-1104");
    ASSERT_NE(theDir->firstValue(*theAlice, Attr_objectGUID), nullptr);
    EXPECT_EQ(*theDir->firstValue(*theAlice, Attr_objectGUID),
              "{6B29FC40-CA47-1067-B31D-00DD01066207}");
    // objectCategory is folded over two lines in the file.
    const std::string_view* theCategory =
        theDir->firstValue(*theAlice, theDir->findAttr("objectCategory"));
    ASSERT_NE(theCategory, nullptr);
    EXPECT_EQ(*theCategory, "CN=Person,CN=Schema,CN=Configuration," + theCorp);

    ASSERT_EQ(theDir->itsDomains.size(), 1u);
    EXPECT_EQ(theDir->itsDomains[0].itsNetbios, "CORP");
    EXPECT_EQ(theDir->itsDomains[0].itsDnsRoot, "corp.example.test");
    EXPECT_EQ(theAlice->itsDomain, 0u);

    const Entry* theGroup = entry(*theDir, "CN=Sales/Marketing,OU=Groups," + theCorp);
    ASSERT_NE(theGroup, nullptr);
    EXPECT_TRUE(theGroup->is(Class_Group));
    EXPECT_EQ(theDir->rdnText(*theGroup), "CN=Sales/Marketing");
    EXPECT_EQ(texts(*theDir, theDir->members(*theGroup)),
              (std::vector<std::string>{"CN=Dave Davis,OU=Users," + theCorp,
                                        "CN=Smith\\, John,OU=Users," + theCorp}));

    const Entry* theComputer = entry(*theDir, "CN=WS01,CN=Computers," + theCorp);
    ASSERT_NE(theComputer, nullptr);
    EXPECT_TRUE(theComputer->is(Class_Computer));
    EXPECT_TRUE(theComputer->is(Class_User));
}

TEST(LdifLoad, MemberOfIsDerivedInGroupFileOrder)
{
    dirtest::LogCapture theLog;
    auto theDir = loadDirectory(dirtest::corpPath());
    const Entry* theDave = entry(*theDir, "CN=Dave Davis,OU=Users," + theCorp);
    ASSERT_NE(theDave, nullptr);
    EXPECT_EQ(texts(*theDir, theDir->memberOf(*theDave)),
              (std::vector<std::string>{"CN=Staff,OU=Groups," + theCorp,
                                        "CN=Sales/Marketing,OU=Groups," + theCorp}));
    const Entry* theAlice = entry(*theDir, "CN=Alice Anders,OU=Users," + theCorp);
    EXPECT_EQ(texts(*theDir, theDir->memberOf(*theAlice)),
              (std::vector<std::string>{"CN=Developers,OU=Groups," + theCorp,
                                        "CN=Staff,OU=Regional,OU=Groups," + theCorp}));
    const Entry* theFrank = entry(*theDir, "CN=Frank Ford,OU=Users," + theCorp);
    EXPECT_TRUE(theDir->memberOf(*theFrank).empty());
    const Entry* theLoopA = entry(*theDir, "CN=LoopA,OU=Groups," + theCorp);
    EXPECT_EQ(texts(*theDir, theDir->memberOf(*theLoopA)),
              (std::vector<std::string>{"CN=LoopB,OU=Groups," + theCorp}));
}

TEST(LdifLoad, CaseInsensitiveNamesAndDomainsWithoutCrossRef)
{
    dirtest::LogCapture theLog;
    auto theDir = loadDirectory(dirtest::sourcePath("tests/fixtures/two_domains.ldif"));
    ASSERT_TRUE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorCount(), 0u);

    const Entry* theAlice = entry(*theDir, "cn=ALICE ANDERS,ou=people,dc=Corp,dc=Example,dc=Test");
    ASSERT_NE(theAlice, nullptr);
    EXPECT_TRUE(theAlice->is(Class_User));                                  // "objectClass: USER"
    ASSERT_NE(theDir->firstValue(*theAlice, Attr_sAMAccountName), nullptr); // "SAMACCOUNTNAME:"
    EXPECT_EQ(*theDir->firstValue(*theAlice, Attr_sAMAccountName), "alice");

    // Member values in another spelling still name the entry; the memberOf
    // line in the file is not taken.
    const Entry* theTeam = entry(*theDir, "CN=Team,OU=People," + theCorp);
    ASSERT_NE(theTeam, nullptr);
    EXPECT_EQ(texts(*theDir, theDir->memberOf(*theAlice)),
              (std::vector<std::string>{"cn=Team,ou=people,dc=CORP,dc=example,dc=test"}));
    EXPECT_EQ(theDir->findAttr("memberOf"), NoIndex);

    // A base64 DN and a folded, hex-escaped member value name the same entry.
    const Entry* theZoe = entry(*theDir, "CN=Zo\xC3\xAB Zeta,OU=People,DC=emea," + theCorp);
    ASSERT_NE(theZoe, nullptr);
    EXPECT_EQ(theDir->memberOf(*theZoe).size(), 1u);

    ASSERT_EQ(theDir->itsDomains.size(), 3u);
    std::uint32_t theEmea = theDir->findDomain("EUROPE");
    ASSERT_NE(theEmea, NoIndex);
    EXPECT_EQ(theDir->findDomain("emea.corp.example.test"), theEmea);
    EXPECT_EQ(theZoe->itsDomain, theEmea); // the longest suffix, not corp
    std::uint32_t theLab = theDir->findDomain("lab");
    ASSERT_NE(theLab, NoIndex);
    EXPECT_EQ(theDir->itsDomains[theLab].itsNetbios, "LAB");
    EXPECT_EQ(theDir->itsDomains[theLab].itsDnsRoot, "lab.test");
    EXPECT_EQ(theDir->findDomain("EMEA"), NoIndex); // the crossRef's NetBIOS name rules
}

TEST(LdifLoad, LdifdeStyleCrLfAndVersionInFirstRecord)
{
    dirtest::LogCapture theLog;
    // ldifde writes CRLF line ends; the version line may open the first
    // record; a base64 SID may be folded anywhere.
    std::string thePath =
        dirtest::writeFile("crlf.ldif", "version: 1\r\n"
                                        "dn: DC=w,DC=test\r\n"
                                        "changetype: add\r\n"
                                        "objectClass: domainDNS\r\n"
                                        "\r\n"
                                        "dn: CN=Win,DC=w,DC=test\r\n"
                                        "changetype: add\r\n"
                                        "objectClass: user\r\n"
                                        "objectSid:: AQUAAAAAAAUVAAAA3PTcO4M9K0aCi6Yo\r\n"
                                        " UAQAAA==\r\n"
                                        "sAMAccountName: win\r\n");
    auto theDir = loadDirectory(thePath);
    ASSERT_TRUE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorCount(), 0u);
    ASSERT_EQ(theDir->itsDomains.size(), 1u);
    EXPECT_EQ(theDir->itsDomains[0].itsNetbios, "W");
    const Entry* theUser = entry(*theDir, "CN=Win,DC=w,DC=test");
    ASSERT_NE(theUser, nullptr);
    ASSERT_NE(theDir->firstValue(*theUser, Attr_sAMAccountName), nullptr);
    EXPECT_EQ(*theDir->firstValue(*theUser, Attr_sAMAccountName),
              "win"); // no stray carriage return
    ASSERT_NE(theDir->firstValue(*theUser, Attr_objectSid), nullptr);
    EXPECT_EQ(*theDir->firstValue(*theUser, Attr_objectSid),
              "S-1-5-21-1004336348-1177238915-682003330-1104");
}

// The encodings Windows tools write: a byte order mark must not spoil the
// first record, and UTF-16 (ldifde -u, PowerShell 5's redirection) reads as
// the same directory, characters beyond the BMP included.
TEST(LdifLoad, ByteOrderMarksAndUtf16)
{
    const std::u16string theText = u"dn: CN=Zo\u00eb \U0001D11E,DC=w,DC=test\r\n"
                                   u"objectClass: user\r\n"
                                   u"sAMAccountName: zo\u00eb\r\n";
    const auto utf16 = [&](bool inBigEndian, bool inMark)
    {
        std::string theBytes = inMark ? (inBigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char16_t curUnit : theText)
        {
            const char theHigh = static_cast<char>(curUnit >> 8);
            const char theLow = static_cast<char>(curUnit & 0xFF);
            theBytes += inBigEndian ? theHigh : theLow;
            theBytes += inBigEndian ? theLow : theHigh;
        }
        return theBytes;
    };
    const std::string theUtf8 = "dn: CN=Zo\u00eb \U0001D11E,DC=w,DC=test\r\n"
                                "objectClass: user\r\nsAMAccountName: zo\u00eb\r\n";
    const struct
    {
        const char* itsName;
        std::string itsBytes;
        const char* itsError; // nullptr: loads
    } theCases[] = {
        {"utf8-bom", "\xEF\xBB\xBF" + theUtf8, nullptr},
        {"utf16le-bom", utf16(false, true), nullptr},
        {"utf16be-bom", utf16(true, true), nullptr},
        {"utf16le", utf16(false, false), nullptr},
        {"utf16be", utf16(true, false), nullptr},
        {"utf16-odd", utf16(false, true) + "x", "odd number of bytes"},
        {"utf16-lone-surrogate", utf16(false, true) + std::string("\0\xD8", 2), "line 4: unpaired"},
        {"utf16-nul", utf16(false, true) + std::string("\0\0", 2), "line 4: NUL"},
    };
    for (const auto& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsName);
        dirtest::LogCapture theLog;
        const std::string thePath =
            dirtest::writeFile(std::string(curCase.itsName) + ".ldf", curCase.itsBytes);
        auto theDir = loadDirectoryUncached(thePath, 0);
        if (curCase.itsError)
        {
            EXPECT_FALSE(theDir->itsLoaded);
            EXPECT_EQ(theLog.errorsWith({thePath, curCase.itsError}), 1u);
            continue;
        }
        ASSERT_TRUE(theDir->itsLoaded);
        EXPECT_EQ(theLog.errorCount(), 0u);
        const Entry* theUser = entry(*theDir, "CN=Zo\u00eb \U0001D11E,DC=w,DC=test");
        ASSERT_NE(theUser, nullptr);
        ASSERT_NE(theDir->firstValue(*theUser, Attr_sAMAccountName), nullptr);
        EXPECT_EQ(*theDir->firstValue(*theUser, Attr_sAMAccountName), "zo\u00eb");
    }
}

TEST(LdifLoad, SameUnchangedFileIsLoadedOnce)
{
    dirtest::LogCapture theLog;
    std::string thePath =
        dirtest::writeFile("cached.ldif", "dn: DC=a,DC=test\nobjectClass: domainDNS\n");
    auto theFirst = loadDirectory(thePath);
    auto theSecond = loadDirectory(thePath);
    EXPECT_EQ(theFirst.get(), theSecond.get());

    dirtest::writeFile(
        "cached.ldif",
        "dn: DC=a,DC=test\nobjectClass: domainDNS\n\ndn: CN=x,DC=a,DC=test\nobjectClass: user\n");
    auto theThird = loadDirectory(thePath);
    EXPECT_NE(theFirst.get(), theThird.get());
    EXPECT_NE(entry(*theThird, "CN=x,DC=a,DC=test"), nullptr);
    EXPECT_EQ(entry(*theFirst, "CN=x,DC=a,DC=test"), nullptr);
}

TEST(LdifLoadBadInput, MissingOrUnreadableFile)
{
    dirtest::LogCapture theLog;
    std::string thePath = (dirtest::scratchDir() / "no-such.ldif").string();
    auto theDir = loadDirectory(thePath);
    EXPECT_FALSE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorsWith({thePath, "cannot be read"}), 1u);

    auto theFolder = loadDirectory(dirtest::scratchDir().string());
    EXPECT_FALSE(theFolder->itsLoaded);

    // A FIFO would block a plain open until someone writes to it.
    std::string theFifo = (dirtest::scratchDir() / "fifo.ldif").string();
    ASSERT_EQ(::mkfifo(theFifo.c_str(), 0600), 0);
    auto theFromFifo = loadDirectory(theFifo);
    EXPECT_FALSE(theFromFifo->itsLoaded);
    EXPECT_EQ(theLog.errorsWith({theFifo, "not a regular file"}), 1u);

    std::string theBinary = dirtest::writeFile(
        "nul.ldif", std::string("dn: DC=a,DC=test\nobjectClass: dom\0ainDNS\n", 41));
    auto theNul = loadDirectory(theBinary);
    EXPECT_FALSE(theNul->itsLoaded);
    EXPECT_EQ(theLog.errorsWith({theBinary, "line 2", "NUL"}), 1u);

    // Through the service: translator init fails cleanly after the error line.
    auto theService = makeLdifService(thePath);
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    EXPECT_EQ(theTranslator->init(InitType_GC, ""), E_noSuchDomain);
    std::unique_ptr<DirObject> theObject;
    EXPECT_EQ(theService->openObject("LDAP://DC=a,DC=test", nullptr, ObjectKind::Object, theObject),
              E_noSuchDomain);
}

TEST(LdifLoadBadInput, BadRecordsAreSkippedWithTheirLine)
{
    dirtest::LogCapture theLog;
    std::string thePath = dirtest::writeFile("bad.ldif",
                                             "dn: DC=bad,DC=test\n"               // 1
                                             "objectClass: domainDNS\n"           // 2
                                             "\n"                                 // 3
                                             "dn: CN=G,DC=bad,DC=test\n"          // 4
                                             "objectClass: group\n"               // 5
                                             "member: CN=Nobody,DC=bad,DC=test\n" // 6
                                             "member: CN=U,DC=bad,DC=test\n"      // 7
                                             "\n"                                 // 8
                                             "\n"                                 // 9
                                             "dn: CN=U,DC=bad,DC=test\n"          // 10
                                             "objectClass: user\n"                // 11
                                             "sAMAccountName: first\n"            // 12
                                             "\n"                                 // 13
                                             "# the same entry again\n"           // 14
                                             "dn: cn=u,dc=BAD,dc=test\n"          // 15
                                             "objectClass: user\n"                // 16
                                             "sAMAccountName: second\n"           // 17
                                             "\n"                                 // 18
                                             "dn: CN=Broken,DC=bad,DC=test\n"     // 19
                                             "this line has no colon\n"           // 20
                                             "\n"                                 // 21
                                             "dn: not a dn\n"                     // 22
                                             "objectClass: user\n"                // 23
                                             "\n"                                 // 24
                                             "dn: CN=Change,DC=bad,DC=test\n"     // 25
                                             "changetype: delete\n"               // 26
                                             "\n"                                 // 27
                                             "dn: CN=After,DC=bad,DC=test\n"      // 28
                                             "objectClass: group\n"               // 29
                                             "member: CN=U,DC=bad,DC=test\n");    // 30
    auto theDir = loadDirectory(thePath);
    ASSERT_TRUE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 4", "CN=Nobody,DC=bad,DC=test", "names no entry"}),
              1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 15", "already defined at line 10"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 19", "malformed"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 22", "not a distinguished name"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 25"}), 1u);
    EXPECT_EQ(theLog.errorCount(), 5u);

    // The first of two entries is kept; records after the bad ones load.
    const Entry* theUser = entry(*theDir, "CN=U,DC=bad,DC=test");
    ASSERT_NE(theUser, nullptr);
    EXPECT_EQ(*theDir->firstValue(*theUser, Attr_sAMAccountName), "first");
    EXPECT_EQ(texts(*theDir, theDir->memberOf(*theUser)),
              (std::vector<std::string>{"CN=G,DC=bad,DC=test", "CN=After,DC=bad,DC=test"}));
    EXPECT_EQ(entry(*theDir, "CN=Broken,DC=bad,DC=test"), nullptr);
    EXPECT_EQ(entry(*theDir, "CN=Change,DC=bad,DC=test"), nullptr);
    // The dangling member stays a member value.
    const Entry* theGroup = entry(*theDir, "CN=G,DC=bad,DC=test");
    ASSERT_NE(theGroup, nullptr);
    EXPECT_EQ(theDir->members(*theGroup).size(), 2u);
}

TEST(LdifLoadBadInput, NeverReadsOtherFiles)
{
    dirtest::LogCapture theLog;
    std::string theSecret = dirtest::writeFile("secret.txt", "top secret");
    std::string theIncluded =
        dirtest::writeFile("included.ldif", "dn: CN=Included,DC=u,DC=test\nobjectClass: user\n");
    std::string thePath = dirtest::writeFile("urls.ldif",
                                             "dn: DC=u,DC=test\n"       // 1
                                             "objectClass: domainDNS\n" // 2
                                             "\n"                       // 3
                                             "dn: CN=V,DC=u,DC=test\n"  // 4
                                             "objectClass: user\n"      // 5
                                             "description:< file://" +
                                                 theSecret +
                                                 "\n"         // 6
                                                 "displ\n"    // 7
                                                 " ayName:\n" // 8
                                                 " < file://" +
                                                 theSecret +
                                                 "\n"                  // 9
                                                 "sAMAccountName: v\n" // 10
                                                 "\n"                  // 11
                                                 "include: file://" +
                                                 theIncluded +
                                                 "\n"                      // 12
                                                 "\n"                      // 13
                                                 "dn: CN=W,DC=u,DC=test\n" // 14
                                                 "objectClass: user\n");   // 15
    auto theDir = loadDirectory(thePath);
    ASSERT_TRUE(theDir->itsLoaded);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 6", "description", "refused"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 7", "displayName", "refused"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "line 12", "include", "refused"}), 1u);
    EXPECT_FALSE(theLog.anyLineContains("top secret"));

    const Entry* theUser = entry(*theDir, "CN=V,DC=u,DC=test");
    ASSERT_NE(theUser, nullptr);
    EXPECT_EQ(theDir->firstValue(*theUser, theDir->findAttr("description")), nullptr);
    EXPECT_EQ(theDir->firstValue(*theUser, Attr_displayName), nullptr);
    ASSERT_NE(theDir->firstValue(*theUser, Attr_sAMAccountName), nullptr);
    EXPECT_EQ(entry(*theDir, "CN=Included,DC=u,DC=test"), nullptr);
    EXPECT_NE(entry(*theDir, "CN=W,DC=u,DC=test"), nullptr);
}

TEST(LdifLoadBadInput, BinaryValuesThatAreNoSidOrGuid)
{
    dirtest::LogCapture theLog;
    std::string thePath =
        dirtest::writeFile("badsid.ldif",
                           "dn: DC=s,DC=test\n"
                           "objectClass: domainDNS\n"
                           "\n"
                           "dn: CN=S,DC=s,DC=test\n"
                           "objectClass: user\n"
                           "objectSid:: AQUAAAAAAAUVAAAA\n" // count 5, no sub-authorities
                           "objectGUID:: AAEC\n");
    auto theDir = loadDirectory(thePath);
    const Entry* theUser = entry(*theDir, "CN=S,DC=s,DC=test");
    ASSERT_NE(theUser, nullptr);
    EXPECT_EQ(theDir->firstValue(*theUser, Attr_objectSid), nullptr);
    EXPECT_EQ(theDir->firstValue(*theUser, Attr_objectGUID), nullptr);
    EXPECT_EQ(theLog.errorsWith({thePath, "objectSid"}), 1u);
    EXPECT_EQ(theLog.errorsWith({thePath, "objectGUID"}), 1u);
}
