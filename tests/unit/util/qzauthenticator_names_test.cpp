// Splitting logon names, escaping DNs for LDAP paths, error texts.
#include <gtest/gtest.h>

#include <string>

#include "corvel/debug/qzerrors.h"
#include "corvel/util/qzauthenticator.h"

TEST(SplitUserName, LogonNameAndPrincipalName)
{
    struct Case
    {
        const char* itsName;
        const char* itsUser;
        const char* itsDomain;
    };
    const Case theCases[] = {
        {"CORP\\alice", "alice", "CORP"},
        {"alice@corp.example.test", "alice", "corp.example.test"},
        // The first backslash wins over any '@'.
        {"A\\B@C", "B@C", "A"},
        {"A\\B\\C", "B\\C", "A"},
        {"a@b@c", "a", "b@c"},
        {"\\alice", "alice", ""},
        {"alice@", "alice", ""},
        {"CORP\\", "", "CORP"},
    };
    for (const Case& curCase : theCases)
    {
        std::string theUser, theDomain;
        ASSERT_TRUE(qzAuthenticator::splitUserName(curCase.itsName, theUser, theDomain))
            << curCase.itsName;
        EXPECT_EQ(theUser, curCase.itsUser) << curCase.itsName;
        EXPECT_EQ(theDomain, curCase.itsDomain) << curCase.itsName;
    }
}

TEST(SplitUserName, DistinguishedAndBareNamesAreRefusedAndOutStringsKept)
{
    for (const char* curName : {"CN=x,DC=y", "CN=a\\,b@c,DC=y", "CORP\\a=b", "a=b@c", "alice", ""})
    {
        std::string theUser = "u", theDomain = "d";
        EXPECT_FALSE(qzAuthenticator::splitUserName(curName, theUser, theDomain)) << curName;
        EXPECT_EQ(theUser, "u");
        EXPECT_EQ(theDomain, "d");
    }
}

TEST(EscapeDN, EverySlashBecomesBackslash2f)
{
    EXPECT_EQ(qzAuthenticator::escapeDN("CN=A/B,OU=x/y/z,DC=c"), "CN=A\\2fB,OU=x\\2fy\\2fz,DC=c");
    EXPECT_EQ(qzAuthenticator::escapeDN("//"), "\\2f\\2f");
    EXPECT_EQ(qzAuthenticator::escapeDN("CN=a\\,b,DC=c"), "CN=a\\,b,DC=c");
    EXPECT_EQ(qzAuthenticator::escapeDN(""), "");
}

TEST(FormatErrorText, LowerCaseHexThenTheSystemText)
{
    EXPECT_EQ(qzAuthenticator::formatErrorText(0x80072116u),
              "[0x80072116] " + getOSErrorText(0x80072116u));
    EXPECT_EQ(qzAuthenticator::formatErrorText(0x8007202Bu).substr(0, 13), "[0x8007202b] ");
    EXPECT_EQ(qzAuthenticator::formatErrorText(0xABCDEFu).substr(0, 11), "[0xabcdef] ");
    // An errno value with a text: the text follows, no trailing line break.
    const std::string theText = qzAuthenticator::formatErrorText(2);
    EXPECT_EQ(theText.substr(0, 6), "[0x2] ");
    EXPECT_GT(theText.size(), 6u);
    EXPECT_EQ(theText.find('\n'), std::string::npos);
    // No text known: only the code.
    EXPECT_EQ(qzAuthenticator::formatErrorText(0x12345678u), "[0x12345678] ");
}
