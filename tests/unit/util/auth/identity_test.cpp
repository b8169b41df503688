// The current account and account lookup by name.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "auth_support.h"
#include "corvel/testing/platform_hooks.h"
#include "corvel/platform/os_identity.h"
#include "corvel/util/qzauthenticator.h"

namespace
{

// The passwd name of a uid, read independently of the code under test.
std::string passwdName(uid_t inUid)
{
    passwd* theEntry = ::getpwuid(inUid);
    return theEntry != nullptr ? std::string(theEntry->pw_name) : std::string();
}

// Runs inBody on a new thread whose effective uid alone is changed to inUid
// with the raw system call (glibc's seteuid would change every thread).
template <typename Body>
bool onThreadAs(uid_t inUid, Body inBody)
{
    bool theChanged = false;
    std::thread theThread(
        [&]
        {
            if (::syscall(SYS_setresuid, -1, inUid, -1) != 0)
                return;
            theChanged = true;
            inBody();
            ::syscall(SYS_setresuid, -1, 0, -1);
        });
    theThread.join();
    return theChanged;
}

} // namespace

TEST(CurrentAccount, IsTheEffectiveUidAsAUnixUser)
{
    const uid_t theUid = ::geteuid();
    std::string theName, theDomain, theSid;
    ASSERT_TRUE(qzAuthenticator::getCurrentUserInfo(theName, theDomain, theSid));
    EXPECT_EQ(theName, passwdName(theUid));
    EXPECT_EQ(theDomain, "Unix User");
    EXPECT_EQ(theSid, "S-1-22-1-" + std::to_string(theUid));

    std::string theAccount, theSid2;
    ASSERT_TRUE(qzAuthenticator::getCurrentUser(theAccount, theSid2));
    EXPECT_EQ(theAccount, "Unix User\\" + passwdName(theUid));
    EXPECT_EQ(theSid2, theSid);
}

TEST(CurrentAccount, TooSmallBufferIsGrownOnceAndTheRecordReturnedWhole)
{
    std::string theName, theDomain, theSid;
    ASSERT_TRUE(corvel::platform::currentAccountWithBuffer(4, theName, theDomain, theSid));
    EXPECT_EQ(theName, passwdName(::geteuid()));
    EXPECT_EQ(theSid, "S-1-22-1-" + std::to_string(::geteuid()));

    std::string theLookedUpSid, theLookedUpDomain;
    ASSERT_TRUE(corvel::platform::lookupAccountSidWithBuffer(4, passwdName(::geteuid()),
                                                             theLookedUpSid, theLookedUpDomain));
    EXPECT_EQ(theLookedUpSid, theSid);
}

TEST(CurrentAccount, IsPerThreadAfterARawEffectiveUidChange)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change a thread's effective uid";
    passwd* theNobody = ::getpwnam("nobody");
    if (theNobody == nullptr)
        GTEST_SKIP() << "no account nobody";
    const uid_t theNobodyUid = theNobody->pw_uid;

    std::string theThreadAccount, theThreadSid;
    bool theThreadResult = false;
    ASSERT_TRUE(onThreadAs(
        theNobodyUid, [&]
        { theThreadResult = qzAuthenticator::getCurrentUser(theThreadAccount, theThreadSid); }));
    ASSERT_TRUE(theThreadResult);
    EXPECT_EQ(theThreadAccount, "Unix User\\nobody");
    EXPECT_EQ(theThreadSid, "S-1-22-1-" + std::to_string(theNobodyUid));

    // The main thread kept its own account.
    std::string theAccount, theSid;
    ASSERT_TRUE(qzAuthenticator::getCurrentUser(theAccount, theSid));
    EXPECT_EQ(theSid, "S-1-22-1-0");
}

TEST(CurrentAccount, UidWithoutAccountFailsAndLeavesOutStringsAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change a thread's effective uid";
    const uid_t theUnknown = 54321;
    if (::getpwuid(theUnknown) != nullptr)
        GTEST_SKIP() << "uid 54321 has an account here";

    bool theInfo = true, theUser = true;
    std::string theName = "n", theDomain = "d", theSid = "s", theAccount = "a";
    ASSERT_TRUE(onThreadAs(theUnknown,
                           [&]
                           {
                               theInfo =
                                   qzAuthenticator::getCurrentUserInfo(theName, theDomain, theSid);
                               theUser = qzAuthenticator::getCurrentUser(theAccount, theSid);
                           }));
    EXPECT_FALSE(theInfo);
    EXPECT_FALSE(theUser);
    EXPECT_EQ(theName, "n");
    EXPECT_EQ(theDomain, "d");
    EXPECT_EQ(theSid, "s");
    EXPECT_EQ(theAccount, "a");
}

TEST(CurrentAccount, OverrideStandsInForTheAccountAndEmptyDomainGivesLeadingBackslash)
{
    {
        authtest::ActAs theAlice("alice", "CORP", "S-1-5-21-1-2-3-1104");
        std::string theAccount, theSid;
        ASSERT_TRUE(qzAuthenticator::getCurrentUser(theAccount, theSid));
        EXPECT_EQ(theAccount, "CORP\\alice");
        EXPECT_EQ(theSid, "S-1-5-21-1-2-3-1104");
    }
    {
        authtest::ActAs theLocal("svc", "", "S-1-5-18");
        std::string theAccount, theSid;
        ASSERT_TRUE(qzAuthenticator::getCurrentUser(theAccount, theSid));
        EXPECT_EQ(theAccount, "\\svc");
    }
    // Cleared: the real account again.
    std::string theName, theDomain, theSid;
    ASSERT_TRUE(qzAuthenticator::getCurrentUserInfo(theName, theDomain, theSid));
    EXPECT_EQ(theSid, "S-1-22-1-" + std::to_string(::geteuid()));
}

TEST(AccountSid, LocalAccountsByBareAndUnixUserQualifiedName)
{
    const std::string theName = passwdName(0);
    ASSERT_FALSE(theName.empty());
    for (const std::string& curName : {theName, "Unix User\\" + theName, "unix user\\" + theName})
    {
        std::string theSid, theDomain;
        ASSERT_TRUE(qzAuthenticator::getAccountSid(curName, theSid, theDomain)) << curName;
        EXPECT_EQ(theSid, "S-1-22-1-0") << curName;
        EXPECT_EQ(theDomain, "Unix User") << curName;
    }
}

TEST(AccountSid, UnresolvableNamesFailWithoutTouchingOutStrings)
{
    for (const std::string& curName :
         {std::string("no-such-account-qz"), std::string("OTHERDOM\\") + passwdName(0),
          std::string(""), std::string("Unix User\\")})
    {
        std::string theSid = "keep", theDomain = "keep";
        EXPECT_FALSE(qzAuthenticator::getAccountSid(curName, theSid, theDomain)) << curName;
        EXPECT_EQ(theSid, "keep");
        EXPECT_EQ(theDomain, "keep");
    }
}

TEST(AccountSid, OverrideAccountIsFoundBareAndQualified)
{
    authtest::ActAs theAlice("alice", "CORP", "S-1-5-21-1-2-3-1104");
    for (const char* curName : {"alice", "CORP\\alice", "corp\\alice"})
    {
        std::string theSid, theDomain;
        ASSERT_TRUE(qzAuthenticator::getAccountSid(curName, theSid, theDomain)) << curName;
        EXPECT_EQ(theSid, "S-1-5-21-1-2-3-1104");
        EXPECT_EQ(theDomain, "CORP");
    }
    std::string theSid, theDomain;
    EXPECT_FALSE(qzAuthenticator::getAccountSid("OTHER\\alice", theSid, theDomain));
}
