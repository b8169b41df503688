// isUserInGroup over an LDIF directory: opening the group, the descent in
// directory order, failures of the directory, loops, shared groups and very
// deep nesting.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "auth_support.h"
#include "tests/support/dir_faults.h"
#include "corvel/util/qzauthenticator.h"

using authtest::groupDN;
using authtest::personDN;
using corvel::directory::faults::FaultOp;
using corvel::directory::faults::injectFault;

namespace
{

std::string path(const std::string& inDN) { return "LDAP://" + inDN; }

std::string opening(const std::string& inEscapedDN)
{
    return "isUserInGroup: opening path: \"LDAP://" + inEscapedDN + "\"";
}
std::string checking(const std::string& inGroup, const std::string& inUser)
{
    return "_isUserInGroup: checking IsMember of group \"" + inGroup + "\" for user: \"" +
           path(inUser) + "\"";
}
std::string doneIsMember(const std::string& inUser)
{
    return "_isUserInGroup: done checking IsMember for user: \"" + path(inUser) + "\"";
}
std::string checkingMembers(const std::string& inUser)
{
    return "_isUserInGroup: checking members for user \"" + path(inUser) + "\"";
}
std::string doneMembers(const std::string& inUser)
{
    return "_isUserInGroup: done checking members for user \"" + path(inUser) + "\"";
}
std::string returning(bool inFound, const std::string& inGroup, const std::string& inUser)
{
    return std::string("_isUserInGroup: returning \"") + (inFound ? "true" : "false") +
           "\" when checking IsMember of group \"" + inGroup + "\" for user: \"" + path(inUser) +
           "\".";
}

// The four lines of a group that does not hold the user directly.
void descend(std::vector<std::string>& ioLines, const std::string& inGroup,
             const std::string& inUser)
{
    ioLines.push_back(checking(inGroup, inUser));
    ioLines.push_back(doneIsMember(inUser));
    ioLines.push_back(checkingMembers(inUser));
    ioLines.push_back(doneMembers(inUser));
}

std::size_t countOf(const std::vector<std::string>& inLines, const std::string& inLine)
{
    return static_cast<std::size_t>(std::count(inLines.begin(), inLines.end(), inLine));
}

} // namespace

TEST(IsUserInGroup, DirectMemberIsConfirmedByTheGroupItself)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::Capture theCapture;
    const std::string theAlice = personDN("Alice Test");
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("Engineering"), theAlice));
    const std::vector<std::string> theExpected = {
        opening(groupDN("Engineering")),
        checking("CN=Engineering", theAlice),
        doneIsMember(theAlice),
        checking("CN=Engineering", theAlice) + ", returning true",
    };
    EXPECT_EQ(theCapture.traces(), theExpected);
}

TEST(IsUserInGroup, ThreeLevelsDownEachLevelAsksFirstThenDescends)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    authtest::Capture theCapture;
    const std::string theCarol = personDN("Carol Test");
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("Level0"), theCarol));
    std::vector<std::string> theExpected = {opening(groupDN("Level0"))};
    descend(theExpected, "CN=Level0", theCarol);
    descend(theExpected, "CN=Level1", theCarol);
    descend(theExpected, "CN=Level2", theCarol);
    theExpected.push_back(checking("CN=Level3", theCarol));
    theExpected.push_back(doneIsMember(theCarol));
    theExpected.push_back(checking("CN=Level3", theCarol) + ", returning true");
    theExpected.push_back(returning(true, "CN=Level2", theCarol));
    theExpected.push_back(returning(true, "CN=Level1", theCarol));
    theExpected.push_back(returning(true, "CN=Level0", theCarol));
    EXPECT_EQ(theCapture.traces(), theExpected);
}

TEST(IsUserInGroup, NonMemberAndEmptyGroupEndOnFalse)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif() +
                                         authtest::groupLdif("Empty", "Empty", {}));
    const std::string theBob = personDN("Bob Test");
    {
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("Engineering"), theBob));
        EXPECT_EQ(theCapture.traces().back(), returning(false, "CN=Engineering", theBob));
    }
    {
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("Empty"), theBob));
        std::vector<std::string> theExpected = {opening(groupDN("Empty"))};
        descend(theExpected, "CN=Empty", theBob);
        theExpected.push_back(returning(false, "CN=Empty", theBob));
        EXPECT_EQ(theCapture.traces(), theExpected);
    }
}

TEST(IsUserInGroup, GroupThatCannotBeOpenedOnlyTracesTheOpening)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    const std::string theAlice = personDN("Alice Test");
    const std::vector<std::string> theGroups = {
        groupDN("NoSuchGroup"), // not in the directory
        personDN("Bob Test"),   // not a group
        groupDN("Staff"),       // access denied, below
    };
    injectFault(FaultOp::Open, groupDN("Staff"), corvel::directory::E_accessDenied);
    for (const std::string& curGroup : theGroups)
    {
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(curGroup, theAlice)) << curGroup;
        EXPECT_EQ(theCapture.traces(), std::vector<std::string>{opening(curGroup)}) << curGroup;
    }
}

TEST(IsUserInGroup, SlashIsEscapedInTheGroupPathAndTheUserPath)
{
    const std::string theDana = "CN=Dana/Ops,OU=People,DC=corp,DC=example,DC=test";
    authtest::LdifDirectory theDirectory(
        authtest::corpLdif() + "dn: " + theDana +
        "\nobjectClass: top\nobjectClass: user\nsAMAccountName: dana\n\n" +
        authtest::groupLdif("R/D Inner", "RnD Inner", {theDana}) +
        authtest::groupLdif("R/D Team", "RnD Team", {groupDN("R/D Inner")}));
    authtest::Capture theCapture;
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("R/D Team"), theDana));
    const std::string theEscapedUser = "CN=Dana\\2fOps,OU=People,DC=corp,DC=example,DC=test";
    const std::vector<std::string> theTraces = theCapture.traces();
    ASSERT_FALSE(theTraces.empty());
    EXPECT_EQ(theTraces.front(), opening("CN=R\\2fD Team,OU=Groups,DC=corp,DC=example,DC=test"));
    EXPECT_EQ(countOf(theTraces, checking("CN=R/D Inner", theEscapedUser) + ", returning true"),
              1u);
    for (const std::string& curLine : theTraces)
        EXPECT_EQ(curLine.find("Dana/Ops"), std::string::npos) << curLine;
}

TEST(IsUserInGroup, FailedIsMemberStillWalksTheMembers)
{
    const std::string theAlice = personDN("Alice Test");
    authtest::LdifDirectory theDirectory(
        authtest::corpLdif() +
        authtest::groupLdif("Direct", "Direct", {theAlice, groupDN("Engineering")}));
    injectFault(FaultOp::IsMember, groupDN("Direct"), corvel::directory::E_serverDown);
    authtest::Capture theCapture;
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("Direct"), theAlice));
    std::vector<std::string> theExpected = {opening(groupDN("Direct"))};
    descend(theExpected, "CN=Direct", theAlice);
    theExpected.push_back(checking("CN=Engineering", theAlice));
    theExpected.push_back(doneIsMember(theAlice));
    theExpected.push_back(checking("CN=Engineering", theAlice) + ", returning true");
    theExpected.push_back(returning(true, "CN=Direct", theAlice));
    EXPECT_EQ(theCapture.traces(), theExpected);
}

TEST(IsUserInGroup, MembersThatCannotBeReadCountAsFalseForThatGroup)
{
    const std::string theAlice = personDN("Alice Test");
    authtest::LdifDirectory theDirectory(
        authtest::corpLdif() +
        authtest::groupLdif("Outer", "Outer",
                            {groupDN("Staff"), groupDN("Sales"), groupDN("Engineering")}));
    {
        // Staff's member list fails; the walk goes on to Sales and Engineering.
        injectFault(FaultOp::Members, groupDN("Staff"), corvel::directory::E_accessDenied);
        authtest::Capture theCapture;
        EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("Outer"), theAlice));
        std::vector<std::string> theExpected = {opening(groupDN("Outer"))};
        descend(theExpected, "CN=Outer", theAlice);
        descend(theExpected, "CN=Staff", theAlice);
        theExpected.push_back(checking("CN=Staff", theAlice) +
                              ", returning false error enumering members");
        descend(theExpected, "CN=Sales", theAlice);
        theExpected.push_back(returning(false, "CN=Sales", theAlice));
        theExpected.push_back(checking("CN=Engineering", theAlice));
        theExpected.push_back(doneIsMember(theAlice));
        theExpected.push_back(checking("CN=Engineering", theAlice) + ", returning true");
        theExpected.push_back(returning(true, "CN=Outer", theAlice));
        EXPECT_EQ(theCapture.traces(), theExpected);
        corvel::directory::faults::clearFaults();
    }
    {
        // The top group's enumeration breaks at once: nothing below is asked.
        injectFault(FaultOp::Next, groupDN("Outer"), corvel::directory::E_serverDown);
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("Outer"), theAlice));
        std::vector<std::string> theExpected = {opening(groupDN("Outer"))};
        descend(theExpected, "CN=Outer", theAlice);
        theExpected.push_back(returning(false, "CN=Outer", theAlice));
        EXPECT_EQ(theCapture.traces(), theExpected);
    }
}

TEST(IsUserInGroup, LoopsEndWithEachGroupEnteredOnce)
{
    const std::string theCarol = personDN("Carol Test");
    const std::string theBob = personDN("Bob Test");
    authtest::LdifDirectory theDirectory(
        authtest::corpLdif() + authtest::groupLdif("LoopA", "LoopA", {groupDN("LoopB")}) +
        authtest::groupLdif("LoopB", "LoopB", {groupDN("LoopA"), groupDN("LoopC"), theCarol}) +
        authtest::groupLdif("LoopC", "LoopC", {groupDN("LoopB"), groupDN("LoopA")}));
    {
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("LoopA"), theBob));
        const std::vector<std::string> theTraces = theCapture.traces();
        for (const char* curGroup : {"CN=LoopA", "CN=LoopB", "CN=LoopC"})
            EXPECT_EQ(countOf(theTraces, checking(curGroup, theBob)), 1u) << curGroup;
        EXPECT_EQ(theTraces.back(), returning(false, "CN=LoopA", theBob));
    }
    {
        authtest::Capture theCapture;
        EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("LoopA"), theCarol));
        EXPECT_EQ(theCapture.traces().back(), returning(true, "CN=LoopA", theCarol));
    }
}

TEST(IsUserInGroup, SharedGroupsOfALatticeAreWalkedOnce)
{
    // Thirty levels of two groups, each holding both of the level below:
    // 2^30 paths through 60 groups.
    constexpr int theLevels = 30;
    std::string theText = authtest::corpLdif();
    auto theName = [](int inLevel, char inSide)
    {
        std::string theText = std::to_string(inLevel);
        theText.insert(theText.begin(), 'L');
        theText += inSide;
        return theText;
    };
    for (int curLevel = 0; curLevel < theLevels; ++curLevel)
    {
        std::vector<std::string> theBelow;
        if (curLevel + 1 < theLevels)
            theBelow = {groupDN(theName(curLevel + 1, 'a')), groupDN(theName(curLevel + 1, 'b'))};
        else
            theBelow = {personDN("Bob Test")};
        for (char curSide : {'a', 'b'})
            theText += authtest::groupLdif(theName(curLevel, curSide), theName(curLevel, curSide),
                                           curSide == 'b' && curLevel + 1 == theLevels
                                               ? std::vector<std::string>{personDN("Carol Test")}
                                               : theBelow);
    }
    authtest::LdifDirectory theDirectory(theText);
    const std::string theAlice = personDN("Alice Test");
    const std::string theCarol = personDN("Carol Test");
    {
        authtest::Capture theCapture;
        EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("L0a"), theAlice));
        const std::vector<std::string> theTraces = theCapture.traces();
        for (int curLevel = 1; curLevel < theLevels; ++curLevel)
            for (char curSide : {'a', 'b'})
                EXPECT_EQ(
                    countOf(theTraces, checking("CN=" + theName(curLevel, curSide), theAlice)), 1u);
    }
    {
        // Carol sits only in the last right-hand group.
        authtest::Capture theCapture;
        EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("L0a"), theCarol));
        const std::vector<std::string> theTraces = theCapture.traces();
        EXPECT_EQ(countOf(theTraces, checking("CN=" + theName(theLevels - 1, 'b'), theCarol) +
                                         ", returning true"),
                  1u);
        EXPECT_EQ(theTraces.back(), returning(true, "CN=L0a", theCarol));
    }
}

TEST(IsUserInGroup, ChainTenThousandDeepKeepsTheVerdictAndTheOrder)
{
    constexpr int theDepth = 10000;
    const std::string theCarol = personDN("Carol Test");
    std::string theText = authtest::corpLdif();
    for (int i = 0; i < theDepth; ++i)
    {
        const std::vector<std::string> theMembers =
            i + 1 < theDepth ? std::vector<std::string>{groupDN("Chain" + std::to_string(i + 1))}
                             : std::vector<std::string>{theCarol};
        theText += authtest::groupLdif("Chain" + std::to_string(i), "Chain" + std::to_string(i),
                                       theMembers);
    }
    authtest::LdifDirectory theDirectory(theText);
    authtest::Capture theCapture;
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("Chain0"), theCarol));
    const std::vector<std::string> theTraces = theCapture.traces();
    ASSERT_EQ(theTraces.size(), static_cast<std::size_t>(1 + 5 * (theDepth - 1) + 3));
    const std::size_t theBottom = 1 + 4 * (theDepth - 1) + 2;
    EXPECT_EQ(theTraces[theBottom],
              checking("CN=Chain" + std::to_string(theDepth - 1), theCarol) + ", returning true");
    // Innermost level first on the way back up.
    for (int i = 1; i < theDepth; ++i)
        ASSERT_EQ(theTraces[theBottom + static_cast<std::size_t>(i)],
                  returning(true, "CN=Chain" + std::to_string(theDepth - 1 - i), theCarol));

    theCapture.clear();
    EXPECT_FALSE(qzAuthenticator::isUserInGroup(groupDN("Chain0"), personDN("Bob Test")));
    EXPECT_EQ(theCapture.traces().back(), returning(false, "CN=Chain0", personDN("Bob Test")));
}

TEST(IsUserInGroup, PrimaryGroupsCountAsActiveDirectoryDefinesThem)
{
    // SIDs as text; the domain is S-1-5-21-1-2-3. dan's primary group is
    // PosixStaff (RID 1200), which, as in the directory, does not list him.
    const std::string theDomain = "S-1-5-21-1-2-3-";
    const auto theSid = [&](const char* inRid) { return "objectSid: " + theDomain + inRid + "\n"; };
    const std::string theFsp =
        "CN=S-1-5-11,CN=ForeignSecurityPrincipals,DC=corp,DC=example,DC=test";
    std::string theLdif = authtest::corpLdif();
    const auto theAccount = [&](const char* inCn, const char* inSam, const char* inRid,
                                const char* inPrimary, const char* inClass)
    {
        theLdif += "dn: " + personDN(inCn) + "\nobjectClass: " + inClass +
                   "\nsAMAccountName: " + inSam + "\n" + theSid(inRid) +
                   "primaryGroupID: " + inPrimary + "\n\n";
    };
    theAccount("Dan Test", "dan", "1105", "1200", "user");
    theAccount("Erin Test", "erin", "1106", "513", "user");
    theAccount("WS01", "WS01$", "1107", "515", "computer");
    theAccount("Nosid Test", "nosid", "1108", "513", "user");
    theLdif.replace(theLdif.find(theSid("1108")), theSid("1108").size(), "");
    const auto theGroup = [&](const char* inCn, const std::string& inSidLine,
                              const std::vector<std::string>& inMembers)
    {
        std::string theText = authtest::groupLdif(inCn, inCn, inMembers);
        theLdif += theText.insert(theText.size() - 1, inSidLine);
    };
    theGroup("Domain Users", theSid("513"), {});
    theGroup("Domain Computers", theSid("515"), {});
    theGroup("PosixStaff", theSid("1200"), {});
    theGroup("Parent", theSid("1201"), {groupDN("PosixStaff")});
    theGroup("Grand", theSid("1202"), {groupDN("Parent")});
    // The builtin Users group of every domain: Domain Users and well-known
    // principals, which are no users and no groups.
    theGroup("Users", "objectSid: S-1-5-32-545\n",
             {theFsp, groupDN("Domain Users"), personDN("Vendor Contact")});
    theLdif +=
        "dn: CN=ForeignSecurityPrincipals,DC=corp,DC=example,DC=test\nobjectClass: container\n\n"
        "dn: " +
        theFsp +
        "\nobjectClass: foreignSecurityPrincipal\nobjectSid: S-1-5-11\n\n"
        "dn: " +
        personDN("Vendor Contact") + "\nobjectClass: contact\n\n";
    authtest::LdifDirectory theDirectory(theLdif);

    struct Case
    {
        const char* itsUser;
        const char* itsGroup;
        bool itsMember;
    };
    const Case theCases[] = {
        {"Dan Test", "PosixStaff", true},      {"Dan Test", "Grand", true},
        {"Dan Test", "Domain Users", false},   {"Erin Test", "Domain Users", true},
        {"Erin Test", "Users", true},          {"Erin Test", "PosixStaff", false},
        {"WS01", "Domain Computers", true},    {"WS01", "Domain Users", false},
        {"Nosid Test", "Domain Users", false}, {"Alice Test", "Users", false},
    };
    for (const Case& curCase : theCases)
        EXPECT_EQ(
            qzAuthenticator::isUserInGroup(groupDN(curCase.itsGroup), personDN(curCase.itsUser)),
            curCase.itsMember)
            << curCase.itsUser << " in " << curCase.itsGroup;

    // The primary group answers the direct question itself, in the usual lines.
    authtest::Capture theCapture;
    EXPECT_TRUE(qzAuthenticator::isUserInGroup(groupDN("PosixStaff"), personDN("Dan Test")));
    EXPECT_EQ(countOf(theCapture.traces(),
                      checking("CN=PosixStaff", personDN("Dan Test")) + ", returning true"),
              1u);
}
