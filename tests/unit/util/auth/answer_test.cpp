// Membership answers with their reasons: lookups that tell "not found" from
// "no answer", the path a walk finds, failures that never read as "not a
// member", and the walk memory answering as the live walk does.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "auth_support.h"
#include "corvel/util/qzauthenticator.h"

using authtest::groupDN;
using authtest::personDN;
using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::DirUser;
using corvel::directory::Status;
using Answer = qzAuthenticator::MembershipAnswer;

namespace
{

const std::string theSidPrefix = "S-1-5-21-1-2-3-";

// A user entry under OU=People with a SID and a primary group.
std::string accountLdif(const std::string& inCn, const std::string& inSam, int inRid,
                        int inPrimaryRid)
{
    return "dn: " + personDN(inCn) + "\nobjectClass: user\nsAMAccountName: " + inSam +
           "\nuserPrincipalName: " + inSam + "@corp.example.test\nobjectSid: " + theSidPrefix +
           std::to_string(inRid) + "\nprimaryGroupID: " + std::to_string(inPrimaryRid) + "\n\n";
}

std::string sidGroupLdif(const std::string& inCn, int inRid,
                         const std::vector<std::string>& inMembers)
{
    std::string theText = authtest::groupLdif(inCn, inCn, inMembers);
    return theText.insert(theText.size() - 1,
                          "objectSid: " + theSidPrefix + std::to_string(inRid) + "\n");
}

// The sample domain with a loop holding carol and a primary group chain:
// dan's primary group PosixStaff (RID 1200, which does not list him) sits in
// Parent, in Grand.
std::string pathsLdif()
{
    return authtest::corpLdif() + authtest::groupLdif("LoopA", "LoopA", {groupDN("LoopB")}) +
           authtest::groupLdif("LoopB", "LoopB", {groupDN("LoopA"), personDN("Carol Test")}) +
           accountLdif("Dan Test", "dan", 1105, 1200) + sidGroupLdif("PosixStaff", 1200, {}) +
           sidGroupLdif("Parent", 1201, {groupDN("PosixStaff")}) +
           sidGroupLdif("Grand", 1202, {groupDN("Parent")});
}

// --- a group tree in memory whose calls can fail ----------------------------

struct Node
{
    std::string itsName;
    bool itsIsGroup = true;
    std::vector<Node*> itsMembers;
    Status itsIsMemberFault = 0;
    Status itsMembersFault = 0;
    int itsNextFaultAt = -1;
    std::string dn() const { return itsName + ",DC=t"; }
};

class FakeGroup final : public DirGroup
{
public:
    explicit FakeGroup(Node& inNode) : itsNode(inNode) {}
    Status getName(std::string& outName) override
    {
        outName = itsNode.itsName;
        return 0;
    }
    Status get(const std::string&, std::string& outValue) override
    {
        outValue = itsNode.dn();
        return 0;
    }
    Status getEx(const std::string&, std::vector<std::string>&) override
    {
        return corvel::directory::E_propertyNotFound;
    }
    DirGroup* asGroup() override { return itsNode.itsIsGroup ? this : nullptr; }
    DirUser* asUser() override { return nullptr; }
    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        outIsMember = false;
        for (Node* curMember : itsNode.itsMembers)
            outIsMember = outIsMember || "LDAP://" + curMember->dn() == inPath;
        return itsNode.itsIsMemberFault;
    }
    Status members(std::unique_ptr<DirEnumerator>& outMembers) override;

private:
    Node& itsNode;
};

class FakeMembers final : public DirEnumerator
{
public:
    explicit FakeMembers(Node& inNode) : itsNode(inNode) {}
    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        if (itsIndex == itsNode.itsNextFaultAt)
            return corvel::directory::E_serverDown;
        if (itsIndex >= static_cast<int>(itsNode.itsMembers.size()))
            return corvel::directory::S_false;
        outObject = std::make_unique<FakeGroup>(*itsNode.itsMembers[itsIndex++]);
        return 0;
    }

private:
    Node& itsNode;
    int itsIndex = 0;
};

Status FakeGroup::members(std::unique_ptr<DirEnumerator>& outMembers)
{
    if (itsNode.itsMembersFault != 0)
        return itsNode.itsMembersFault;
    outMembers = std::make_unique<FakeMembers>(itsNode);
    return 0;
}

} // namespace

TEST(LookupObjectDN, TellsNotFoundFromADirectoryThatCannotAnswer)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    const authtest::ActAs theAccount("alice", "CORP", theSidPrefix + "1104");
    struct Case
    {
        std::string itsDirectory; // empty: the sample domain
        std::string itsName;
        bool itsIsGroup;
        qzAuthenticator::LookupResult itsResult;
        std::string itsDN;
    };
    const Case theCases[] = {
        {"", "alice@corp.example.test", false, qzAuthenticator::lookupFound,
         personDN("Alice Test")},
        {"", "CORP\\Staff", true, qzAuthenticator::lookupFound, groupDN("Staff")},
        {"", "Staff", true, qzAuthenticator::lookupFound, groupDN("Staff")}, // the domain retry
        {"", "nobody@corp.example.test", false, qzAuthenticator::lookupNotFound, ""},
        {"", "NOWHERE\\alice", false, qzAuthenticator::lookupNotFound, ""},
        {"", "NoSuchGroup", true, qzAuthenticator::lookupNotFound, ""},
        {"ldif:/nonexistent/dir.ldif", "alice@corp.example.test", false,
         qzAuthenticator::lookupFailed, ""},
        {"nothing-known", "CORP\\Staff", true, qzAuthenticator::lookupFailed, ""},
    };
    for (const Case& curCase : theCases)
    {
        // Another directory, as the configuration would name it, for this case.
        std::optional<corvel::directory::Session> theOther;
        if (!curCase.itsDirectory.empty())
        {
            ::setenv("CORVEL_DIRECTORY", curCase.itsDirectory.c_str(), 1);
            theOther.emplace(corvel::directory::openDirectoryService());
            ::unsetenv("CORVEL_DIRECTORY");
        }
        std::string theDN;
        Status theStatus = 0;
        EXPECT_EQ(
            qzAuthenticator::lookupObjectDN(curCase.itsName, theDN, curCase.itsIsGroup, theStatus),
            curCase.itsResult)
            << curCase.itsName << " in " << curCase.itsDirectory;
        EXPECT_EQ(theDN, curCase.itsDN) << curCase.itsName;
        EXPECT_EQ(theStatus == 0, curCase.itsResult == qzAuthenticator::lookupFound)
            << curCase.itsName;
        std::string theOldDN;
        EXPECT_EQ(qzAuthenticator::getObjectDN(curCase.itsName, theOldDN, curCase.itsIsGroup),
                  curCase.itsResult == qzAuthenticator::lookupFound);
    }
}

TEST(CheckMembership, PathRunsFromTheGroupDownToTheUserLiveAndFromMemory)
{
    authtest::LdifDirectory theDirectory(pathsLdif());
    struct Case
    {
        std::string itsGroup;
        std::string itsUser;
        qzAuthenticator::MembershipVerdict itsVerdict;
        std::vector<std::string> itsPath;
        Status itsStatus;
    };
    const std::string theCarol = personDN("Carol Test");
    const std::string theDan = personDN("Dan Test");
    const std::string theAlice = personDN("Alice Test");
    const Case theCases[] = {
        {groupDN("Engineering"),
         theAlice,
         qzAuthenticator::verdictMember,
         {groupDN("Engineering"), theAlice},
         0},
        {groupDN("Level0"),
         theCarol,
         qzAuthenticator::verdictMember,
         {groupDN("Level0"), groupDN("Level1"), groupDN("Level2"), groupDN("Level3"), theCarol},
         0},
        {groupDN("LoopA"),
         theCarol,
         qzAuthenticator::verdictMember,
         {groupDN("LoopA"), groupDN("LoopB"), theCarol},
         0},
        {groupDN("Grand"),
         theDan,
         qzAuthenticator::verdictMember,
         {groupDN("Grand"), groupDN("Parent"), groupDN("PosixStaff"), theDan},
         0},
        {groupDN("Sales"), theAlice, qzAuthenticator::verdictNotMember, {}, 0},
        {groupDN("LoopA"), theAlice, qzAuthenticator::verdictNotMember, {}, 0},
        // Not a group, and no object at all: failures of the first step.
        {personDN("Bob Test"),
         theAlice,
         qzAuthenticator::verdictUnknown,
         {},
         corvel::directory::E_noInterface},
        {groupDN("Nothing"),
         theAlice,
         qzAuthenticator::verdictUnknown,
         {},
         corvel::directory::E_noSuchObject},
    };
    corvel::directory::Session theRun;
    qzWalkMemory theMemory;
    for (int curRound = 0; curRound < 3; ++curRound)
        for (const Case& curCase : theCases)
        {
            // Round 0 walks live; rounds 1 and 2 record and then replay.
            Answer theAnswer;
            EXPECT_EQ(qzAuthenticator::checkMembership(curCase.itsGroup, curCase.itsUser, theAnswer,
                                                       curRound == 0 ? nullptr : &theMemory),
                      curCase.itsVerdict)
                << curCase.itsUser << " in " << curCase.itsGroup << ", round " << curRound;
            EXPECT_EQ(theAnswer.itsPath, curCase.itsPath) << curCase.itsGroup;
            EXPECT_EQ(theAnswer.itsStatus, curCase.itsStatus) << curCase.itsGroup;
            EXPECT_EQ(theAnswer.itsFailedStep != qzAuthenticator::stepNone, curCase.itsStatus != 0);
        }
    EXPECT_GT(theMemory.replayedCount(), 6u);
}

TEST(CheckMembership, AFailureWithoutAPathIsNeverNotAMember)
{
    struct Case
    {
        const char* itsWhat;
        int itsFaultyGroup;   // 0: the top, 1: the first nested group (A)
        int itsFault;         // 0 is-member, 1 members, 2 the enumeration breaks
        bool itsUserBesideIt; // B, after A, holds the user
        qzAuthenticator::MembershipVerdict itsVerdict;
        qzAuthenticator::WalkStep itsStep;
    };
    const Case theCases[] = {
        {"is-member fails, found later", 1, 0, true, qzAuthenticator::verdictMember,
         qzAuthenticator::stepIsMember},
        {"members fail, found later", 1, 1, true, qzAuthenticator::verdictMember,
         qzAuthenticator::stepMembers},
        {"is-member fails, no path", 1, 0, false, qzAuthenticator::verdictUnknown,
         qzAuthenticator::stepIsMember},
        {"members fail, no path", 1, 1, false, qzAuthenticator::verdictUnknown,
         qzAuthenticator::stepMembers},
        {"enumeration breaks off, no path", 0, 2, true, qzAuthenticator::verdictUnknown,
         qzAuthenticator::stepNextMember},
        {"top members fail", 0, 1, true, qzAuthenticator::verdictUnknown,
         qzAuthenticator::stepMembers},
    };
    for (const Case& curCase : theCases)
    {
        std::deque<Node> theNodes(4);
        const char* const theNames[] = {"CN=Top", "CN=A", "CN=B", "CN=User"};
        for (std::size_t i = 0; i < theNodes.size(); ++i)
            theNodes[i].itsName = theNames[i];
        theNodes[3].itsIsGroup = false;
        Node& theTop = theNodes[0];
        theTop.itsMembers = {&theNodes[1], &theNodes[2]};
        if (curCase.itsUserBesideIt)
            theNodes[2].itsMembers = {&theNodes[3]};
        Node& theFaulty = theNodes[static_cast<std::size_t>(curCase.itsFaultyGroup)];
        if (curCase.itsFault == 0)
            theFaulty.itsIsMemberFault = corvel::directory::E_accessDenied;
        else if (curCase.itsFault == 1)
            theFaulty.itsMembersFault = corvel::directory::E_serverDown;
        else
            theFaulty.itsNextFaultAt = 1;

        FakeGroup theGroup(theTop);
        Answer theAnswer;
        EXPECT_EQ(qzAuthenticator::walkMembership(theGroup, theTop.dn(), "LDAP://CN=User,DC=t",
                                                  "CN=User,DC=t", theAnswer),
                  curCase.itsVerdict)
            << curCase.itsWhat;
        EXPECT_EQ(theAnswer.itsFailedStep, curCase.itsStep) << curCase.itsWhat;
        EXPECT_EQ(theAnswer.itsFailedGroup, theFaulty.dn()) << curCase.itsWhat;
        const std::vector<std::string> thePath =
            curCase.itsVerdict == qzAuthenticator::verdictMember
                ? std::vector<std::string>{"CN=Top,DC=t", "CN=B,DC=t", "CN=User,DC=t"}
                : std::vector<std::string>{};
        EXPECT_EQ(theAnswer.itsPath, thePath) << curCase.itsWhat;
        EXPECT_EQ(qzAuthenticator::_isUserInGroup(theGroup, "LDAP://CN=User,DC=t"),
                  curCase.itsVerdict == qzAuthenticator::verdictMember);
    }
}

TEST(WalkMemory, AnswersAsTheLiveWalkOverRandomDirectories)
{
    std::mt19937 theRandom(20261209);
    for (int curRound = 0; curRound < 6; ++curRound)
    {
        // Groups with random nested groups (loops and shared groups
        // included) and users; each user's primary group is a random group
        // or Domain Users (RID 513, outside the trees).
        constexpr int theGroups = 24;
        constexpr int theUsers = 12;
        const auto theName = [](const char* inKind, int inIndex)
        { return std::string(inKind) + std::to_string(inIndex); };
        std::string theLdif = authtest::corpLdif() + sidGroupLdif("Domain Users", 513, {});
        for (int curUser = 0; curUser < theUsers; ++curUser)
        {
            const int thePrimary =
                theRandom() % 3 == 0 ? 2000 + static_cast<int>(theRandom() % theGroups) : 513;
            theLdif += accountLdif(theName("U", curUser), theName("u", curUser), 1300 + curUser,
                                   thePrimary);
        }
        for (int curGroup = 0; curGroup < theGroups; ++curGroup)
        {
            std::vector<std::string> theMembers;
            const int theCount = static_cast<int>(theRandom() % 4);
            for (int i = 0; i < theCount; ++i)
                theMembers.push_back(
                    groupDN(theName("G", static_cast<int>(theRandom() % theGroups))));
            if (theRandom() % 3 == 0)
                theMembers.push_back(
                    personDN(theName("U", static_cast<int>(theRandom() % theUsers))));
            std::sort(theMembers.begin(), theMembers.end());
            theMembers.erase(std::unique(theMembers.begin(), theMembers.end()), theMembers.end());
            std::shuffle(theMembers.begin(), theMembers.end(), theRandom);
            theLdif += sidGroupLdif(theName("G", curGroup), 2000 + curGroup, theMembers);
        }
        authtest::LdifDirectory theDirectory(theLdif);
        corvel::directory::Session theRun;
        qzWalkMemory theMemory;
        for (int curGroup = 0; curGroup < theGroups; ++curGroup)
            for (int curUser = 0; curUser < theUsers; ++curUser)
            {
                const std::string theGroup = groupDN(theName("G", curGroup));
                const std::string theUser = personDN(theName("U", curUser));
                Answer theLive;
                Answer theRemembered;
                qzAuthenticator::checkMembership(theGroup, theUser, theLive);
                qzAuthenticator::checkMembership(theGroup, theUser, theRemembered, &theMemory);
                ASSERT_EQ(theRemembered.itsVerdict, theLive.itsVerdict)
                    << theUser << " in " << theGroup << ", round " << curRound;
                ASSERT_EQ(theRemembered.itsPath, theLive.itsPath) << theUser << " in " << theGroup;
            }
        EXPECT_EQ(theMemory.recordedCount(), static_cast<std::size_t>(theGroups));
        EXPECT_EQ(theMemory.replayedCount(), static_cast<std::size_t>(theGroups * theUsers));
    }
}
