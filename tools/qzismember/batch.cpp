#include "batch.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/os_console.h"
#include "output.h"

namespace
{

// Longer batch lines are answered as errors: no name of the directory comes
// near it, and the reader never holds more than this of one line.
constexpr std::size_t theMaxLine = 8192;

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

// "qzIsMember: N answered" on a terminal's standard error, at most five
// times a second, wiped at the end.
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

Reply malformed(const std::string& inUser, const std::string& inGroup, const std::string& inProblem)
{
    Reply theReply;
    theReply.itsAnswer.itsUser.itsName = inUser;
    theReply.itsAnswer.itsGroup.itsName = inGroup;
    theReply.itsMalformed = true;
    theReply.itsProblem = inProblem;
    return theReply;
}

} // namespace

int askBatch(const Options& inOptions)
{
    // The whole run is one operation: every question shares this session's
    // service, its connections and caches. With the trace shown, every
    // question is walked live, so that the trace shows each walk.
    corvel::directory::Session theSession;
    qzMembershipRun theRun(!inOptions.itsVerbose);
    qzProgress theProgress(!inOptions.itsVerbose && corvel::platform::stderrIsTerminal());

    int theWorst = theExitMember;
    std::size_t theLineNumber = 0;
    std::string theLine;
    bool theTooLong = false;
    while (readLine(stdin, theLine, theTooLong))
    {
        ++theLineNumber;
        std::string theUser;
        std::string theGroup;
        std::string theProblem;
        Reply theReply;
        if (splitQuestion(theLine, theTooLong, theUser, theGroup, theProblem))
            theReply.itsAnswer = theRun.ask(theUser, theGroup);
        else
            theReply = malformed(theUser, theGroup, theProblem);
        reportError("line " + std::to_string(theLineNumber) + ": ", theReply);
        const int theCode = theReply.exitCode();
        if (theCode != theExitNotMember && theCode > theWorst)
            theWorst = theCode;

        // Each answer as soon as it is known: a script may ask one question
        // at a time through a pipe and wait for its answer.
        const std::string theOut =
            inOptions.itsJson ? jsonReply(theReply) : batchReply(theReply, inOptions.itsWhy);
        if (!writeOut(theOut) || std::fflush(stdout) != 0)
        {
            std::fprintf(stderr, "qzIsMember: the answers could not be written\n");
            return theExitIO;
        }
        theProgress.answered(theLineNumber);
    }
    if (std::ferror(stdin))
    {
        std::fprintf(stderr, "qzIsMember: standard input could not be read after line %s\n",
                     std::to_string(theLineNumber).c_str());
        return theExitIO;
    }
    return theWorst;
}
