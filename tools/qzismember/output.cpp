#include "output.h"

#include <cstdio>

#include "json_text.h"
#include "options.h"

namespace
{

// A field of a tab-separated answer line: tabs and line ends inside it would
// break the line apart.
std::string field(const std::string& inText)
{
    std::string theText = inText;
    for (char& curChar : theText)
        if (curChar == '\t' || curChar == '\n' || curChar == '\r')
            curChar = ' ';
    return theText;
}

qzMembershipQuestion::Outcome outcomeOf(const Reply& inReply)
{
    return inReply.itsAnswer.outcome();
}

} // namespace

int Reply::exitCode() const
{
    if (itsMalformed)
        return theExitBadLine;
    switch (outcomeOf(*this))
    {
    case qzMembershipQuestion::outcomeMember:
        return theExitMember;
    case qzMembershipQuestion::outcomeNotMember:
        return theExitNotMember;
    case qzMembershipQuestion::outcomeNotFound:
        return theExitNotFound;
    default:
        return theExitNoAnswer;
    }
}

std::string Reply::error() const { return itsMalformed ? itsProblem : itsAnswer.problem(); }

std::string verdictWords(const Reply& inReply)
{
    if (inReply.itsMalformed)
        return "error";
    switch (outcomeOf(inReply))
    {
    case qzMembershipQuestion::outcomeMember:
        return "member";
    case qzMembershipQuestion::outcomeNotMember:
        return "not a member";
    case qzMembershipQuestion::outcomeNotFound:
        return "not found";
    default:
        return "error";
    }
}

std::string jsonReply(const Reply& inReply)
{
    const qzMembershipQuestion::Answer& theAnswer = inReply.itsAnswer;
    const bool theMember =
        !inReply.itsMalformed && outcomeOf(inReply) == qzMembershipQuestion::outcomeMember;
    const bool theNotMember =
        !inReply.itsMalformed && outcomeOf(inReply) == qzMembershipQuestion::outcomeNotMember;
    std::string theOut = "{\"user\":" + jsonString(theAnswer.itsUser.itsName);
    theOut += ",\"group\":" + jsonString(theAnswer.itsGroup.itsName);
    theOut +=
        ",\"userDN\":" + (theAnswer.itsUser.found() ? jsonString(theAnswer.itsUser.itsDN) : "null");
    theOut += ",\"groupDN\":" +
              (theAnswer.itsGroup.found() ? jsonString(theAnswer.itsGroup.itsDN) : "null");
    theOut += ",\"member\":";
    theOut += theMember ? "true" : theNotMember ? "false" : "null";
    theOut += ",\"path\":" +
              jsonStrings(theMember ? theAnswer.itsWalk.itsPath : std::vector<std::string>());
    const std::string theError = inReply.error();
    theOut += ",\"error\":" + (theError.empty() ? std::string("null") : jsonString(theError));
    return theOut + "}\n";
}

std::string plainReply(const Reply& inReply, bool inWhy)
{
    const qzMembershipQuestion::Outcome theOutcome = outcomeOf(inReply);
    if (theOutcome != qzMembershipQuestion::outcomeMember &&
        theOutcome != qzMembershipQuestion::outcomeNotMember)
        return {};
    std::string theOut = verdictWords(inReply) + "\n";
    if (inWhy && theOutcome == qzMembershipQuestion::outcomeMember)
        for (const std::string& curDN : inReply.itsAnswer.itsWalk.itsPath)
            theOut += curDN + "\n";
    return theOut;
}

std::string batchReply(const Reply& inReply, bool inWhy)
{
    std::string theOut = field(inReply.itsAnswer.itsUser.itsName) + "\t" +
                         field(inReply.itsAnswer.itsGroup.itsName) + "\t" + verdictWords(inReply);
    if (inWhy && !inReply.itsMalformed && outcomeOf(inReply) == qzMembershipQuestion::outcomeMember)
        for (const std::string& curDN : inReply.itsAnswer.itsWalk.itsPath)
            theOut += "\t" + field(curDN);
    return theOut + "\n";
}

bool writeOut(const std::string& inText)
{
    return std::fwrite(inText.data(), 1, inText.size(), stdout) == inText.size();
}

void reportError(const std::string& inPrefix, const Reply& inReply)
{
    const std::string theError = inReply.error();
    if (!theError.empty())
        std::fprintf(stderr, "qzIsMember: %s%s\n", inPrefix.c_str(), theError.c_str());
}
