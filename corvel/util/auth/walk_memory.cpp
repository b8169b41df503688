// The walk memory: what the walks of one run learnt, replayed for later
// questions under the same group.
#include "corvel/util/auth/walk_memory.h"

#include "corvel/platform/directory/dn.h"
#include "corvel/util/auth/walk.h"

using corvel::auth::groupIdentity;
using corvel::auth::relativeName;
using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::ObjectKind;
using corvel::directory::Status;

qzWalkMemory::Plans& walkMemoryPlans(qzWalkMemory& ioMemory) { return *ioMemory.itsPlans; }

qzWalkMemory::qzWalkMemory() : itsPlans(std::make_unique<Plans>()) {}
qzWalkMemory::~qzWalkMemory() = default;
std::size_t qzWalkMemory::replayedCount() const { return itsPlans->itsReplayed; }
std::size_t qzWalkMemory::recordedCount() const { return itsPlans->itsRecorded; }

namespace corvel::auth
{

namespace
{

using Plan = qzWalkMemory::Plans::Plan;

void noteHolder(Plan& ioPlan, const std::string& inMemberKey, std::uint32_t inPlace)
{
    const auto [theAt, theNew] = ioPlan.itsFirstHolder.try_emplace(inMemberKey, inPlace);
    if (!theNew && inPlace < theAt->second)
        theAt->second = inPlace;
}

// The walk's order of entering groups, taken whole: every group below the
// top, entered once, depth-first in directory order, each with all its
// member values. False at the first failure: such a tree is walked live.
bool recordPlan(DirGroup& inTop, const std::string& inTopDN, Plan& outPlan)
{
    struct RecordFrame
    {
        std::unique_ptr<DirObject> itsOwner;
        std::unique_ptr<DirEnumerator> itsMembers;
        std::uint32_t itsPlace = 0;
    };
    std::vector<RecordFrame> theStack;

    const auto theEnter = [&outPlan, &theStack](DirGroup& inGroup,
                                                std::unique_ptr<DirObject> inOwner,
                                                const std::string& inDN, const std::string& inKey,
                                                std::uint32_t inParent)
    {
        const auto thePlace = static_cast<std::uint32_t>(outPlan.itsDNs.size());
        outPlan.itsDNs.push_back(inDN);
        outPlan.itsParents.push_back(inParent);
        outPlan.itsPlace.emplace(inKey, thePlace);
        RecordFrame theFrame;
        if (corvel::directory::failed(inGroup.members(theFrame.itsMembers)))
            return false;
        theFrame.itsOwner = std::move(inOwner);
        theFrame.itsPlace = thePlace;
        theStack.push_back(std::move(theFrame));
        return true;
    };

    std::string theTopDN;
    std::string theTopKey;
    groupIdentity(inTop, relativeName(inTop), theTopDN, theTopKey);
    if (theTopKey.empty() || theTopKey[0] == '\x01' ||
        !theEnter(inTop, nullptr, inTopDN, theTopKey, 0))
        return false;

    while (!theStack.empty())
    {
        RecordFrame& theTop = theStack.back();
        std::unique_ptr<DirObject> theElement;
        const Status theStatus =
            theTop.itsMembers ? theTop.itsMembers->next(theElement) : corvel::directory::S_false;
        if (theStatus == corvel::directory::S_false)
        {
            theStack.pop_back();
            continue;
        }
        if (theStatus != corvel::directory::S_ok || !theElement)
            return false;
        const std::uint32_t theParent = theTop.itsPlace;
        std::string theDN;
        std::string theKey;
        if (DirGroup* theMember = theElement->asGroup())
        {
            groupIdentity(*theMember, relativeName(*theMember), theDN, theKey);
            if (theKey[0] == '\x01')
                return false;
            noteHolder(outPlan, theKey, theParent);
            if (outPlan.itsPlace.count(theKey) != 0)
                continue;
            if (!theEnter(*theMember, std::move(theElement), theDN, theKey, theParent))
                return false; // theTop is not used past here
            continue;
        }
        if (corvel::directory::failed(theElement->get("distinguishedName", theDN)) ||
            !corvel::directory::dn::normalizeDN(theDN, theKey) || theKey.empty())
            return false;
        noteHolder(outPlan, theKey, theParent);
    }
    return true;
}

// The normal form of the user's primary group: "" for none; false when it
// cannot be read (the question is then walked live).
bool primaryGroupKey(corvel::directory::DirectoryService& inService, const std::string& inUserDN,
                     qzWalkMemory::Plans& ioPlans, std::string& outKey)
{
    std::unique_ptr<DirObject> theUser;
    const Status theStatus =
        corvel::directory::openByDN(inService, inUserDN, nullptr, ObjectKind::User, theUser);
    if (corvel::directory::failed(theStatus) || !theUser || theUser->asUser() == nullptr)
        return false;

    // Users of one domain with one primaryGroupID share the primary group.
    std::string theCacheKey;
    std::string theRid;
    std::vector<corvel::directory::dn::Rdn> theRdns;
    if (corvel::directory::succeeded(theUser->get("primaryGroupID", theRid)) && !theRid.empty() &&
        corvel::directory::dn::parseDN(inUserDN, theRdns))
    {
        for (const corvel::directory::dn::Rdn& curRdn : theRdns)
            if (corvel::directory::dn::toLowerAscii(curRdn.itsText).rfind("dc=", 0) == 0)
                theCacheKey += corvel::directory::dn::toLowerAscii(curRdn.itsText) + ",";
        theCacheKey += "|" + theRid;
        const auto theKnown = ioPlans.itsPrimaryGroups.find(theCacheKey);
        if (theKnown != ioPlans.itsPrimaryGroups.end())
        {
            outKey = theKnown->second;
            return true;
        }
    }

    std::string thePrimaryDN;
    if (corvel::directory::failed(theUser->asUser()->primaryGroup(thePrimaryDN)))
        return false;
    outKey.clear();
    if (!thePrimaryDN.empty() && !corvel::directory::dn::normalizeDN(thePrimaryDN, outKey))
        return false;
    if (!theCacheKey.empty())
        ioPlans.itsPrimaryGroups[theCacheKey] = outKey;
    return true;
}

// The answer from a remembered walk; false when it cannot be given exactly.
bool replayPlan(const Plan& inPlan, corvel::directory::DirectoryService& inService,
                qzWalkMemory::Plans& ioPlans, const std::string& inGroupDN,
                const std::string& inUserDN, qzAuthenticator::MembershipAnswer& outAnswer)
{
    std::string theUserKey;
    std::string thePrimaryKey;
    if (!corvel::directory::dn::normalizeDN(inUserDN, theUserKey) ||
        !primaryGroupKey(inService, inUserDN, ioPlans, thePrimaryKey))
        return false;

    // The walk stops at the first group it enters that holds the user.
    std::uint32_t theHolder = static_cast<std::uint32_t>(inPlan.itsDNs.size());
    const auto theNamed = inPlan.itsFirstHolder.find(theUserKey);
    if (theNamed != inPlan.itsFirstHolder.end())
        theHolder = theNamed->second;
    if (!thePrimaryKey.empty())
    {
        const auto thePrimary = inPlan.itsPlace.find(thePrimaryKey);
        if (thePrimary != inPlan.itsPlace.end() && thePrimary->second < theHolder)
            theHolder = thePrimary->second;
    }

    outAnswer = qzAuthenticator::MembershipAnswer();
    if (theHolder >= inPlan.itsDNs.size())
    {
        outAnswer.itsVerdict = qzAuthenticator::verdictNotMember;
        return true;
    }
    std::vector<std::string> thePath = {inUserDN};
    for (std::uint32_t curPlace = theHolder; curPlace != 0; curPlace = inPlan.itsParents[curPlace])
        thePath.push_back(inPlan.itsDNs[curPlace]);
    thePath.push_back(inGroupDN);
    outAnswer.itsPath.assign(thePath.rbegin(), thePath.rend());
    outAnswer.itsVerdict = qzAuthenticator::verdictMember;
    return true;
}

} // namespace

MemoryUse::MemoryUse(qzWalkMemory* ioMemory, corvel::directory::DirectoryService& inService,
                     const std::string& inGroupDN, const std::string& inUserDN)
    : itsService(inService), itsGroupDN(inGroupDN), itsUserDN(inUserDN)
{
    if (ioMemory == nullptr || !corvel::directory::dn::normalizeDN(inGroupDN, itsGroupKey) ||
        itsGroupKey.empty())
        return;
    itsPlans = &walkMemoryPlans(*ioMemory);
    itsKnown = itsPlans->itsPlans.count(itsGroupKey) != 0;
}

bool MemoryUse::replay(qzAuthenticator::MembershipAnswer& outAnswer)
{
    if (itsPlans == nullptr || !itsKnown)
        return false;
    const Plan& thePlan = itsPlans->itsPlans[itsGroupKey];
    if (!thePlan.itsUsable ||
        !replayPlan(thePlan, itsService, *itsPlans, itsGroupDN, itsUserDN, outAnswer))
        return false;
    ++itsPlans->itsReplayed;
    return true;
}

bool MemoryUse::recordAndReplay(DirGroup& inGroup, qzAuthenticator::MembershipAnswer& outAnswer)
{
    if (itsPlans == nullptr || itsKnown)
        return false;
    itsKnown = true;
    Plan& theNewPlan = itsPlans->itsPlans[itsGroupKey];
    theNewPlan.itsUsable = recordPlan(inGroup, itsGroupDN, theNewPlan);
    if (!theNewPlan.itsUsable)
    {
        theNewPlan = Plan(); // keeps only the mark: this tree is walked live
        return false;
    }
    ++itsPlans->itsRecorded;
    if (!replayPlan(theNewPlan, itsService, *itsPlans, itsGroupDN, itsUserDN, outAnswer))
        return false;
    ++itsPlans->itsReplayed;
    return true;
}

} // namespace corvel::auth
