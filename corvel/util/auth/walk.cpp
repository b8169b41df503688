// The membership walk: below the group asked about, depth-first in
// directory order, until a group holds the user.
#include "corvel/util/auth/walk.h"

#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "corvel/debug/qzdebug.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/util/auth/texts.h"
#include "corvel/util/auth/walk_memory.h"

using corvel::directory::DirectoryService;
using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::ObjectKind;
using corvel::directory::Session;
using corvel::directory::Status;

namespace corvel::auth
{

void WalkFailure::note(Status inStatus, qzAuthenticator::WalkStep inStep,
                       const std::string& inGroup)
{
    if (itsStep != qzAuthenticator::stepNone)
        return;
    itsStatus = corvel::directory::failed(inStatus) ? inStatus : corvel::directory::E_fail;
    itsStep = inStep;
    itsGroup = inGroup;
}

std::string relativeName(DirGroup& inGroup)
{
    std::string theName;
    if (corvel::directory::failed(inGroup.getName(theName)))
        theName.clear();
    return theName;
}

void groupIdentity(DirGroup& inGroup, const std::string& inRelativeName, std::string& outDN,
                   std::string& outKey)
{
    if (corvel::directory::succeeded(inGroup.get("distinguishedName", outDN)) &&
        corvel::directory::dn::normalizeDN(outDN, outKey) && !outKey.empty())
        return;
    outDN = inRelativeName;
    outKey.assign(1, '\x01');
    outKey += corvel::directory::dn::toLowerAscii(inRelativeName);
}

qzAuthenticator::MembershipVerdict decide(bool inFound, const WalkFailure& inFailure,
                                          qzAuthenticator::MembershipAnswer& outAnswer)
{
    outAnswer.itsStatus = inFailure.itsStatus;
    outAnswer.itsFailedStep = inFailure.itsStep;
    outAnswer.itsFailedGroup = inFailure.itsGroup;
    if (inFound)
        outAnswer.itsVerdict = qzAuthenticator::verdictMember;
    else
    {
        outAnswer.itsPath.clear();
        outAnswer.itsVerdict = inFailure.itsStep == qzAuthenticator::stepNone
                                   ? qzAuthenticator::verdictNotMember
                                   : qzAuthenticator::verdictUnknown;
    }
    return outAnswer.itsVerdict;
}

} // namespace corvel::auth

using corvel::auth::decide;
using corvel::auth::groupIdentity;
using corvel::auth::relativeName;
using corvel::auth::WalkFailure;

std::string qzAuthenticator::escapeDN(const std::string& inDN)
{
    return corvel::directory::dn::escapePathDN(inDN);
}

namespace
{

// One group being walked: the member enumeration is open, and the walk
// resumes with its next element once the member below has been decided.
struct WalkFrame
{
    std::unique_ptr<DirObject> itsOwner; // null for the caller's group
    DirGroup* itsGroup = nullptr;
    std::string itsName;
    std::string itsDN; // for the path
    std::unique_ptr<DirEnumerator> itsMembers;
    bool itsFound = false;
};

enum class EnterResult
{
    IsMember,    // decided true
    NotMember,   // decided false, no members to walk
    WalkMembers, // a frame was pushed
};

void traceReturning(const WalkFrame& inFrame, const std::string& inUserPath)
{
    qzTrace(1,
            "_isUserInGroup: returning \"%s\" when checking IsMember of group \"%s\" for user: "
            "\"%s\".",
            inFrame.itsFound ? "true" : "false", inFrame.itsName.c_str(), inUserPath.c_str());
}

// The first part of one group's step: the direct test and, when that does
// not decide, the opening of its members.
EnterResult enterGroup(DirGroup& inGroup, std::unique_ptr<DirObject> inOwner,
                       const std::string& inName, const std::string& inDN,
                       const std::string& inUserPath, std::vector<WalkFrame>& ioStack,
                       WalkFailure& ioFailure)
{
    qzTrace(1, "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\"", inName.c_str(),
            inUserPath.c_str());
    bool theIsMember = false;
    const Status theStatus = inGroup.isMember(inUserPath, theIsMember);
    qzTrace(1, "_isUserInGroup: done checking IsMember for user: \"%s\"", inUserPath.c_str());
    if (corvel::directory::succeeded(theStatus) && theIsMember)
    {
        qzTrace(1,
                "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\", returning "
                "true",
                inName.c_str(), inUserPath.c_str());
        return EnterResult::IsMember;
    }
    if (corvel::directory::failed(theStatus))
        ioFailure.note(theStatus, qzAuthenticator::stepIsMember, inDN);

    qzTrace(1, "_isUserInGroup: checking members for user \"%s\"", inUserPath.c_str());
    std::unique_ptr<DirEnumerator> theMembers;
    const Status theMembersStatus = inGroup.members(theMembers);
    qzTrace(1, "_isUserInGroup: done checking members for user \"%s\"", inUserPath.c_str());
    if (corvel::directory::failed(theMembersStatus))
    {
        qzTrace(1,
                "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\", returning "
                "false error enumering members",
                inName.c_str(), inUserPath.c_str());
        ioFailure.note(theMembersStatus, qzAuthenticator::stepMembers, inDN);
        return EnterResult::NotMember;
    }

    WalkFrame theFrame;
    theFrame.itsOwner = std::move(inOwner);
    theFrame.itsGroup = &inGroup;
    theFrame.itsName = inName;
    theFrame.itsDN = inDN;
    theFrame.itsMembers = std::move(theMembers); // null: nothing to enumerate
    ioStack.push_back(std::move(theFrame));
    return EnterResult::WalkMembers;
}

// The groups from the top down to the one that holds the user, then the user.
void fillPath(const std::vector<WalkFrame>& inStack, const std::string& inTopDN,
              const std::string& inHolderDN, const std::string& inUserDN,
              std::vector<std::string>& outPath)
{
    outPath.clear();
    for (const WalkFrame& curFrame : inStack)
        outPath.push_back(outPath.empty() ? inTopDN : curFrame.itsDN);
    outPath.push_back(outPath.empty() ? inTopDN : inHolderDN);
    outPath.push_back(inUserDN);
}

} // namespace

qzAuthenticator::MembershipVerdict qzAuthenticator::walkMembership(DirGroup& inGroup,
                                                                   const std::string& inGroupDN,
                                                                   const std::string& inUserPath,
                                                                   const std::string& inUserDN,
                                                                   MembershipAnswer& outAnswer)
{
    // Depth-first in directory order with an explicit stack, so that the
    // nesting depth of the directory never reaches the C++ stack. The trace
    // lines come in the order a recursive walk writes them.
    outAnswer = MembershipAnswer();
    WalkFailure theFailure;
    std::vector<WalkFrame> theStack;
    std::unordered_set<std::string> theEntered;

    const std::string theTopName = relativeName(inGroup);
    std::string theTopDN;
    std::string theTopKey;
    groupIdentity(inGroup, theTopName, theTopDN, theTopKey);
    theEntered.insert(theTopKey);
    switch (enterGroup(inGroup, nullptr, theTopName, inGroupDN, inUserPath, theStack, theFailure))
    {
    case EnterResult::IsMember:
        fillPath(theStack, inGroupDN, inGroupDN, inUserDN, outAnswer.itsPath);
        return decide(true, theFailure, outAnswer);
    case EnterResult::NotMember:
        return decide(false, theFailure, outAnswer);
    case EnterResult::WalkMembers:
        break;
    }

    while (!theStack.empty())
    {
        bool theDescended = false;
        while (!theStack.back().itsFound && theStack.back().itsMembers)
        {
            std::unique_ptr<DirObject> theElement;
            const Status theStatus = theStack.back().itsMembers->next(theElement);
            if (theStatus != corvel::directory::S_ok || !theElement)
            {
                // The end (S_false), or an enumeration that broke off: the
                // members not seen may hold the user.
                if (corvel::directory::failed(theStatus) ||
                    (theStatus == corvel::directory::S_ok && !theElement))
                    theFailure.note(theStatus, stepNextMember, theStack.back().itsDN);
                break;
            }
            DirGroup* theMember = theElement->asGroup();
            if (theMember == nullptr)
                continue; // users, computers and contacts
            const std::string theName = relativeName(*theMember);
            std::string theDN;
            std::string theKey;
            groupIdentity(*theMember, theName, theDN, theKey);
            // A group entered before, on this descent or through another
            // parent, cannot add anything: counted as false.
            if (!theEntered.insert(theKey).second)
                continue;
            const EnterResult theResult = enterGroup(*theMember, std::move(theElement), theName,
                                                     theDN, inUserPath, theStack, theFailure);
            if (theResult == EnterResult::WalkMembers)
            {
                theDescended = true;
                break;
            }
            if (theResult == EnterResult::IsMember)
            {
                fillPath(theStack, inGroupDN, theDN, inUserDN, outAnswer.itsPath);
                theStack.back().itsFound = true;
            }
        }
        if (theDescended)
            continue;

        // This group is done: report it, release it and its enumeration, and
        // hand its verdict to the group above.
        traceReturning(theStack.back(), inUserPath);
        const bool theFound = theStack.back().itsFound;
        theStack.pop_back();
        if (theStack.empty())
            return decide(theFound, theFailure, outAnswer);
        theStack.back().itsFound = theFound;
    }
    return decide(false, theFailure, outAnswer);
}

bool qzAuthenticator::_isUserInGroup(DirGroup& inGroup, const std::string& inUserPath)
{
    std::string theGroupDN;
    std::string theKey;
    groupIdentity(inGroup, relativeName(inGroup), theGroupDN, theKey);
    std::string theServer;
    std::string theUserDN;
    if (!corvel::directory::dn::parseLdapPath(inUserPath, theServer, theUserDN))
        theUserDN = inUserPath;
    MembershipAnswer theAnswer;
    return walkMembership(inGroup, theGroupDN, inUserPath, theUserDN, theAnswer) == verdictMember;
}

bool qzAuthenticator::isUserInGroup(const std::string& inGroupDN, const std::string& inUserDN)
{
    MembershipAnswer theAnswer;
    return checkMembership(inGroupDN, inUserDN, theAnswer) == verdictMember;
}

bool qzAuthenticator::isUserInGroup(DirectoryService& inDirectory, const std::string& inGroupDN,
                                    const std::string& inUserDN)
{
    MembershipAnswer theAnswer;
    return checkMembership(inDirectory, inGroupDN, inUserDN, theAnswer) == verdictMember;
}

namespace
{

qzAuthenticator::MembershipVerdict walkException(const std::string& inGroupDN,
                                                 qzAuthenticator::MembershipAnswer& outAnswer)
{
    const Status theStatus = corvel::auth::exceptionStatus();
    outAnswer = qzAuthenticator::MembershipAnswer();
    WalkFailure theFailure;
    theFailure.note(theStatus, qzAuthenticator::stepException, inGroupDN);
    return decide(false, theFailure, outAnswer);
}

} // namespace

qzAuthenticator::MembershipVerdict qzAuthenticator::checkMembership(const std::string& inGroupDN,
                                                                    const std::string& inUserDN,
                                                                    MembershipAnswer& outAnswer,
                                                                    qzWalkMemory* ioMemory)
{
    try
    {
        Session theSession;
        return checkMembership(theSession.service(), inGroupDN, inUserDN, outAnswer, ioMemory);
    }
    catch (...)
    {
        return walkException(inGroupDN, outAnswer);
    }
}

qzAuthenticator::MembershipVerdict qzAuthenticator::checkMembership(DirectoryService& inDirectory,
                                                                    const std::string& inGroupDN,
                                                                    const std::string& inUserDN,
                                                                    MembershipAnswer& outAnswer,
                                                                    qzWalkMemory* ioMemory)
{
    outAnswer = MembershipAnswer();
    try
    {
        corvel::auth::MemoryUse theMemory(ioMemory, inDirectory, inGroupDN, inUserDN);
        if (theMemory.replay(outAnswer))
            return outAnswer.itsVerdict;

        qzTrace(1, "isUserInGroup: opening path: \"%s\"",
                corvel::directory::dn::ldapPath(inGroupDN).c_str());
        std::unique_ptr<DirObject> theObject;
        Status theStatus = corvel::directory::openByDN(inDirectory, inGroupDN, nullptr,
                                                       ObjectKind::Group, theObject);
        DirGroup* theGroup = nullptr;
        if (corvel::directory::succeeded(theStatus))
        {
            theGroup = theObject ? theObject->asGroup() : nullptr;
            if (theGroup == nullptr)
                theStatus = corvel::directory::E_noInterface;
        }
        if (theGroup == nullptr)
        {
            WalkFailure theFailure;
            theFailure.note(theStatus, stepOpenGroup, inGroupDN);
            return decide(false, theFailure, outAnswer);
        }
        if (theMemory.recordAndReplay(*theGroup, outAnswer))
            return outAnswer.itsVerdict;
        return walkMembership(*theGroup, inGroupDN, corvel::directory::dn::ldapPath(inUserDN),
                              inUserDN, outAnswer);
    }
    catch (...)
    {
        return walkException(inGroupDN, outAnswer);
    }
}
