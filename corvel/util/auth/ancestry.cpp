#include "corvel/util/auth/ancestry.h"

#include <cstdlib>
#include <unordered_set>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"

using corvel::directory::DirectoryService;
using corvel::directory::ObjectRead;
using corvel::directory::Status;
namespace dn = corvel::directory::dn;
namespace names = corvel::directory::names;

namespace corvel::auth
{

namespace
{

std::string keyOf(const std::string& inDN)
{
    std::string theKey;
    if (!dn::normalizeDN(inDN, theKey))
        theKey.clear();
    return theKey;
}

std::string sidPath(const std::string& inSid) { return "<SID=" + inSid + ">"; }

const std::vector<std::string>& nodeAttributes()
{
    static const std::vector<std::string> theNames = {"objectClass", "objectSid", "groupType",
                                                      "memberOf", "primaryGroupID"};
    return theNames;
}

// The DC= RDNs that end a DN: its domain's naming context, as a key.
std::string domainKey(const std::string& inDN)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns))
        return {};
    std::size_t theFirst = theRdns.size();
    while (theFirst > 0 && theRdns[theFirst - 1].itsAvas.size() == 1 &&
           dn::toLowerAscii(theRdns[theFirst - 1].itsAvas[0].itsType) == "dc")
        --theFirst;
    return dn::normalizeRdns(std::vector<dn::Rdn>(
        theRdns.begin() + static_cast<std::ptrdiff_t>(theFirst), theRdns.end()));
}

bool hasClass(const ObjectRead& inRead, const char* inClass)
{
    for (const std::string& curClass : inRead.values("objectclass"))
        if (dn::toLowerAscii(curClass) == inClass)
            return true;
    return false;
}

} // namespace

Ancestry::Node* Ancestry::node(const std::string& inDN)
{
    const std::string theKey = keyOf(inDN);
    if (theKey.empty())
        return nullptr;
    Node& theNode = itsNodes[theKey];
    if (theNode.itsDN.empty())
        theNode.itsDN = inDN;
    return &theNode;
}

Ancestry::Node* Ancestry::nodeOfKey(const std::string& inKey)
{
    const auto theAt = itsNodes.find(inKey);
    return theAt == itsNodes.end() ? nullptr : &theAt->second;
}

Ancestry::Node* Ancestry::nodeOfSid(const std::string& inSid)
{
    const auto theAt = itsKeyBySid.find(inSid);
    if (theAt == itsKeyBySid.end())
        return nullptr;
    const auto theNode = itsNodes.find(theAt->second);
    return theNode == itsNodes.end() ? nullptr : &theNode->second;
}

void Ancestry::take(const ObjectRead& inRead, bool inWithToken)
{
    Node* theNode = node(inRead.itsFoundDN.empty() ? inRead.itsDN : inRead.itsFoundDN);
    if (theNode == nullptr)
        return;
    theNode->itsRead = true;
    theNode->itsStatus = inRead.itsStatus;
    if (corvel::directory::failed(inRead.itsStatus))
        return;
    theNode->itsIsGroup = hasClass(inRead, "group");
    const std::vector<std::string>& theSids = inRead.values("objectsid");
    if (!theSids.empty() && names::sidOfValue(theSids.front(), theNode->itsSid))
        itsKeyBySid[theNode->itsSid] = keyOf(theNode->itsDN);
    const std::vector<std::string>& theTypes = inRead.values("grouptype");
    if (!theTypes.empty())
        theNode->itsGroupType = std::strtoll(theTypes.front().c_str(), nullptr, 10);
    theNode->itsUp.clear();
    for (const std::string& curGroup : inRead.values("memberof"))
        if (Node* theUp = node(curGroup))
            theNode->itsUp.push_back(keyOf(theUp->itsDN));
    const std::vector<std::string>& theRids = inRead.values("primarygroupid");
    if (!theNode->itsSid.empty() && !theRids.empty())
        names::primaryGroupSid(theNode->itsSid, true, theRids.front(), theNode->itsPrimarySid);
    if (inWithToken)
    {
        theNode->itsTokenRead = true;
        theNode->itsToken.clear();
        for (const std::string& curValue : inRead.values("tokengroups"))
        {
            std::string theSid;
            if (names::sidOfValue(curValue, theSid))
                theNode->itsToken.push_back(theSid);
        }
    }
}

Status Ancestry::read(DirectoryService& inService, const std::vector<Wanted>& inWanted)
{
    std::vector<ObjectRead> theReads;
    std::unordered_set<std::string> theAsked;
    for (const Wanted& curWanted : inWanted)
    {
        const std::string& curName = curWanted.itsName;
        const bool theBySid = curName.rfind("<SID=", 0) == 0;
        const bool theWithToken = curWanted.itsWithToken && !theBySid;
        if (theBySid && (nodeOfSid(curName.substr(5, curName.size() - 6)) != nullptr ||
                         !itsTriedSids.insert(curName).second))
            continue;
        if (!theBySid)
        {
            const Node* theNode = node(curName);
            if (theNode == nullptr ||
                (theNode->itsRead && (!theWithToken || theNode->itsTokenRead)))
                continue;
        }
        if (!theAsked.insert(theBySid ? curName : keyOf(curName)).second)
            continue;
        ObjectRead theRead;
        theRead.itsDN = curName;
        theRead.itsAttributes = nodeAttributes();
        if (theWithToken)
            theRead.itsAttributes.push_back("tokenGroups");
        theReads.push_back(std::move(theRead));
    }
    if (theReads.empty())
        return corvel::directory::S_ok;
    const Status theStatus = inService.readObjects(theReads);
    if (corvel::directory::failed(theStatus))
        return theStatus;
    for (const ObjectRead& curRead : theReads)
    {
        // An object named by SID that is not there needs no node.
        if (curRead.itsDN.rfind("<SID=", 0) == 0 && curRead.itsFoundDN.empty())
            continue;
        const bool theBySid = curRead.itsDN.rfind("<SID=", 0) == 0;
        bool theWithToken = false;
        for (const std::string& curName : curRead.itsAttributes)
            theWithToken = theWithToken || curName == "tokenGroups";
        take(curRead, theWithToken && !theBySid);
    }
    return corvel::directory::S_ok;
}

namespace
{

// One question's walk up from the user: the groups reached, each with the
// one it was reached from (toward the user), level by level.
class Climb
{
public:
    Climb(UpwardQuestion& ioQuestion, Ancestry& ioAncestry)
        : itsQuestion(ioQuestion), itsAncestry(ioAncestry), itsTarget(keyOf(ioQuestion.itsGroupDN)),
          itsUser(keyOf(ioQuestion.itsUserDN))
    {
    }

    bool done() const { return itsQuestion.itsDecided || !itsQuestion.itsWhyDown.empty(); }

    // The user's own groups, its primary group among them.
    void start()
    {
        const Ancestry::Node* theUser = itsAncestry.node(itsQuestion.itsUserDN);
        std::vector<std::string> theFirst = theUser->itsUp;
        if (!theUser->itsPrimarySid.empty())
            if (const Ancestry::Node* thePrimary = itsAncestry.nodeOfSid(theUser->itsPrimarySid))
                theFirst.push_back(keyOf(thePrimary->itsDN));
        reach(itsUser, theFirst);
    }

    // The nodes to read before the next level can be taken.
    void wanted(std::vector<Ancestry::Wanted>& ioWanted) const
    {
        for (const std::string& curKey : itsFrontier)
        {
            const Ancestry::Node* theNode = itsAncestry.nodeOfKey(curKey);
            if (theNode != nullptr && !theNode->itsRead)
                ioWanted.push_back({theNode->itsDN, false});
        }
    }

    // One level up, from what was read.
    void step()
    {
        std::vector<std::string> theLevel;
        theLevel.swap(itsFrontier);
        for (const std::string& curKey : theLevel)
        {
            const Ancestry::Node* theNode = itsAncestry.nodeOfKey(curKey);
            if (theNode == nullptr || !theNode->itsRead ||
                corvel::directory::failed(theNode->itsStatus))
            {
                // Hidden from us, elsewhere, or the directory failed: the
                // groups above it cannot be known from here.
                itsQuestion.itsWhyDown = "the groups above \"" +
                                         (theNode ? theNode->itsDN : curKey) +
                                         "\" cannot be read upward";
                return;
            }
            reach(curKey, theNode->itsUp);
            if (done())
                return;
        }
        if (itsFrontier.empty())
        {
            itsQuestion.itsAnswer.itsVerdict = qzAuthenticator::verdictNotMember;
            itsQuestion.itsDecided = true;
        }
    }

private:
    void reach(const std::string& inFrom, const std::vector<std::string>& inGroups)
    {
        for (const std::string& curKey : inGroups)
        {
            if (!itsCameFrom.emplace(curKey, inFrom).second)
                continue;
            if (curKey == itsTarget)
            {
                found();
                return;
            }
            itsFrontier.push_back(curKey);
        }
    }

    // The path from the group asked about down to the user.
    void found()
    {
        qzAuthenticator::MembershipAnswer& theAnswer = itsQuestion.itsAnswer;
        theAnswer.itsVerdict = qzAuthenticator::verdictMember;
        theAnswer.itsPath = {itsQuestion.itsGroupDN};
        for (std::string curKey = itsCameFrom[itsTarget]; curKey != itsUser;
             curKey = itsCameFrom[curKey])
            theAnswer.itsPath.push_back(itsAncestry.nodeOfKey(curKey)->itsDN);
        theAnswer.itsPath.push_back(itsQuestion.itsUserDN);
        itsQuestion.itsDecided = true;
    }

    UpwardQuestion& itsQuestion;
    Ancestry& itsAncestry;
    std::string itsTarget;
    std::string itsUser;
    std::unordered_map<std::string, std::string> itsCameFrom;
    std::vector<std::string> itsFrontier;
};

// Whether the question can be answered upward at all, and the answers
// its first reads already give.
void check(UpwardQuestion& ioQuestion, Ancestry& ioAncestry, bool inToken)
{
    qzAuthenticator::MembershipAnswer& theAnswer = ioQuestion.itsAnswer;
    const Ancestry::Node* theGroup = ioAncestry.node(ioQuestion.itsGroupDN);
    const Ancestry::Node* theUser = ioAncestry.node(ioQuestion.itsUserDN);
    if (theGroup == nullptr || theUser == nullptr)
    {
        ioQuestion.itsWhyDown = "a name is no DN";
        return;
    }
    // The group is opened as the walk down would open it.
    if (corvel::directory::failed(theGroup->itsStatus) || !theGroup->itsIsGroup)
    {
        theAnswer.itsVerdict = qzAuthenticator::verdictUnknown;
        theAnswer.itsFailedStep = qzAuthenticator::stepOpenGroup;
        theAnswer.itsFailedGroup = ioQuestion.itsGroupDN;
        theAnswer.itsStatus = corvel::directory::failed(theGroup->itsStatus)
                                  ? theGroup->itsStatus
                                  : corvel::directory::E_noInterface;
        ioQuestion.itsDecided = true;
        return;
    }
    if (corvel::directory::failed(theUser->itsStatus))
        ioQuestion.itsWhyDown = "the user cannot be read";
    else if (domainKey(theUser->itsDN) != domainKey(theGroup->itsDN))
        // A DC of the user's domain shows no domain-local group of another.
        ioQuestion.itsWhyDown = "the group is of another domain than the user";
    else if (inToken && !ioQuestion.itsWantPath && !theGroup->itsSid.empty())
        for (const std::string& curSid : theUser->itsToken)
            if (names::sameSid(curSid, theGroup->itsSid))
            {
                theAnswer.itsVerdict = qzAuthenticator::verdictMember;
                ioQuestion.itsDecided = true;
                infoLog(qzLogDebug, "the token of \"%s\" holds \"%s\"",
                        ioQuestion.itsUserDN.c_str(), ioQuestion.itsGroupDN.c_str());
                return;
            }
}

} // namespace

void answerUpward(DirectoryService& inService, Ancestry& ioAncestry,
                  std::vector<UpwardQuestion>& ioQuestions, UpwardMethod inMethod)
{
    const bool theToken = inMethod == UpwardMethod::Token;
    const auto theFailAll = [&ioQuestions](Status inStatus)
    {
        for (UpwardQuestion& curQuestion : ioQuestions)
            if (!curQuestion.itsDecided && curQuestion.itsWhyDown.empty())
                curQuestion.itsWhyDown = "the directory could not be read upward (" +
                                         qzAuthenticator::describeStatus(inStatus) + ")";
    };
    // The users (with their tokens) and the groups asked about.
    std::vector<Ancestry::Wanted> theWanted;
    for (const UpwardQuestion& curQuestion : ioQuestions)
    {
        theWanted.push_back({curQuestion.itsUserDN, theToken});
        theWanted.push_back({curQuestion.itsGroupDN, false});
    }
    Status theStatus = ioAncestry.read(inService, theWanted);
    if (corvel::directory::failed(theStatus))
        return theFailAll(theStatus);

    // Their primary groups, and the groups of their tokens with the groups
    // above each: the security part of the ancestry in one round trip.
    theWanted.clear();
    for (UpwardQuestion& curQuestion : ioQuestions)
    {
        check(curQuestion, ioAncestry, theToken);
        if (curQuestion.itsDecided || !curQuestion.itsWhyDown.empty())
            continue;
        const Ancestry::Node* theUser = ioAncestry.node(curQuestion.itsUserDN);
        if (!theUser->itsPrimarySid.empty())
            theWanted.push_back({sidPath(theUser->itsPrimarySid), false});
        for (const std::string& curSid : theUser->itsToken)
            theWanted.push_back({sidPath(curSid), false});
    }
    theStatus = ioAncestry.read(inService, theWanted);
    if (corvel::directory::failed(theStatus))
        return theFailAll(theStatus);

    // Then up, a level of every question a round trip.
    std::vector<Climb> theClimbs;
    for (UpwardQuestion& curQuestion : ioQuestions)
        if (!curQuestion.itsDecided && curQuestion.itsWhyDown.empty())
        {
            theClimbs.emplace_back(curQuestion, ioAncestry);
            theClimbs.back().start();
        }
    for (;;)
    {
        theWanted.clear();
        bool theActive = false;
        for (const Climb& curClimb : theClimbs)
            if (!curClimb.done())
            {
                theActive = true;
                curClimb.wanted(theWanted);
            }
        if (!theActive)
            return;
        theStatus = ioAncestry.read(inService, theWanted);
        if (corvel::directory::failed(theStatus))
            return theFailAll(theStatus);
        for (Climb& curClimb : theClimbs)
            if (!curClimb.done())
                curClimb.step();
    }
}

} // namespace corvel::auth
