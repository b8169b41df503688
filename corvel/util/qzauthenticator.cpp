#include "corvel/util/qzauthenticator.h"

#include <cstdio>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzerrors.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/os_identity.h"
#include "corvel/platform/os_loader.h"
#include "corvel/platform/os_text.h"

using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::NameTranslator;
using corvel::directory::NameType;
using corvel::directory::ObjectKind;
using corvel::directory::Session;
using corvel::directory::Status;

namespace
{

// Characters that mark a name as already qualified: such a name is never
// retried with the current account's domain in front.
constexpr const char* theQualifierChars = "\\@/,-";

unsigned long hexOf(Status inStatus) { return static_cast<unsigned long>(inStatus); }

} // namespace

// ---------------------------------------------------------------------------
// Current account

bool qzAuthenticator::getCurrentUserInfo(std::string& outName, std::string& outDomain,
                                         std::string& outSid)
{
    std::string theName;
    std::string theDomain;
    std::string theSid;
    if (!corvel::platform::currentAccount(theName, theDomain, theSid))
        return false;
    outName = theName;
    outDomain = theDomain;
    outSid = theSid;
    return true;
}

bool qzAuthenticator::getCurrentUser(std::string& outAccount, std::string& outSid)
{
    std::string theName;
    std::string theDomain;
    std::string theSid;
    if (!getCurrentUserInfo(theName, theDomain, theSid))
        return false;
    outAccount = theDomain + "\\" + theName;
    outSid = theSid;
    return true;
}

bool qzAuthenticator::getAccountSid(const std::string& inAccountName, std::string& outSid,
                                    std::string& outDomain)
{
    std::string theSid;
    std::string theDomain;
    if (!corvel::platform::lookupAccountSid(inAccountName, theSid, theDomain))
        return false;
    outSid = theSid;
    outDomain = theDomain;
    return true;
}

// ---------------------------------------------------------------------------
// Name lookup

bool qzAuthenticator::splitUserName(const std::string& inName, std::string& outUser,
                                    std::string& outDomain)
{
    if (inName.find('=') != std::string::npos)
        return false;
    const std::size_t theSlash = inName.find('\\');
    if (theSlash != std::string::npos)
    {
        outDomain = inName.substr(0, theSlash);
        outUser = inName.substr(theSlash + 1);
        return true;
    }
    const std::size_t theAt = inName.find('@');
    if (theAt != std::string::npos)
    {
        outUser = inName.substr(0, theAt);
        outDomain = inName.substr(theAt + 1);
        return true;
    }
    return false;
}

bool qzAuthenticator::getObjectDN(const std::string& inName, std::string& outDN, bool inIsGroup)
{
    Status theStatus = corvel::directory::S_ok;
    return lookupObjectDN(inName, outDN, inIsGroup, theStatus) == lookupFound;
}

namespace
{

// The translator's answers that say the directory holds no such name (not
// found, several objects, no name in that form), as opposed to a directory
// that could not be asked.
bool isNameAnswer(Status inStatus)
{
    const unsigned theCode = inStatus & 0xFFFFu;
    return theCode == 8470u || theCode == 8471u || theCode == 8472u;
}

qzAuthenticator::LookupResult lookupOutcome(Status inStatus)
{
    return isNameAnswer(inStatus) ? qzAuthenticator::lookupNotFound : qzAuthenticator::lookupFailed;
}

} // namespace

qzAuthenticator::LookupResult qzAuthenticator::lookupObjectDN(const std::string& inName,
                                                              std::string& outDN, bool inIsGroup,
                                                              Status& outStatus)
{
    outStatus = corvel::directory::E_fail;
    try
    {
        Session theSession;
        std::unique_ptr<NameTranslator> theTranslator;
        Status theStatus = theSession.service().createNameTranslator(theTranslator);
        if (corvel::directory::failed(theStatus) || !theTranslator)
        {
            if (!corvel::directory::failed(theStatus))
                theStatus = corvel::directory::E_fail;
            infoLog(qzLogError,
                    "qzAuthenticator::getObjectDN error creating name translator, error 0x%lX",
                    hexOf(theStatus));
            outStatus = theStatus;
            return lookupFailed;
        }

        writeInfoLog(qzLogDebug,
                     "qzAuthenticator::getObjectDN initing name translator on global catalog");
        theStatus = theTranslator->init(corvel::directory::InitType_GC, "");
        if (corvel::directory::failed(theStatus))
        {
            infoLog(qzLogError,
                    "qzAuthenticator::getObjectDN error initing the name translator, error 0x%lX",
                    hexOf(theStatus));
            outStatus = theStatus;
            return lookupFailed;
        }

        theStatus = theTranslator->set(corvel::directory::NameType_Unknown, inName);
        if (corvel::directory::failed(theStatus))
        {
            qzTrace(1,
                    "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX, "
                    "evaluating options",
                    inName.c_str(), hexOf(theStatus));
            std::string theUser;
            std::string theDomain;
            std::string theSid;
            if (inIsGroup && corvel::directory::isNameNotFound(theStatus) &&
                inName.find_first_of(theQualifierChars) == std::string::npos &&
                getCurrentUserInfo(theUser, theDomain, theSid))
            {
                const std::string thePrefixed = theDomain + "\\" + inName;
                infoLog(qzLogDebug,
                        "qzAuthenticator::getObjectDN reiniting name translator on global "
                        "catalog, adding domain prefix, searching for \"%s\"",
                        thePrefixed.c_str());
                theStatus = theTranslator->set(corvel::directory::NameType_Unknown, thePrefixed);
            }
        }
        if (corvel::directory::failed(theStatus))
        {
            qzTrace(1, "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX",
                    inName.c_str(), hexOf(theStatus));
            outStatus = theStatus;
            return lookupOutcome(theStatus);
        }

        std::string theDN;
        theStatus = theTranslator->get(corvel::directory::NameType_1779, theDN);
        if (corvel::directory::failed(theStatus))
        {
            outStatus = theStatus;
            return lookupOutcome(theStatus);
        }
        outDN = theDN;
        outStatus = corvel::directory::S_ok;
        return lookupFound;
    }
    catch (...)
    {
        outStatus = corvel::directory::E_fail;
        try
        {
            throw;
        }
        catch (const std::bad_alloc&)
        {
            outStatus = corvel::directory::E_outOfMemory;
        }
        catch (...)
        {
        }
        try
        {
            writeInfoLog(qzLogDebug, "qzAuthenticator::getObjectDN - result EXCEPTION");
        }
        catch (...)
        {
        }
        return lookupFailed;
    }
}

bool qzAuthenticator::findUser(const std::string& inName, const std::string& inPassword,
                               std::string& outResult, bool& outUsedGlobalCatalog,
                               NameType inFormat)
{
    outUsedGlobalCatalog = false;
    // The caller's session is open; this one shares its service.
    Session theSession;
    std::unique_ptr<NameTranslator> theTranslator;
    Status theStatus = theSession.service().createNameTranslator(theTranslator);
    if (corvel::directory::failed(theStatus) || !theTranslator)
    {
        if (!corvel::directory::failed(theStatus))
            theStatus = corvel::directory::E_fail;
        infoLog(qzLogError, "findUser error creating name translator, error 0x%lX",
                hexOf(theStatus));
        return false;
    }

    // DOMAIN\user@realm: the realm part names the domain to bind to.
    std::string theCopy = inName;
    const std::size_t theSlash = theCopy.find('\\');
    if (theSlash != std::string::npos && theCopy.find('@') != std::string::npos)
        theCopy.erase(0, theSlash + 1);

    std::string theUser;
    std::string theDomain;
    if (splitUserName(theCopy, theUser, theDomain))
    {
        if (!inPassword.empty())
        {
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\" and user \"%s\"",
                    theDomain.c_str(), theUser.c_str());
            theStatus = theTranslator->initEx(corvel::directory::InitType_Domain, theDomain,
                                              theUser, theDomain, inPassword);
        }
        else
        {
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\"",
                    theDomain.c_str());
            theStatus = theTranslator->init(corvel::directory::InitType_Domain, theDomain);
        }
    }
    else
    {
        writeInfoLog(qzLogDebug, "findUser initing name translator on global catalog");
        outUsedGlobalCatalog = true;
        theStatus = theTranslator->init(corvel::directory::InitType_GC, "");
    }
    if (corvel::directory::failed(theStatus))
    {
        theTranslator.reset();
        infoLog(qzLogError, "findUser error initing the name translator, error 0x%lX",
                hexOf(theStatus));
        return false;
    }

    theStatus = theTranslator->set(corvel::directory::NameType_Unknown, inName);
    if (corvel::directory::failed(theStatus))
    {
        qzTrace(1, "findUser error translating user \"%s\", error 0x%lX", inName.c_str(),
                hexOf(theStatus));
        return false;
    }

    std::string theResult;
    if (corvel::directory::failed(theTranslator->get(inFormat, theResult)))
        return false;
    outResult = theResult;
    return true;
}

// ---------------------------------------------------------------------------
// Membership

std::string qzAuthenticator::escapeDN(const std::string& inDN)
{
    return corvel::directory::dn::escapePathDN(inDN);
}

namespace
{

// The first failure a walk meets: kept for the answer while the walk goes
// on, since a path found later still decides.
struct WalkFailure
{
    Status itsStatus = corvel::directory::S_ok;
    qzAuthenticator::WalkStep itsStep = qzAuthenticator::stepNone;
    std::string itsGroup;

    void note(Status inStatus, qzAuthenticator::WalkStep inStep, const std::string& inGroup)
    {
        if (itsStep != qzAuthenticator::stepNone)
            return;
        itsStatus = corvel::directory::failed(inStatus) ? inStatus : corvel::directory::E_fail;
        itsStep = inStep;
        itsGroup = inGroup;
    }
};

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

std::string relativeName(DirGroup& inGroup)
{
    std::string theName;
    if (corvel::directory::failed(inGroup.getName(theName)))
        theName.clear();
    return theName;
}

// A group's DN as the directory gives it, for the path and the record of
// groups entered. A group whose DN cannot be read is known by its relative
// name: in the path as it is, in the record under a key no DN can have, so
// that a loop through it still ends.
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

Status exceptionStatus()
{
    try
    {
        throw;
    }
    catch (const std::bad_alloc&)
    {
        return corvel::directory::E_outOfMemory;
    }
    catch (...)
    {
        return corvel::directory::E_fail;
    }
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

// ---------------------------------------------------------------------------
// Walk memory

struct qzWalkMemory::Plans
{
    // One remembered walk below one group.
    struct Plan
    {
        bool itsUsable = false;                // false: the walk met a failure, walk live
        std::vector<std::string> itsDNs;       // the groups in the order the walk enters them
        std::vector<std::uint32_t> itsParents; // the group each was entered from (0 for the top)
        // Member value (normal form) -> the first group in walk order naming it.
        std::unordered_map<std::string, std::uint32_t> itsFirstHolder;
        // Group (normal form) -> its place in walk order.
        std::unordered_map<std::string, std::uint32_t> itsPlace;
    };
    std::unordered_map<std::string, Plan> itsPlans; // by the top group's normal form
    // Domain and primaryGroupID -> the primary group's normal form ("" for none).
    std::unordered_map<std::string, std::string> itsPrimaryGroups;
    std::size_t itsReplayed = 0;
    std::size_t itsRecorded = 0;
};

qzWalkMemory::qzWalkMemory() : itsPlans(std::make_unique<Plans>()) {}
qzWalkMemory::~qzWalkMemory() = default;
std::size_t qzWalkMemory::replayedCount() const { return itsPlans->itsReplayed; }
std::size_t qzWalkMemory::recordedCount() const { return itsPlans->itsRecorded; }

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
    const Status theStatus = inService.openObject("LDAP://" + qzAuthenticator::escapeDN(inUserDN),
                                                  nullptr, ObjectKind::User, theUser);
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

qzAuthenticator::MembershipVerdict qzAuthenticator::checkMembership(const std::string& inGroupDN,
                                                                    const std::string& inUserDN,
                                                                    MembershipAnswer& outAnswer,
                                                                    qzWalkMemory* ioMemory)
{
    outAnswer = MembershipAnswer();
    try
    {
        Session theSession;
        const std::string theGroupDN = escapeDN(inGroupDN);

        qzWalkMemory::Plans::Plan* thePlan = nullptr;
        std::string theGroupKey;
        if (ioMemory != nullptr && corvel::directory::dn::normalizeDN(inGroupDN, theGroupKey))
        {
            const auto theKnown = ioMemory->plans().itsPlans.find(theGroupKey);
            if (theKnown != ioMemory->plans().itsPlans.end())
                thePlan = &theKnown->second;
        }
        if (thePlan != nullptr && thePlan->itsUsable &&
            replayPlan(*thePlan, theSession.service(), ioMemory->plans(), inGroupDN, inUserDN,
                       outAnswer))
        {
            ++ioMemory->plans().itsReplayed;
            return outAnswer.itsVerdict;
        }

        qzTrace(1, "isUserInGroup: opening path: \"LDAP://%s\"", theGroupDN.c_str());
        std::unique_ptr<DirObject> theObject;
        Status theStatus = theSession.service().openObject("LDAP://" + theGroupDN, nullptr,
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

        if (ioMemory != nullptr && thePlan == nullptr && !theGroupKey.empty())
        {
            Plan& theNewPlan = ioMemory->plans().itsPlans[theGroupKey];
            theNewPlan.itsUsable = recordPlan(*theGroup, inGroupDN, theNewPlan);
            if (!theNewPlan.itsUsable)
                theNewPlan = Plan(); // keeps only the mark: this tree is walked live
            else
            {
                ++ioMemory->plans().itsRecorded;
                if (replayPlan(theNewPlan, theSession.service(), ioMemory->plans(), inGroupDN,
                               inUserDN, outAnswer))
                {
                    ++ioMemory->plans().itsReplayed;
                    return outAnswer.itsVerdict;
                }
            }
        }

        const std::string theUserPath = "LDAP://" + escapeDN(inUserDN);
        return walkMembership(*theGroup, inGroupDN, theUserPath, inUserDN, outAnswer);
    }
    catch (...)
    {
        const Status theStatus = exceptionStatus();
        outAnswer = MembershipAnswer();
        WalkFailure theFailure;
        theFailure.note(theStatus, stepException, inGroupDN);
        return decide(false, theFailure, outAnswer);
    }
}

// ---------------------------------------------------------------------------
// Group listing

namespace
{

constexpr std::int32_t theUnboundedDepth = 0x7fffffff;

// The credentials of one listing: both parts or none.
struct ListingCredentials
{
    corvel::directory::Credentials itsCredentials;
    ListingCredentials(const std::wstring& inUser, const std::wstring& inPassword)
    {
        if (!inUser.empty() && !inPassword.empty())
        {
            itsCredentials.itsUser = corvel::platform::wideToNarrow(inUser);
            itsCredentials.itsPassword = corvel::platform::wideToNarrow(inPassword);
        }
    }
    ~ListingCredentials() { corvel::platform::wipeText(itsCredentials.itsPassword); }
    ListingCredentials(const ListingCredentials&) = delete;
    ListingCredentials& operator=(const ListingCredentials&) = delete;
    const corvel::directory::Credentials* get() const
    {
        return itsCredentials.isEmpty() ? nullptr : &itsCredentials;
    }
};

// One group of the walk: what its visit yields to walk next.
struct GroupFrame
{
    std::vector<std::string> itsParents; // its memberOf, in directory order
    std::size_t itsNext = 0;
    std::int32_t itsDepth = 0; // the depth the parents are entered with
};

// The visit of one group: opens it, adds its name, and leaves in outFrame the
// groups to walk above it. False when there is nothing to walk.
bool visitGroup(corvel::directory::DirectoryService& inService, const std::string& inGroupDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups, std::int32_t inDepth, GroupFrame& outFrame)
{
    const std::string theEscaped = qzAuthenticator::escapeDN(inGroupDN);
    std::unique_ptr<DirObject> theGroup;
    const Status theStatus =
        inService.openObject("LDAP://" + theEscaped, inCredentials, ObjectKind::Object, theGroup);
    if (corvel::directory::failed(theStatus) || !theGroup)
    {
        infoLog(
            qzLogError,
            "enumerateGroup unable to retrieve information about group \"%s\", error 0x%lX",
            theEscaped.c_str(),
            hexOf(corvel::directory::failed(theStatus) ? theStatus : corvel::directory::E_fail));
        return false;
    }
    std::string theName;
    if (corvel::directory::failed(theGroup->get("name", theName)))
        return false;
    // Collected before: the group and everything above it are in the set.
    if (!ioGroups.insert(theName).second)
        return false;
    const std::int32_t theDepth = inDepth - 1;
    if (theDepth <= 0)
        return false;
    std::vector<std::string> theParents;
    if (corvel::directory::failed(theGroup->getEx("memberOf", theParents)) || theParents.empty())
        return false;
    outFrame.itsParents = std::move(theParents);
    outFrame.itsNext = 0;
    outFrame.itsDepth = theDepth;
    return true;
}

void walkGroups(corvel::directory::DirectoryService& inService, const std::string& inGroupDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups, std::int32_t inDepth)
{
    // Depth-first in directory order, as a recursive walk would go, but on
    // an explicit stack: the nesting of the directory never reaches the C++
    // stack.
    std::vector<GroupFrame> theStack;
    GroupFrame theFrame;
    if (!visitGroup(inService, inGroupDN, inCredentials, ioGroups, inDepth, theFrame))
        return;
    theStack.push_back(std::move(theFrame));
    while (!theStack.empty())
    {
        GroupFrame& theTop = theStack.back();
        if (theTop.itsNext >= theTop.itsParents.size())
        {
            theStack.pop_back();
            continue;
        }
        const std::string theParent = theTop.itsParents[theTop.itsNext++];
        const std::int32_t theDepth = theTop.itsDepth;
        GroupFrame theNext;
        if (visitGroup(inService, theParent, inCredentials, ioGroups, theDepth, theNext))
            theStack.push_back(std::move(theNext)); // theTop is not used past here
    }
}

} // namespace

void qzAuthenticator::enumerateGroup(const std::string& inGroupDN, const std::wstring& inUser,
                                     const std::wstring& inPassword, GroupSet& ioGroups,
                                     std::int32_t inDepth)
{
    Session theSession; // the caller's, shared
    const ListingCredentials theCredentials(inUser, inPassword);
    walkGroups(theSession.service(), inGroupDN, theCredentials.get(), ioGroups, inDepth);
}

bool qzAuthenticator::getUserGroups(const std::string& inUserDN, const std::wstring& inUser,
                                    const std::wstring& inPassword, GroupSet& ioGroups,
                                    bool inRecursive)
{
    Session theSession; // the caller's, shared
    const ListingCredentials theCredentials(inUser, inPassword);
    const std::string theEscaped = escapeDN(inUserDN);
    if (theCredentials.get() != nullptr)
        qzTrace(1, "getUserGroups opening \"LDAP://%s\" with the credentials of \"%s\"",
                theEscaped.c_str(), theCredentials.itsCredentials.itsUser.c_str());
    else
        qzTrace(1, "getUserGroups opening \"LDAP://%s\" in the caller's own security context",
                theEscaped.c_str());

    std::unique_ptr<DirObject> theUser;
    Status theStatus = theSession.service().openObject("LDAP://" + theEscaped, theCredentials.get(),
                                                       ObjectKind::User, theUser);
    if (corvel::directory::succeeded(theStatus) && (!theUser || theUser->asUser() == nullptr))
        theStatus = corvel::directory::E_noInterface;
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError, "getUserGroups error finding user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }

    // The primary group belongs to the user as much as the groups that name
    // it as a member; the directory lists it in neither member nor memberOf.
    std::string thePrimary;
    theStatus = theUser->asUser()->primaryGroup(thePrimary);
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError,
                "getUserGroups unable to retrieve the primary group of user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }

    if (inRecursive)
    {
        std::vector<std::string> theMemberOf;
        theStatus = theUser->getEx("memberOf", theMemberOf);
        if (theStatus == corvel::directory::E_propertyNotFound)
            theMemberOf.clear(); // a member of no group through this attribute
        else if (corvel::directory::failed(theStatus))
        {
            infoLog(qzLogError,
                    "getUserGroups unable to retrieve member of for user \"%s\", error 0x%lX",
                    theEscaped.c_str(), hexOf(theStatus));
            return false;
        }
        theUser.reset();
        if (!thePrimary.empty())
            theMemberOf.push_back(thePrimary);
        for (const std::string& curGroupDN : theMemberOf)
            walkGroups(theSession.service(), curGroupDN, theCredentials.get(), ioGroups,
                       theUnboundedDepth);
        return true;
    }

    std::unique_ptr<DirEnumerator> theGroups;
    theStatus = theUser->asUser()->groups(theGroups);
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError, "getUserGroups error getting groups for user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }
    // "CN=Sales" -> "Sales"; shorter names carry no name after the type.
    const auto theAddName = [&ioGroups](DirObject& inGroup)
    {
        std::string theName;
        if (corvel::directory::succeeded(inGroup.getName(theName)) && theName.size() > 3)
            ioGroups.insert(theName.substr(3));
    };
    while (theGroups)
    {
        std::unique_ptr<DirObject> theElement;
        if (theGroups->next(theElement) != corvel::directory::S_ok || !theElement)
            break;
        if (DirGroup* theGroup = theElement->asGroup())
            theAddName(*theGroup);
    }
    if (!thePrimary.empty())
    {
        std::unique_ptr<DirObject> thePrimaryGroup;
        const std::string thePath = "LDAP://" + escapeDN(thePrimary);
        theStatus = theSession.service().openObject(thePath, theCredentials.get(),
                                                    ObjectKind::Object, thePrimaryGroup);
        if (corvel::directory::failed(theStatus) || !thePrimaryGroup)
        {
            infoLog(
                qzLogError,
                "getUserGroups unable to retrieve the primary group of user \"%s\", error 0x%lX",
                theEscaped.c_str(),
                hexOf(corvel::directory::failed(theStatus) ? theStatus
                                                           : corvel::directory::E_fail));
            return false;
        }
        theAddName(*thePrimaryGroup);
    }
    return true;
}

bool qzAuthenticator::getADUserGroups(const std::string& inUserName, const std::string& inPassword,
                                      GroupSet& ioGroups, bool inRecursive)
{
    try
    {
        Session theSession;
        bool theResult = false;
        try
        {
            std::string theDN;
            bool theUsedGlobalCatalog = false;
            if (findUser(inUserName, inPassword, theDN, theUsedGlobalCatalog,
                         corvel::directory::NameType_1779))
            {
                infoLog(qzLogDebug, "qzAuthenticator::getADUserGroups found user as \"%s\"",
                        theDN.c_str());
                // A name found on the global catalog carried no domain: the
                // caller's own context reads it, whatever password came along.
                std::wstring theUser;
                std::wstring thePassword;
                if (!theUsedGlobalCatalog)
                {
                    theUser = corvel::platform::narrowToWide(inUserName);
                    thePassword = corvel::platform::narrowToWide(inPassword);
                }
                theResult = getUserGroups(theDN, theUser, thePassword, ioGroups, inRecursive);
                corvel::platform::wipeText(thePassword);
            }
        }
        catch (...)
        {
            writeInfoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result EXCEPTION");
            return false;
        }
        infoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result %s",
                theResult ? "SUCCESS" : "FAILURE");
        return theResult;
    }
    catch (...)
    {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Password logon

namespace
{

using SetSSPFunction = int (*)(const char*);
using UserLogonFunction = int (*)(const char*, const char*, const char*, unsigned int*);

constexpr const char* thePluginName = "qzSSPI.dll";

} // namespace

std::int32_t qzAuthenticator::authenticateUser(const std::string& inUserName,
                                               const std::string& inPassword,
                                               const std::string& inSecurityPackage,
                                               std::uint32_t& outStatus)
{
    outStatus = 0;
    std::string theWorkingName = inUserName;

    // A plain DOMAIN\user is taken as it is; everything else is asked of the
    // directory. Exceptions of the lookup reach the caller.
    const bool theNeedsLookup =
        !(inUserName.find('\\') != std::string::npos && inUserName.find('@') == std::string::npos);
    if (theNeedsLookup)
    {
        bool theFound = false;
        {
            Session theSession;
            bool theUsedGlobalCatalog = false;
            theFound = findUser(inUserName, inPassword, theWorkingName, theUsedGlobalCatalog,
                                corvel::directory::NameType_NT4);
        }
        if (!theFound)
        {
            infoLog(qzLogError,
                    "qzAuthenticator::authenticateUser - user \"%s\" could not be found",
                    inUserName.c_str());
            return logonUnknownUserOrPassword;
        }
    }

    std::string theUser;
    std::string theDomain;
    if (!splitUserName(theWorkingName, theUser, theDomain))
    {
        theDomain.clear();
        theUser = theWorkingName;
    }
    infoLog(qzLogDebug, "qzAuthenticator::authenticateUser domain: %s, user: %s", theDomain.c_str(),
            theUser.c_str());

    corvel::platform::LoadedLibrary thePlugin; // unloaded on every path
    try
    {
        if (!thePlugin.load(thePluginName))
        {
            outStatus = thePlugin.lastError();
            return logonPluginFailure;
        }
        if (!inSecurityPackage.empty())
        {
            auto theSetSSP = reinterpret_cast<SetSSPFunction>(thePlugin.symbol("qzSetSSP"));
            if (theSetSSP != nullptr)
                theSetSSP(inSecurityPackage.c_str());
        }
        auto theUserLogon = reinterpret_cast<UserLogonFunction>(thePlugin.symbol("qzUserLogon"));
        if (theUserLogon == nullptr)
        {
            outStatus = thePlugin.lastError();
            thePlugin.unload();
            return logonPluginFailure;
        }
        unsigned int theStatusWord = 0;
        const int theAnswer =
            theUserLogon(theDomain.c_str(), theUser.c_str(), inPassword.c_str(), &theStatusWord);
        thePlugin.unload();
        outStatus = theStatusWord;
        switch (theAnswer)
        {
        case 0:
            return logonAccepted;
        case 9:
            return logonUnknownUserOrPassword;
        case 10:
            return logonNotAllowed;
        default:
            return logonOtherFailure;
        }
    }
    catch (...)
    {
        thePlugin.unload();
        return logonPluginFailure;
    }
}

// ---------------------------------------------------------------------------
// Texts

std::string qzAuthenticator::formatErrorText(std::uint32_t inCode)
{
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "%x", static_cast<unsigned int>(inCode));
    return std::string("[0x") + theHex + "] " + getOSErrorText(inCode);
}
