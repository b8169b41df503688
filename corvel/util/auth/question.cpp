#include "corvel/util/auth/question.h"

#include "corvel/debug/qzinfolog.h"
#include "corvel/util/auth/ancestry.h"
#include "corvel/util/auth/lookup.h"

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

qzMembershipRun::qzMembershipRun(const Options& inOptions)
    : itsOptions(inOptions), itsSession(std::make_unique<corvel::directory::Session>()),
      itsDirectory(itsSession->service()), itsAncestry(std::make_unique<corvel::auth::Ancestry>())
{
}

qzMembershipRun::qzMembershipRun(corvel::directory::DirectoryService& inDirectory,
                                 const Options& inOptions)
    : itsOptions(inOptions), itsDirectory(inDirectory),
      itsAncestry(std::make_unique<corvel::auth::Ancestry>())
{
}

qzMembershipRun::~qzMembershipRun() = default;

qzMembershipQuestion::Answer qzMembershipRun::ask(const std::string& inUser,
                                                  const std::string& inGroup)
{
    return askMany({{inUser, inGroup}}).front();
}

std::vector<qzMembershipQuestion::Answer>
qzMembershipRun::askMany(const std::vector<std::pair<std::string, std::string>>& inQuestions)
{
    std::vector<qzMembershipQuestion::Answer> theAnswers(inQuestions.size());
    for (std::size_t curIndex = 0; curIndex < inQuestions.size(); ++curIndex)
    {
        theAnswers[curIndex].itsUser.itsName = inQuestions[curIndex].first;
        theAnswers[curIndex].itsGroup.itsName = inQuestions[curIndex].second;
    }
    lookUp(theAnswers);
    decide(theAnswers);
    return theAnswers;
}

void qzMembershipRun::lookUp(std::vector<qzMembershipQuestion::Answer>& ioAnswers)
{
    // Every name of the questions not known yet, once, looked up together;
    // a question's group is looked up even when its user was not found, so
    // that the answer names both. Only answers are kept: a lookup the
    // directory could not answer is asked again the next time.
    std::vector<corvel::auth::NameLookup> theLookups;
    std::unordered_map<std::string, std::size_t> theUserAt;
    std::unordered_map<std::string, std::size_t> theGroupAt;
    for (const qzMembershipQuestion::Answer& curAnswer : ioAnswers)
        for (bool curIsGroup : {false, true})
        {
            const std::string& theName =
                curIsGroup ? curAnswer.itsGroup.itsName : curAnswer.itsUser.itsName;
            auto& theKnown = curIsGroup ? itsGroups : itsUsers;
            auto& theAt = curIsGroup ? theGroupAt : theUserAt;
            if ((itsOptions.itsRemember && theKnown.count(theName) != 0) ||
                theAt.count(theName) != 0)
                continue;
            theAt.emplace(theName, theLookups.size());
            corvel::auth::NameLookup theLookup;
            theLookup.itsName = theName;
            theLookup.itsIsGroup = curIsGroup;
            theLookups.push_back(std::move(theLookup));
        }
    if (!theLookups.empty())
        corvel::auth::lookUpObjectDNs(itsDirectory, theLookups);
    const auto theTake =
        [this, &theLookups](qzMembershipQuestion::NameAnswer& ioName, bool inIsGroup,
                            const std::unordered_map<std::string, std::size_t>& inAt)
    {
        auto& theKnown = inIsGroup ? itsGroups : itsUsers;
        const auto theLooked = inAt.find(ioName.itsName);
        if (theLooked == inAt.end())
        {
            ioName = theKnown.at(ioName.itsName);
            return;
        }
        const corvel::auth::NameLookup& theLookup = theLookups[theLooked->second];
        ioName.itsAsked = true;
        ioName.itsResult = theLookup.itsResult;
        ioName.itsDN = theLookup.itsDN;
        ioName.itsStatus = theLookup.itsStatus;
        if (!itsOptions.itsRemember || ioName.itsResult == qzAuthenticator::lookupFailed)
            return;
        if (theKnown.size() >= theMaxRemembered)
            theKnown.clear();
        theKnown.emplace(ioName.itsName, ioName);
    };
    for (qzMembershipQuestion::Answer& curAnswer : ioAnswers)
    {
        theTake(curAnswer.itsUser, false, theUserAt);
        theTake(curAnswer.itsGroup, true, theGroupAt);
    }
}

void qzMembershipRun::decideDown(qzMembershipQuestion::Answer& ioAnswer, const std::string& inWhy)
{
    if (!inWhy.empty())
        infoLog(qzLogDebug, "walking down from \"%s\" for \"%s\": %s",
                ioAnswer.itsGroup.itsDN.c_str(), ioAnswer.itsUser.itsDN.c_str(), inWhy.c_str());
    ioAnswer.itsWalked = true;
    qzAuthenticator::checkMembership(itsDirectory, ioAnswer.itsGroup.itsDN, ioAnswer.itsUser.itsDN,
                                     ioAnswer.itsWalk,
                                     itsOptions.itsRemember ? &itsWalks : nullptr);
}

void qzMembershipRun::decide(std::vector<qzMembershipQuestion::Answer>& ioAnswers)
{
    std::vector<corvel::auth::UpwardQuestion> theUpward;
    std::vector<std::size_t> theUpwardOf;
    for (std::size_t curIndex = 0; curIndex < ioAnswers.size(); ++curIndex)
    {
        qzMembershipQuestion::Answer& theAnswer = ioAnswers[curIndex];
        if (!theAnswer.itsUser.found() || !theAnswer.itsGroup.found())
            continue;
        if (itsOptions.itsMethod == methodDown)
        {
            decideDown(theAnswer, "");
            continue;
        }
        corvel::auth::UpwardQuestion theQuestion;
        theQuestion.itsUserDN = theAnswer.itsUser.itsDN;
        theQuestion.itsGroupDN = theAnswer.itsGroup.itsDN;
        theQuestion.itsWantPath = itsOptions.itsWantPath;
        theUpward.push_back(std::move(theQuestion));
        theUpwardOf.push_back(curIndex);
    }
    if (theUpward.empty())
        return;
    try
    {
        corvel::auth::answerUpward(itsDirectory, *itsAncestry, theUpward,
                                   itsOptions.itsMethod == methodToken
                                       ? corvel::auth::UpwardMethod::Token
                                       : corvel::auth::UpwardMethod::Walk);
    }
    catch (...)
    {
        // What cannot be answered upward (no memory left) is walked down.
        for (corvel::auth::UpwardQuestion& curQuestion : theUpward)
            if (!curQuestion.itsDecided)
                curQuestion.itsWhyDown = "the upward answer failed";
    }
    for (std::size_t curIndex = 0; curIndex < theUpward.size(); ++curIndex)
    {
        qzMembershipQuestion::Answer& theAnswer = ioAnswers[theUpwardOf[curIndex]];
        if (!theUpward[curIndex].itsDecided)
        {
            decideDown(theAnswer, theUpward[curIndex].itsWhyDown);
            continue;
        }
        theAnswer.itsWalked = true;
        theAnswer.itsWalk = std::move(theUpward[curIndex].itsAnswer);
        infoLog(qzLogDebug, "answered upward: \"%s\" %s \"%s\"", theAnswer.itsUser.itsDN.c_str(),
                theAnswer.itsWalk.itsVerdict == qzAuthenticator::verdictMember ? "is a member of"
                : theAnswer.itsWalk.itsVerdict == qzAuthenticator::verdictNotMember
                    ? "is not a member of"
                    : "cannot be found in",
                theAnswer.itsGroup.itsDN.c_str());
    }
}
