#include "corvel/util/auth/question.h"

namespace
{

constexpr std::size_t theMaxRemembered = 100000; // names kept per kind before starting afresh

std::string quoted(const std::string& inText) { return "\"" + inText + "\""; }

std::string walkProblem(const qzAuthenticator::MembershipAnswer& inWalk)
{
    const std::string theGroup = quoted(inWalk.itsFailedGroup);
    std::string theWhat;
    switch (inWalk.itsFailedStep)
    {
    case qzAuthenticator::stepOpenGroup:
        theWhat = "the group " + theGroup + " could not be opened";
        break;
    case qzAuthenticator::stepIsMember:
        theWhat = "the direct members of " + theGroup + " could not be checked";
        break;
    case qzAuthenticator::stepMembers:
        theWhat = "the members of " + theGroup + " could not be read";
        break;
    case qzAuthenticator::stepNextMember:
        theWhat = "the members of " + theGroup + " could not be read to the end";
        break;
    default:
        theWhat = "the membership test failed";
        break;
    }
    return theWhat + ": " + qzAuthenticator::describeStatus(inWalk.itsStatus);
}

// The group was found, but opening it as a group said it is none.
bool namesNoGroup(const qzMembershipQuestion::Answer& inAnswer)
{
    return inAnswer.itsWalked && inAnswer.itsWalk.itsVerdict == qzAuthenticator::verdictUnknown &&
           inAnswer.itsWalk.itsFailedStep == qzAuthenticator::stepOpenGroup &&
           inAnswer.itsWalk.itsStatus == corvel::directory::E_noInterface;
}

bool failedToAnswer(const qzMembershipQuestion::NameAnswer& inName)
{
    return inName.itsAsked && inName.itsResult == qzAuthenticator::lookupFailed;
}

} // namespace

qzMembershipQuestion::Outcome qzMembershipQuestion::Answer::outcome() const
{
    if (failedToAnswer(itsUser) || failedToAnswer(itsGroup))
        return outcomeNoAnswer;
    if (!itsUser.found() || !itsGroup.found() || namesNoGroup(*this))
        return itsUser.itsAsked ? outcomeNotFound : outcomeNoAnswer;
    if (!itsWalked)
        return outcomeNoAnswer;
    switch (itsWalk.itsVerdict)
    {
    case qzAuthenticator::verdictMember:
        return outcomeMember;
    case qzAuthenticator::verdictNotMember:
        return outcomeNotMember;
    default:
        return outcomeNoAnswer;
    }
}

std::string qzMembershipQuestion::Answer::problem() const
{
    for (const NameAnswer* curName : {&itsUser, &itsGroup})
        if (failedToAnswer(*curName))
            return std::string("the directory could not look up the ") +
                   (curName == &itsUser ? "user " : "group ") + quoted(curName->itsName) + ": " +
                   qzAuthenticator::describeStatus(curName->itsStatus);
    std::string theProblem;
    for (const NameAnswer* curName : {&itsUser, &itsGroup})
        if (curName->itsAsked && !curName->found())
            theProblem += std::string(theProblem.empty() ? "" : "; ") +
                          (curName == &itsUser ? "the user " : "the group ") +
                          quoted(curName->itsName) +
                          " was not found: " + qzAuthenticator::describeStatus(curName->itsStatus);
    if (!theProblem.empty())
        return theProblem;
    if (namesNoGroup(*this))
        return "the group " + quoted(itsGroup.itsName) + " names no group (" + itsGroup.itsDN +
               "): " + qzAuthenticator::describeStatus(itsWalk.itsStatus);
    if (itsWalked && itsWalk.itsVerdict == qzAuthenticator::verdictUnknown)
        return walkProblem(itsWalk);
    return {};
}

qzMembershipQuestion::qzMembershipQuestion(const std::string& inUser, const std::string& inGroup)
{
    itsAnswer.itsUser.itsName = inUser;
    itsAnswer.itsGroup.itsName = inGroup;
}

qzMembershipQuestion::qzMembershipQuestion(corvel::directory::DirectoryService& inDirectory,
                                           const std::string& inUser, const std::string& inGroup)
    : qzMembershipQuestion(inUser, inGroup)
{
    itsDirectory = &inDirectory;
}

void qzMembershipQuestion::lookUp(NameAnswer& ioName, bool inIsGroup)
{
    ioName.itsAsked = true;
    ioName.itsDN.clear();
    ioName.itsResult =
        itsDirectory != nullptr
            ? qzAuthenticator::lookupObjectDN(*itsDirectory, ioName.itsName, ioName.itsDN,
                                              inIsGroup, ioName.itsStatus)
            : qzAuthenticator::lookupObjectDN(ioName.itsName, ioName.itsDN, inIsGroup,
                                              ioName.itsStatus);
}

bool qzMembershipQuestion::lookUpUser()
{
    lookUp(itsAnswer.itsUser, false);
    return itsAnswer.itsUser.found();
}

bool qzMembershipQuestion::lookUpGroup()
{
    lookUp(itsAnswer.itsGroup, true);
    return itsAnswer.itsGroup.found();
}

bool qzMembershipQuestion::decide(qzWalkMemory* ioMemory)
{
    itsAnswer.itsWalked = true;
    const std::string& theGroup = itsAnswer.itsGroup.itsDN;
    const std::string& theUser = itsAnswer.itsUser.itsDN;
    const qzAuthenticator::MembershipVerdict theVerdict =
        itsDirectory != nullptr
            ? qzAuthenticator::checkMembership(*itsDirectory, theGroup, theUser, itsAnswer.itsWalk,
                                               ioMemory)
            : qzAuthenticator::checkMembership(theGroup, theUser, itsAnswer.itsWalk, ioMemory);
    return theVerdict != qzAuthenticator::verdictUnknown;
}

void qzMembershipQuestion::askAll(const LookUp& inLookUp, qzWalkMemory* ioMemory)
{
    inLookUp(itsAnswer.itsUser, false);
    if (failedToAnswer(itsAnswer.itsUser))
        return;
    inLookUp(itsAnswer.itsGroup, true);
    if (itsAnswer.itsUser.found() && itsAnswer.itsGroup.found())
        decide(ioMemory);
}

qzMembershipQuestion::Answer qzMembershipQuestion::ask(const std::string& inUser,
                                                       const std::string& inGroup)
{
    qzMembershipQuestion theQuestion(inUser, inGroup);
    theQuestion.askAll([&theQuestion](NameAnswer& ioName, bool inIsGroup)
                       { theQuestion.lookUp(ioName, inIsGroup); },
                       nullptr);
    return theQuestion.itsAnswer;
}

qzMembershipQuestion::Answer
qzMembershipQuestion::ask(corvel::directory::DirectoryService& inDirectory,
                          const std::string& inUser, const std::string& inGroup)
{
    qzMembershipQuestion theQuestion(inDirectory, inUser, inGroup);
    theQuestion.askAll([&theQuestion](NameAnswer& ioName, bool inIsGroup)
                       { theQuestion.lookUp(ioName, inIsGroup); },
                       nullptr);
    return theQuestion.itsAnswer;
}

qzMembershipRun::qzMembershipRun(bool inRemember) : itsRemember(inRemember) {}

qzMembershipQuestion::Answer qzMembershipRun::ask(const std::string& inUser,
                                                  const std::string& inGroup)
{
    qzMembershipQuestion theQuestion(inUser, inGroup);
    const auto theLookUp =
        [this, &theQuestion](qzMembershipQuestion::NameAnswer& ioName, bool inIsGroup)
    {
        auto& theKnown = inIsGroup ? itsGroups : itsUsers;
        if (itsRemember)
        {
            const auto theAt = theKnown.find(ioName.itsName);
            if (theAt != theKnown.end())
            {
                ioName = theAt->second;
                return;
            }
        }
        theQuestion.lookUp(ioName, inIsGroup);
        // Only answers are kept: a lookup the directory could not answer is
        // asked again the next time.
        if (!itsRemember || ioName.itsResult == qzAuthenticator::lookupFailed)
            return;
        if (theKnown.size() >= theMaxRemembered)
            theKnown.clear();
        theKnown.emplace(ioName.itsName, ioName);
    };
    theQuestion.askAll(theLookUp, itsRemember ? &itsWalks : nullptr);
    return theQuestion.itsAnswer;
}
