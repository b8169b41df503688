// qzIsMember: whether a user is a member of a group, directly or through
// nested groups, answered for scripts by its exit status.
//
//   qzIsMember [-v] [--why] [--json] [--] USER GROUP
//   qzIsMember [-v] [--why] [--json] --batch   < questions
//
// It asks the same authenticator operations as qzAuthTest, in the same
// order, with the same name forms and the same way of finding the
// directory, and never reports a failure as "not a member":
//   0 member, 1 not a member, 2 the user or the group cannot be found,
//   3 the directory could not answer, 64 usage, 65 a batch line that is no
//   question, 74 standard input or output failed.
// A batch is one directory session: connections, the session's caches, the
// DNs found by name and what the walks learnt about each group serve every
// later question. docs/man/qzIsMember.1 is the reference.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"
#include "tools/qzismember/json_text.h"
#include "corvel/platform/os_console.h"

#ifndef QZ_ISMEMBER_VERSION
#define QZ_ISMEMBER_VERSION "unknown"
#endif

using corvel::directory::Status;

namespace
{

constexpr int theExitMember = 0;
constexpr int theExitNotMember = 1;
constexpr int theExitNotFound = 2;
constexpr int theExitNoAnswer = 3;
constexpr int theExitUsage = 64;   // EX_USAGE
constexpr int theExitBadLine = 65; // EX_DATAERR
constexpr int theExitIO = 74;      // EX_IOERR

// Longer batch lines are answered as errors: no name of the directory comes
// near it, and the reader never holds more than this of one line.
constexpr std::size_t theMaxLine = 8192;
// Names kept per kind in the batch's caches before they start afresh.
constexpr std::size_t theMaxCached = 100000;

const char* const theUsage =
    "usage: qzIsMember [-v] [--why] [--json] [--] USER GROUP\n"
    "       qzIsMember [-v] [--why] [--json] --batch < QUESTIONS\n"
    "Exit status: 0 member, 1 not a member, 2 user or group not found,\n"
    "3 the directory could not answer, 64 usage, 65 a malformed batch line,\n"
    "74 input or output failed.\n";

const char* const theHelpText =
    "Tells whether USER is a member of GROUP, directly or through nested groups.\n"
    "\n"
    "  USER    user principal name, DOMAIN\\name or distinguished name\n"
    "  GROUP   DOMAIN\\name, distinguished name, or a bare name (tried with\n"
    "          the current account's domain in front when not found)\n"
    "\n"
    "  --why       after \"member\", the path: the group, each nested group\n"
    "              and the user, one DN a line\n"
    "  --json      one JSON object per answer instead\n"
    "  --batch     questions from standard input, USER<TAB>GROUP a line,\n"
    "              answers in the same order\n"
    "  -v, --verbose  show the directory calls and the walk (debug trace)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "  --             the end of the options\n"
    "\n"
    "The directory is found as qzAuthTest finds it: CORVEL_DIRECTORY\n"
    "(ldif:PATH, ldap://host, ldaps://host), else OpenLDAP's client\n"
    "configuration. See qzIsMember(1).\n";

struct Options
{
    bool itsWhy = false;
    bool itsJson = false;
    bool itsBatch = false;
    bool itsVerbose = false;
    std::vector<std::string> itsOperands;
};

enum class Outcome
{
    Member,
    NotMember,
    NotFound,
    Error,     // the directory could not answer
    Malformed, // a batch line that is no question
};

// One answer, as every output form needs it.
struct Reply
{
    std::string itsUser; // as given
    std::string itsGroup;
    bool itsHasUserDN = false;
    std::string itsUserDN;
    bool itsHasGroupDN = false;
    std::string itsGroupDN;
    Outcome itsOutcome = Outcome::Error;
    std::vector<std::string> itsPath;
    std::string itsError; // empty: none

    int exitCode() const
    {
        switch (itsOutcome)
        {
        case Outcome::Member:
            return theExitMember;
        case Outcome::NotMember:
            return theExitNotMember;
        case Outcome::NotFound:
            return theExitNotFound;
        case Outcome::Error:
            return theExitNoAnswer;
        case Outcome::Malformed:
            return theExitBadLine;
        }
        return theExitNoAnswer;
    }
};

// "error 0x8007203A (The directory server cannot be reached.)"
std::string describeStatus(Status inStatus)
{
    char theCode[32];
    std::snprintf(theCode, sizeof theCode, "error 0x%lX", static_cast<unsigned long>(inStatus));
    std::string theText = theCode;
    if (const char* theWords = corvel::directory::statusText(inStatus))
        theText += std::string(" (") + theWords + ")";
    return theText;
}

std::string quoted(const std::string& inText) { return "\"" + inText + "\""; }

// --- name lookups, remembered for the run -------------------------------------

struct Lookup
{
    qzAuthenticator::LookupResult itsResult = qzAuthenticator::lookupFailed;
    std::string itsDN;
    Status itsStatus = 0;
};

// The DNs found by name during a run. Only answers are kept: a lookup the
// directory could not answer is asked again next time.
class qzNameCache
{
public:
    Lookup find(const std::string& inName, bool inIsGroup)
    {
        auto& theKnown = inIsGroup ? itsGroups : itsUsers;
        const auto theAt = theKnown.find(inName);
        if (theAt != theKnown.end())
            return theAt->second;
        Lookup theLookup;
        theLookup.itsResult = qzAuthenticator::lookupObjectDN(inName, theLookup.itsDN, inIsGroup,
                                                              theLookup.itsStatus);
        if (theLookup.itsResult != qzAuthenticator::lookupFailed)
        {
            if (theKnown.size() >= theMaxCached)
                theKnown.clear();
            theKnown.emplace(inName, theLookup);
        }
        return theLookup;
    }

private:
    std::unordered_map<std::string, Lookup> itsUsers;
    std::unordered_map<std::string, Lookup> itsGroups;
};

std::string walkFailureText(const qzAuthenticator::MembershipAnswer& inAnswer)
{
    const std::string theGroup = quoted(inAnswer.itsFailedGroup);
    std::string theWhat;
    switch (inAnswer.itsFailedStep)
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
    return theWhat + ": " + describeStatus(inAnswer.itsStatus);
}

// One question, the way qzAuthTest asks it: the user, then the group, then
// the walk.
Reply ask(const std::string& inUser, const std::string& inGroup, qzNameCache& ioNames,
          qzWalkMemory* ioMemory)
{
    Reply theReply;
    theReply.itsUser = inUser;
    theReply.itsGroup = inGroup;

    const Lookup theUser = ioNames.find(inUser, false);
    if (theUser.itsResult == qzAuthenticator::lookupFailed)
    {
        theReply.itsError = "the directory could not look up the user " + quoted(inUser) + ": " +
                            describeStatus(theUser.itsStatus);
        return theReply;
    }
    theReply.itsHasUserDN = theUser.itsResult == qzAuthenticator::lookupFound;
    theReply.itsUserDN = theUser.itsDN;

    const Lookup theGroup = ioNames.find(inGroup, true);
    if (theGroup.itsResult == qzAuthenticator::lookupFailed)
    {
        theReply.itsError = "the directory could not look up the group " + quoted(inGroup) + ": " +
                            describeStatus(theGroup.itsStatus);
        return theReply;
    }
    theReply.itsHasGroupDN = theGroup.itsResult == qzAuthenticator::lookupFound;
    theReply.itsGroupDN = theGroup.itsDN;

    if (!theReply.itsHasUserDN || !theReply.itsHasGroupDN)
    {
        theReply.itsOutcome = Outcome::NotFound;
        if (!theReply.itsHasUserDN)
            theReply.itsError = "the user " + quoted(inUser) +
                                " was not found: " + describeStatus(theUser.itsStatus);
        if (!theReply.itsHasGroupDN)
            theReply.itsError += std::string(theReply.itsError.empty() ? "" : "; ") + "the group " +
                                 quoted(inGroup) +
                                 " was not found: " + describeStatus(theGroup.itsStatus);
        return theReply;
    }

    qzAuthenticator::MembershipAnswer theAnswer;
    switch (qzAuthenticator::checkMembership(theReply.itsGroupDN, theReply.itsUserDN, theAnswer,
                                             ioMemory))
    {
    case qzAuthenticator::verdictMember:
        theReply.itsOutcome = Outcome::Member;
        theReply.itsPath = theAnswer.itsPath;
        break;
    case qzAuthenticator::verdictNotMember:
        theReply.itsOutcome = Outcome::NotMember;
        break;
    case qzAuthenticator::verdictUnknown:
        if (theAnswer.itsFailedStep == qzAuthenticator::stepOpenGroup &&
            theAnswer.itsStatus == corvel::directory::E_noInterface)
        {
            // The name was found, but not as a group: no group by that name.
            theReply.itsOutcome = Outcome::NotFound;
            theReply.itsError = "the group " + quoted(inGroup) + " names no group (" +
                                theReply.itsGroupDN + "): " + describeStatus(theAnswer.itsStatus);
        }
        else
        {
            theReply.itsOutcome = Outcome::Error;
            theReply.itsError = walkFailureText(theAnswer);
        }
        break;
    }
    return theReply;
}

// --- output -------------------------------------------------------------------

std::string verdictWords(Outcome inOutcome)
{
    switch (inOutcome)
    {
    case Outcome::Member:
        return "member";
    case Outcome::NotMember:
        return "not a member";
    case Outcome::NotFound:
        return "not found";
    default:
        return "error";
    }
}

std::string jsonReply(const Reply& inReply)
{
    std::string theOut = "{\"user\":" + jsonString(inReply.itsUser);
    theOut += ",\"group\":" + jsonString(inReply.itsGroup);
    theOut += ",\"userDN\":" + (inReply.itsHasUserDN ? jsonString(inReply.itsUserDN) : "null");
    theOut += ",\"groupDN\":" + (inReply.itsHasGroupDN ? jsonString(inReply.itsGroupDN) : "null");
    theOut += ",\"member\":";
    theOut += inReply.itsOutcome == Outcome::Member      ? "true"
              : inReply.itsOutcome == Outcome::NotMember ? "false"
                                                         : "null";
    theOut += ",\"path\":" + jsonStrings(inReply.itsPath);
    theOut += ",\"error\":" +
              (inReply.itsError.empty() ? std::string("null") : jsonString(inReply.itsError));
    return theOut + "}\n";
}

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

bool writeOut(const std::string& inText)
{
    return std::fwrite(inText.data(), 1, inText.size(), stdout) == inText.size();
}

void reportError(const std::string& inPrefix, const Reply& inReply)
{
    if (!inReply.itsError.empty())
        std::fprintf(stderr, "qzIsMember: %s%s\n", inPrefix.c_str(), inReply.itsError.c_str());
}

// --- the two modes ------------------------------------------------------------

int askOne(const Options& inOptions)
{
    Reply theReply;
    {
        // One question is one operation: one session, one connection per server.
        corvel::directory::Session theSession;
        qzNameCache theNames;
        theReply = ask(inOptions.itsOperands[0], inOptions.itsOperands[1], theNames, nullptr);
    }
    reportError("", theReply);
    std::string theOut;
    if (inOptions.itsJson)
        theOut = jsonReply(theReply);
    else if (theReply.itsOutcome == Outcome::Member || theReply.itsOutcome == Outcome::NotMember)
    {
        theOut = verdictWords(theReply.itsOutcome) + "\n";
        if (inOptions.itsWhy)
            for (const std::string& curDN : theReply.itsPath)
                theOut += curDN + "\n";
    }
    if (!writeOut(theOut) || std::fflush(stdout) != 0)
    {
        std::fprintf(stderr, "qzIsMember: the answer could not be written\n");
        return theExitIO;
    }
    return theReply.exitCode();
}

// Reads one line of at most theMaxLine bytes; the rest of a longer line is
// read and dropped. False at the end of input (or on a read error).
bool readLine(std::FILE* inFile, std::string& outLine, bool& outTooLong)
{
    outLine.clear();
    outTooLong = false;
    int curChar = std::getc(inFile);
    if (curChar == EOF)
        return false;
    while (curChar != EOF && curChar != '\n')
    {
        if (outLine.size() < theMaxLine)
            outLine += static_cast<char>(curChar);
        else
            outTooLong = true;
        curChar = std::getc(inFile);
    }
    if (!outTooLong && !outLine.empty() && outLine.back() == '\r')
        outLine.pop_back(); // a line from a Windows editor
    return true;
}

// Splits USER<TAB>GROUP; outProblem says why a line is no question.
bool splitQuestion(const std::string& inLine, bool inTooLong, std::string& outUser,
                   std::string& outGroup, std::string& outProblem)
{
    const std::size_t theTab = inLine.find('\t');
    outUser = inLine.substr(0, theTab);
    outGroup = theTab == std::string::npos ? std::string() : inLine.substr(theTab + 1);
    if (inTooLong)
        outProblem = "the line is longer than " + std::to_string(theMaxLine) + " bytes";
    else if (theTab == std::string::npos)
        outProblem = "no tab between the user and the group";
    else if (outGroup.find('\t') != std::string::npos)
        outProblem = "more than one tab: expected USER<TAB>GROUP";
    else if (outUser.empty() || outGroup.empty())
        outProblem = outUser.empty() ? "the user is empty" : "the group is empty";
    else if (inLine.find('\0') != std::string::npos)
        outProblem = "the line holds a NUL byte";
    return outProblem.empty();
}

class qzProgress
{
public:
    explicit qzProgress(bool inShown) : itsShown(inShown) {}
    ~qzProgress()
    {
        if (itsShown && itsWritten)
            std::fprintf(stderr, "\r%40s\r", "");
    }
    qzProgress(const qzProgress&) = delete;
    qzProgress& operator=(const qzProgress&) = delete;

    void answered(std::size_t inCount)
    {
        if (!itsShown)
            return;
        const auto theNow = std::chrono::steady_clock::now();
        if (itsWritten && theNow - itsLast < std::chrono::milliseconds(200))
            return;
        itsLast = theNow;
        itsWritten = true;
        std::fprintf(stderr, "\rqzIsMember: %s answered", std::to_string(inCount).c_str());
        std::fflush(stderr);
    }

private:
    bool itsShown;
    bool itsWritten = false;
    std::chrono::steady_clock::time_point itsLast;
};

int askBatch(const Options& inOptions)
{
    // The whole run is one operation: every call shares this session's
    // service, its connections and caches.
    corvel::directory::Session theRun;
    qzNameCache theNames;
    // With the trace shown, every question is walked live, so that the
    // trace shows each walk as it happens.
    qzWalkMemory theMemory;
    qzWalkMemory* const theUsedMemory = inOptions.itsVerbose ? nullptr : &theMemory;
    qzProgress theProgress(!inOptions.itsVerbose && corvel::platform::stderrIsTerminal());

    int theWorst = theExitMember;
    std::size_t theLineNumber = 0;
    std::string theLine;
    bool theTooLong = false;
    bool theOutputOk = true;
    while (readLine(stdin, theLine, theTooLong))
    {
        ++theLineNumber;
        std::string theUser;
        std::string theGroup;
        std::string theProblem;
        Reply theReply;
        if (splitQuestion(theLine, theTooLong, theUser, theGroup, theProblem))
            theReply = ask(theUser, theGroup, theNames, theUsedMemory);
        else
        {
            theReply.itsUser = theUser;
            theReply.itsGroup = theGroup;
            theReply.itsOutcome = Outcome::Malformed;
            theReply.itsError = theProblem;
        }
        reportError("line " + std::to_string(theLineNumber) + ": ", theReply);
        const int theCode = theReply.exitCode();
        if (theCode != theExitNotMember && theCode > theWorst)
            theWorst = theCode;

        std::string theOut;
        if (inOptions.itsJson)
            theOut = jsonReply(theReply);
        else
        {
            theOut = field(theReply.itsUser) + "\t" + field(theReply.itsGroup) + "\t" +
                     verdictWords(theReply.itsOutcome);
            if (inOptions.itsWhy)
                for (const std::string& curDN : theReply.itsPath)
                    theOut += "\t" + field(curDN);
            theOut += "\n";
        }
        // Each answer as soon as it is known: a script may ask one question
        // at a time through a pipe and wait for its answer.
        if (!writeOut(theOut) || std::fflush(stdout) != 0)
        {
            theOutputOk = false;
            break;
        }
        theProgress.answered(theLineNumber);
    }
    if (!theOutputOk)
    {
        std::fprintf(stderr, "qzIsMember: the answers could not be written\n");
        return theExitIO;
    }
    if (std::ferror(stdin))
    {
        std::fprintf(stderr, "qzIsMember: standard input could not be read after line %s\n",
                     std::to_string(theLineNumber).c_str());
        return theExitIO;
    }
    return theWorst;
}

// False with a message for a command line that cannot be run.
bool parseOptions(int inCount, char* inArgs[], Options& outOptions, std::string& outProblem,
                  bool& outHelp, bool& outVersion)
{
    bool theOptionsEnded = false;
    for (int curIndex = 1; curIndex < inCount; ++curIndex)
    {
        const std::string theArg = inArgs[curIndex];
        if (theOptionsEnded || theArg.empty() || theArg[0] != '-' || theArg == "-")
            outOptions.itsOperands.push_back(theArg);
        else if (theArg == "--")
            theOptionsEnded = true;
        else if (theArg == "--why")
            outOptions.itsWhy = true;
        else if (theArg == "--json")
            outOptions.itsJson = true;
        else if (theArg == "--batch")
            outOptions.itsBatch = true;
        else if (theArg == "-v" || theArg == "--verbose")
            outOptions.itsVerbose = true;
        else if (theArg == "-h" || theArg == "--help")
            outHelp = true;
        else if (theArg == "--version")
            outVersion = true;
        else
        {
            outProblem = "unknown option " + quoted(theArg);
            return false;
        }
    }
    if (outHelp || outVersion)
        return true;
    const std::size_t theWanted = outOptions.itsBatch ? 0 : 2;
    if (outOptions.itsOperands.size() != theWanted)
    {
        outProblem = outOptions.itsBatch ? "--batch takes its questions from standard input, not "
                                           "from the command line"
                                         : "expected a user and a group";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    Options theOptions;
    std::string theProblem;
    bool theHelp = false;
    bool theVersion = false;
    if (!parseOptions(argc, argv, theOptions, theProblem, theHelp, theVersion))
    {
        std::fprintf(stderr, "qzIsMember: %s\n%s", theProblem.c_str(), theUsage);
        return theExitUsage;
    }
    if (theHelp || theVersion)
    {
        const std::string theText =
            theHelp ? std::string(theUsage) + "\n" + theHelpText
                    : std::string("qzIsMember (corvel) ") + QZ_ISMEMBER_VERSION + "\n";
        return writeOut(theText) && std::fflush(stdout) == 0 ? 0 : theExitIO;
    }

    // Quiet for scripts: errors only. -v opens the log up as qzAuthTest does,
    // so that every directory call and the walk's trace show.
    setInfoLogLevel(theOptions.itsVerbose ? qzLogDebug : qzLogError);
    return theOptions.itsBatch ? askBatch(theOptions) : askOne(theOptions);
}
