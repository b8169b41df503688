// The nested membership walk below an open group, over an in-memory group
// tree whose calls are counted and whose failures are chosen per group.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "auth_support.h"
#include "corvel/util/qzauthenticator.h"

using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::DirUser;
using corvel::directory::Status;

namespace
{

const std::string theUserPath = "LDAP://CN=Target,OU=People,DC=t";

struct Node
{
    std::string itsName; // relative name, e.g. CN=G1
    bool itsIsGroup = true;
    std::vector<Node*> itsMembers;
    Status itsIsMemberFault = 0;
    Status itsMembersFault = 0;
    int itsNextFaultAt = -1; // the enumeration fails at this index
    int itsIsMemberCalls = 0;
    int itsMembersCalls = 0;

    std::string dn() const
    {
        return itsName + (itsIsGroup ? ",OU=Groups,DC=t" : ",OU=People,DC=t");
    }
};

class Tree
{
public:
    Node& group(const std::string& inName)
    {
        itsNodes.push_back(Node{"CN=" + inName, true, {}, 0, 0, -1, 0, 0});
        return itsNodes.back();
    }
    Node& user(const std::string& inName)
    {
        itsNodes.push_back(Node{"CN=" + inName, false, {}, 0, 0, -1, 0, 0});
        return itsNodes.back();
    }

private:
    std::deque<Node> itsNodes; // stable addresses
};

class FakeEnumerator;

class FakeObject : public DirGroup
{
public:
    explicit FakeObject(Node& inNode) : itsNode(inNode) {}

    Status getName(std::string& outName) override
    {
        outName = itsNode.itsName;
        return corvel::directory::S_ok;
    }
    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        if (inAttribute != "distinguishedName")
            return corvel::directory::E_propertyNotFound;
        outValue = itsNode.dn();
        return corvel::directory::S_ok;
    }
    Status getEx(const std::string&, std::vector<std::string>&) override
    {
        return corvel::directory::E_propertyNotFound;
    }
    DirGroup* asGroup() override { return itsNode.itsIsGroup ? this : nullptr; }
    DirUser* asUser() override { return nullptr; }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        ++itsNode.itsIsMemberCalls;
        if (itsNode.itsIsMemberFault != 0)
            return itsNode.itsIsMemberFault;
        outIsMember = false;
        for (Node* curMember : itsNode.itsMembers)
            if (!curMember->itsIsGroup && "LDAP://" + curMember->dn() == inPath)
                outIsMember = true;
        return corvel::directory::S_ok;
    }
    Status members(std::unique_ptr<DirEnumerator>& outMembers) override;

private:
    Node& itsNode;
};

class FakeEnumerator : public DirEnumerator
{
public:
    explicit FakeEnumerator(Node& inNode) : itsNode(inNode) {}
    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        if (itsIndex == itsNode.itsNextFaultAt)
            return corvel::directory::E_serverDown;
        if (itsIndex >= static_cast<int>(itsNode.itsMembers.size()))
            return corvel::directory::S_false;
        outObject = std::make_unique<FakeObject>(*itsNode.itsMembers[itsIndex++]);
        return corvel::directory::S_ok;
    }

private:
    Node& itsNode;
    int itsIndex = 0;
};

Status FakeObject::members(std::unique_ptr<DirEnumerator>& outMembers)
{
    ++itsNode.itsMembersCalls;
    if (itsNode.itsMembersFault != 0)
        return itsNode.itsMembersFault;
    outMembers = std::make_unique<FakeEnumerator>(itsNode);
    return corvel::directory::S_ok;
}

// The user whose path is theUserPath.
Node& target(Tree& ioTree) { return ioTree.user("Target"); }

// The walk as the plain recursive description gives it, without any record
// of groups entered: the reference for directories without loops.
bool referenceWalk(Node& inGroup, std::vector<std::string>& ioTraces)
{
    const std::string& theName = inGroup.itsName;
    ioTraces.push_back("_isUserInGroup: checking IsMember of group \"" + theName +
                       "\" for user: \"" + theUserPath + "\"");
    bool theIsMember = false;
    bool theOk = inGroup.itsIsMemberFault == 0;
    if (theOk)
        for (Node* curMember : inGroup.itsMembers)
            if (!curMember->itsIsGroup && "LDAP://" + curMember->dn() == theUserPath)
                theIsMember = true;
    ioTraces.push_back("_isUserInGroup: done checking IsMember for user: \"" + theUserPath + "\"");
    if (theOk && theIsMember)
    {
        ioTraces.push_back("_isUserInGroup: checking IsMember of group \"" + theName +
                           "\" for user: \"" + theUserPath + "\", returning true");
        return true;
    }
    ioTraces.push_back("_isUserInGroup: checking members for user \"" + theUserPath + "\"");
    ioTraces.push_back("_isUserInGroup: done checking members for user \"" + theUserPath + "\"");
    if (inGroup.itsMembersFault != 0)
    {
        ioTraces.push_back("_isUserInGroup: checking IsMember of group \"" + theName +
                           "\" for user: \"" + theUserPath +
                           "\", returning false error enumering members");
        return false;
    }
    bool theFound = false;
    for (int i = 0; !theFound && i < static_cast<int>(inGroup.itsMembers.size()); ++i)
    {
        if (i == inGroup.itsNextFaultAt)
            break;
        Node* curMember = inGroup.itsMembers[i];
        if (curMember->itsIsGroup)
            theFound = referenceWalk(*curMember, ioTraces);
    }
    ioTraces.push_back(std::string("_isUserInGroup: returning \"") + (theFound ? "true" : "false") +
                       "\" when checking IsMember of group \"" + theName + "\" for user: \"" +
                       theUserPath + "\".");
    return theFound;
}

bool walk(Node& inTop)
{
    FakeObject theTop(inTop);
    return qzAuthenticator::_isUserInGroup(theTop, theUserPath);
}

} // namespace

TEST(MembershipWalk, StopsAtTheFirstNestedGroupThatHasTheUser)
{
    Tree theTree;
    Node& theUser = target(theTree);
    Node& theTop = theTree.group("Top");
    Node& theFirst = theTree.group("First");
    Node& theSecond = theTree.group("Second");
    theFirst.itsMembers = {&theUser};
    theSecond.itsMembers = {&theUser};
    theTop.itsMembers = {&theFirst, &theSecond};
    EXPECT_TRUE(walk(theTop));
    EXPECT_EQ(theFirst.itsIsMemberCalls, 1);
    EXPECT_EQ(theSecond.itsIsMemberCalls, 0);
}

TEST(MembershipWalk, LatticeFiftyLevelsDeepWalksEachGroupOnce)
{
    // Two groups per level, each holding both groups of the level below:
    // 2^50 paths, 100 groups.
    constexpr int theLevels = 50;
    Tree theTree;
    Node& theUser = target(theTree);
    Node& theTop = theTree.group("Top");
    std::vector<Node*> theAbove = {&theTop};
    std::vector<Node*> theAll;
    for (int curLevel = 0; curLevel < theLevels; ++curLevel)
    {
        std::string theLevel = std::to_string(curLevel);
        theLevel.insert(theLevel.begin(), 'L');
        Node& theLeft = theTree.group(theLevel + "a");
        Node& theRight = theTree.group(theLevel + "b");
        for (Node* curParent : theAbove)
            curParent->itsMembers = {&theLeft, &theRight};
        theAbove = {&theLeft, &theRight};
        theAll.push_back(&theLeft);
        theAll.push_back(&theRight);
    }
    EXPECT_FALSE(walk(theTop));
    for (Node* curGroup : theAll)
        EXPECT_EQ(curGroup->itsIsMemberCalls, 1) << curGroup->itsName;

    // The user at the bottom right: found, and still nothing walked twice.
    theAbove[1]->itsMembers = {&theUser};
    for (Node* curGroup : theAll)
        curGroup->itsIsMemberCalls = 0;
    EXPECT_TRUE(walk(theTop));
    for (Node* curGroup : theAll)
        EXPECT_LE(curGroup->itsIsMemberCalls, 1) << curGroup->itsName;
    EXPECT_EQ(theAbove[1]->itsIsMemberCalls, 1);
}

TEST(MembershipWalk, RandomTreesGiveTheRecursiveWalksVerdictAndTraces)
{
    std::mt19937 theRandom(20261208);
    for (int curRound = 0; curRound < 200; ++curRound)
    {
        Tree theTree;
        Node& theUser = target(theTree);
        Node& theOther = theTree.user("Other");
        std::vector<Node*> theGroups = {&theTree.group("G0")};
        const int theCount = 1 + static_cast<int>(theRandom() % 25);
        for (int i = 1; i < theCount; ++i)
        {
            Node& theGroup = theTree.group(std::string("G") + std::to_string(i));
            // A tree: each group has exactly one parent among the earlier ones.
            theGroups[theRandom() % theGroups.size()]->itsMembers.push_back(&theGroup);
            theGroups.push_back(&theGroup);
        }
        for (Node* curGroup : theGroups)
        {
            const unsigned theRoll = theRandom() % 20;
            if (theRoll == 0)
                curGroup->itsMembers.push_back(&theUser);
            else if (theRoll == 1)
                curGroup->itsIsMemberFault = corvel::directory::E_accessDenied;
            else if (theRoll == 2)
                curGroup->itsMembersFault = corvel::directory::E_serverDown;
            else if (theRoll == 3)
                curGroup->itsNextFaultAt = static_cast<int>(curGroup->itsMembers.size() / 2);
            if (theRandom() % 3 == 0)
                curGroup->itsMembers.insert(curGroup->itsMembers.begin(), &theOther);
        }

        std::vector<std::string> theExpected;
        const bool theVerdict = referenceWalk(*theGroups.front(), theExpected);
        authtest::Capture theCapture;
        EXPECT_EQ(walk(*theGroups.front()), theVerdict) << "round " << curRound;
        EXPECT_EQ(theCapture.traces(), theExpected) << "round " << curRound;
    }
}

TEST(MembershipWalk, RandomSharedGroupsKeepTheVerdictAndAreEnteredOnce)
{
    std::mt19937 theRandom(8470);
    for (int curRound = 0; curRound < 200; ++curRound)
    {
        Tree theTree;
        Node& theUser = target(theTree);
        std::vector<Node*> theGroups = {&theTree.group("G0")};
        const int theCount = 2 + static_cast<int>(theRandom() % 14);
        for (int i = 1; i < theCount; ++i)
        {
            Node& theGroup = theTree.group(std::string("G") + std::to_string(i));
            // Up to three parents among the earlier groups: no loops, but
            // groups reached along several paths.
            const unsigned theParents = 1 + theRandom() % 3;
            for (unsigned curParent = 0; curParent < theParents; ++curParent)
            {
                Node* theParent = theGroups[theRandom() % theGroups.size()];
                if (std::find(theParent->itsMembers.begin(), theParent->itsMembers.end(),
                              &theGroup) == theParent->itsMembers.end())
                    theParent->itsMembers.push_back(&theGroup);
            }
            theGroups.push_back(&theGroup);
        }
        if (theRandom() % 2 == 0)
            theGroups[theRandom() % theGroups.size()]->itsMembers.push_back(&theUser);
        for (Node* curGroup : theGroups)
            if (theRandom() % 10 == 0)
                curGroup->itsIsMemberFault = corvel::directory::E_accessDenied;

        std::vector<std::string> theReferenceTraces;
        const bool theVerdict = referenceWalk(*theGroups.front(), theReferenceTraces);
        EXPECT_EQ(walk(*theGroups.front()), theVerdict) << "round " << curRound;
        for (Node* curGroup : theGroups)
            EXPECT_LE(curGroup->itsIsMemberCalls, 1)
                << "round " << curRound << " " << curGroup->itsName;
    }
}
