// SID and GUID text, and the primary group rule, as every backend uses them.
#include "corvel/platform/directory/names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvel::directory;

namespace
{

std::string bytes(std::initializer_list<unsigned> inValues)
{
    std::string theBytes;
    for (unsigned curValue : inValues)
        theBytes += static_cast<char>(curValue);
    return theBytes;
}

} // namespace

TEST(Sid, TextAndBytesAgreeBothWays)
{
    struct Case
    {
        std::string itsBytes;
        const char* itsText;
    };
    const std::vector<Case> theCases = {
        {bytes({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}), "S-1-5-32-544"},
        {bytes({1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}), "S-1-5-18"},
        {bytes({1, 0, 0, 0, 0, 0, 0, 1}), "S-1-1"},
        // Any revision, and an authority of 2^32 or more in hex.
        {bytes({2, 1, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0}), "S-2-5-1"},
        {bytes({1, 1, 0x01, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}),
         "S-1-0x010000000000-4294967295"},
        {bytes({1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "S-1-0xFFFFFFFFFFFF"},
        {bytes({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), "S-1-4294967295"},
        {bytes({1,    5,    0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xFF, 0xFF,
                0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7,  8, 0, 2, 0,    0}),
         "S-1-5-21-4294967295-67305985-134678021-512"},
    };
    for (const Case& curCase : theCases)
    {
        std::string theText;
        ASSERT_TRUE(names::sidToText(curCase.itsBytes, theText)) << curCase.itsText;
        EXPECT_EQ(theText, curCase.itsText);
        std::string theBytes;
        ASSERT_TRUE(names::sidFromText(curCase.itsText, theBytes)) << curCase.itsText;
        EXPECT_EQ(theBytes, curCase.itsBytes) << curCase.itsText;
    }
    // Other spellings read to the same SID and print one way.
    EXPECT_EQ(names::canonicalSid("s-1-0xffffffffffff"), "S-1-0xFFFFFFFFFFFF");
    EXPECT_EQ(names::canonicalSid("S-1-281474976710655"), "S-1-0xFFFFFFFFFFFF");
    EXPECT_TRUE(names::sameSid("s-1-5-32-544", "S-1-5-32-544"));
    EXPECT_FALSE(names::sameSid("S-1-5-32-544", "S-1-5-32-545"));
}

TEST(Sid, RefusesWhatIsNoSid)
{
    std::string theBytes = "untouched";
    for (const char* curText :
         {"", "S-1", "S-", "X-1-5", "S-1-5-", "S-1-5-21-", "S-1--5", "S-256-5",
          "S-1-281474976710656", "S-1-5-4294967296", "S-1-5-21x", "S-1-0x12", "S-1-0x0000000000001",
          "S-1-0xGG0000000000", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
    {
        EXPECT_FALSE(names::sidFromText(curText, theBytes)) << curText;
        EXPECT_EQ(theBytes, "untouched") << curText;
        EXPECT_EQ(names::canonicalSid(curText), "") << curText;
    }
    EXPECT_TRUE(names::sidFromText("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", theBytes));

    std::string theText = "untouched";
    const std::string theAdmins = bytes({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0});
    for (const std::string& curBytes :
         {std::string(), theAdmins.substr(0, 15), theAdmins + "x",
          bytes({1, 200, 0, 0, 0, 0, 0, 5}), bytes({1, 16, 0, 0, 0, 0, 0, 5})})
        EXPECT_FALSE(names::sidToText(curBytes, theText));
    EXPECT_EQ(theText, "untouched");
}

TEST(Guid, MixedByteOrderBothWays)
{
    const std::string theBytes = bytes({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99,
                                        0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
    std::string theText;
    ASSERT_TRUE(names::guidToText(theBytes, theText));
    EXPECT_EQ(theText, "{00112233-4455-6677-8899-AABBCCDDEEFF}");
    for (const char* curText :
         {"{00112233-4455-6677-8899-aabbccddeeff}", "00112233-4455-6677-8899-AABBCCDDEEFF"})
    {
        std::string theRead;
        ASSERT_TRUE(names::guidFromText(curText, theRead)) << curText;
        EXPECT_EQ(theRead, theBytes) << curText;
    }
    EXPECT_FALSE(names::guidToText(theBytes.substr(1), theText));
    std::string theRead;
    for (const char* curText :
         {"", "{00112233-4455-6677-8899-AABBCCDDEEFF", "00112233-4455-6677-8899-AABBCCDDEEF",
          "00112233-4455-6677-8899-AABBCCDDEEFG", "001122334-455-6677-8899-AABBCCDDEEFF",
          "{00112233_4455-6677-8899-AABBCCDDEEFF}", "(00112233-4455-6677-8899-AABBCCDDEEFF)"})
        EXPECT_FALSE(names::guidFromText(curText, theRead)) << curText;
}

TEST(PrimaryGroup, GroupSidIsTheDomainSidAndTheRid)
{
    struct Case
    {
        const char* itsObjectSid;
        const char* itsRid;
        const char* itsGroupSid; // null: no primary group can be named
    };
    const Case theCases[] = {
        {"S-1-5-21-1-2-3-1104", "513", "S-1-5-21-1-2-3-513"},
        {"s-1-5-21-1-2-3-1104", "1105", "S-1-5-21-1-2-3-1105"},
        {"S-1-5-21-1-2-3-1104", "4294967295", "S-1-5-21-1-2-3-4294967295"},
        {"S-1-5-21-1-2-3-1104", "4294967296", nullptr},
        {"S-1-5-21-1-2-3-1104", "", nullptr},
        {"S-1-5-21-1-2-3-1104", "51x", nullptr},
        {"S-1-5-21-1-2-3-1104", "-513", nullptr},
        {"S-1-5", "513", nullptr}, // no sub-authority to replace
        {"not a sid", "513", nullptr},
    };
    for (const Case& curCase : theCases)
    {
        std::string theGroup = "untouched";
        const bool theFound =
            names::primaryGroupSid(curCase.itsObjectSid, true, curCase.itsRid, theGroup);
        EXPECT_EQ(theFound, curCase.itsGroupSid != nullptr)
            << curCase.itsObjectSid << " " << curCase.itsRid;
        EXPECT_EQ(theGroup, curCase.itsGroupSid ? curCase.itsGroupSid : "untouched");
    }
    // The binary objectSid a live directory returns.
    std::string theBytes;
    ASSERT_TRUE(names::sidFromText("S-1-5-21-7-8-9-1200", theBytes));
    std::string theGroup;
    ASSERT_TRUE(names::primaryGroupSid(theBytes, false, "515", theGroup));
    EXPECT_EQ(theGroup, "S-1-5-21-7-8-9-515");
}

TEST(Names, FormsOfANameOfUnknownFormatInTheirOrder)
{
    using F = names::NameForm;
    struct Case
    {
        const char* itsName;
        std::vector<F> itsForms;
    };
    const std::vector<Case> theCases = {
        {"CN=Alice,DC=corp", {F::DistinguishedName, F::DisplayName}},
        {"CORP\\alice", {F::Nt4, F::DisplayName}},
        {"corp.example.test\\bob", {F::Nt4, F::DisplayName}},
        {"alice@corp.example.test", {F::UserPrincipalName, F::DisplayName}},
        // A display name holding '@' is still a display name.
        {"Ann @ Sales", {F::UserPrincipalName, F::DisplayName}},
        {"@home", {F::DisplayName}},
        {"corp.example.test/People/Alice", {F::Canonical, F::ServicePrincipalName, F::DisplayName}},
        {"corp.example.test/", {F::Canonical, F::ServicePrincipalName, F::DisplayName}},
        {"HTTP/web.corp.example.test", {F::Canonical, F::ServicePrincipalName, F::DisplayName}},
        {"S-1-5-21-1-2-3-500", {F::Sid, F::DisplayName}},
        {"S-1-x", {F::DisplayName}},
        {"{6B29FC40-CA47-1067-B31D-00DD010662DA}", {F::Guid, F::DisplayName}},
        {"Smith, John (R=D) \\ a/b@c",
         {F::DistinguishedName, F::Nt4, F::UserPrincipalName, F::Canonical, F::ServicePrincipalName,
          F::DisplayName}},
        {"Alice Test", {F::DisplayName}},
        {"", {}},
    };
    for (const Case& curCase : theCases)
        EXPECT_EQ(names::candidateForms(curCase.itsName), curCase.itsForms) << curCase.itsName;
}

TEST(Names, PartsOfCanonicalPrincipalAndNt4Names)
{
    std::vector<std::string> theParts;
    ASSERT_TRUE(names::splitCanonicalName("corp.example.test/People/Alice Test", theParts));
    EXPECT_EQ(theParts, (std::vector<std::string>{"corp.example.test", "People", "Alice Test"}));
    // "\/" and "\\" are escapes; another backslash is itself.
    ASSERT_TRUE(names::splitCanonicalName("corp.test/Sales\\/Marketing/x\\y/a\\\\b", theParts));
    EXPECT_EQ(theParts, (std::vector<std::string>{"corp.test", "Sales/Marketing", "x\\y", "a\\b"}));
    EXPECT_EQ(names::escapeCanonicalPart("a/b\\c"), "a\\/b\\\\c");
    ASSERT_TRUE(names::splitCanonicalName("corp.test/", theParts));
    EXPECT_EQ(theParts, (std::vector<std::string>{"corp.test", ""}));
    theParts = {"kept"};
    for (const char* curName :
         {"", "corp.test", "/People", "corp.test//x", "corp.test/x/", "a\\/b"})
    {
        EXPECT_FALSE(names::splitCanonicalName(curName, theParts)) << curName;
        EXPECT_EQ(theParts, std::vector<std::string>{"kept"}) << curName;
    }

    std::string theFirst;
    std::string theSecond;
    EXPECT_TRUE(names::splitPrincipalName("a@b@corp.test", theFirst, theSecond));
    EXPECT_EQ(theFirst + "|" + theSecond, "a@b|corp.test"); // at the last '@'
    for (const char* curName : {"@corp", "alice@", "alice"})
        EXPECT_FALSE(names::splitPrincipalName(curName, theFirst, theSecond)) << curName;
    EXPECT_TRUE(names::splitNt4Name("CORP\\a\\b", theFirst, theSecond));
    EXPECT_EQ(theFirst + "|" + theSecond, "CORP|a\\b"); // at the first backslash
    EXPECT_TRUE(names::splitNt4Name("CORP\\", theFirst, theSecond));
    EXPECT_EQ(theSecond, "");
}
