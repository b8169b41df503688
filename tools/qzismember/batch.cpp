#include "batch.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "corvel/platform/os_console.h"
#include "output.h"

namespace
{

// Longer batch lines are answered as errors: no name of the directory comes
// near it, and the reader never holds more than this of one line.
constexpr std::size_t theMaxLine = 8192;

// Questions answered together: their lookups and each step of their
// answers go to the directory at once. A window is only what has arrived:
// a script that asks one question at a time gets each answer at once.
constexpr std::size_t theWindow = 64;
// Lines read ahead of the answers at most.
constexpr std::size_t theReadAhead = 4096;

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

struct Line
{
    std::string itsText;
    bool itsTooLong = false;
};

// The lines of standard input, read on a thread of their own so that the
// answers can take every line already there without waiting for more.
class LineReader
{
public:
    LineReader() : itsState(std::make_shared<State>())
    {
        std::thread([theState = itsState] { theState->read(); }).detach();
    }
    ~LineReader()
    {
        // A reader blocked on input ends with the process; one waiting for
        // room stops now.
        std::lock_guard<std::mutex> theLock(itsState->itsMutex);
        itsState->itsStopped = true;
        itsState->itsChanged.notify_all();
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line; with inWait false only one already read. False at the
    // end of input (or with nothing there yet when not waiting).
    bool next(Line& outLine, bool inWait)
    {
        std::unique_lock<std::mutex> theLock(itsState->itsMutex);
        if (inWait)
            itsState->itsChanged.wait(
                theLock, [this] { return !itsState->itsLines.empty() || itsState->itsEnded; });
        if (itsState->itsLines.empty())
            return false;
        outLine = std::move(itsState->itsLines.front());
        itsState->itsLines.pop_front();
        itsState->itsChanged.notify_all();
        return true;
    }
    bool failed() const
    {
        std::lock_guard<std::mutex> theLock(itsState->itsMutex);
        return itsState->itsFailed;
    }

private:
    struct State
    {
        std::mutex itsMutex;
        std::condition_variable itsChanged;
        std::deque<Line> itsLines;
        bool itsEnded = false;
        bool itsFailed = false;
        bool itsStopped = false;

        void read()
        {
            Line theLine;
            while (readLine(stdin, theLine.itsText, theLine.itsTooLong))
            {
                std::unique_lock<std::mutex> theLock(itsMutex);
                itsChanged.wait(theLock,
                                [this] { return itsLines.size() < theReadAhead || itsStopped; });
                if (itsStopped)
                    return;
                itsLines.push_back(std::move(theLine));
                itsChanged.notify_all();
            }
            std::lock_guard<std::mutex> theLock(itsMutex);
            itsFailed = std::ferror(stdin) != 0;
            itsEnded = true;
            itsChanged.notify_all();
        }
    };
    std::shared_ptr<State> itsState;
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

// Answers one window of lines, in their order.
std::vector<Reply> answer(qzMembershipRun& ioRun, const std::vector<Line>& inLines)
{
    std::vector<Reply> theReplies(inLines.size());
    std::vector<std::pair<std::string, std::string>> theQuestions;
    std::vector<std::size_t> theQuestionOf;
    for (std::size_t curIndex = 0; curIndex < inLines.size(); ++curIndex)
    {
        std::string theUser;
        std::string theGroup;
        std::string theProblem;
        if (!splitQuestion(inLines[curIndex].itsText, inLines[curIndex].itsTooLong, theUser,
                           theGroup, theProblem))
        {
            theReplies[curIndex] = malformed(theUser, theGroup, theProblem);
            continue;
        }
        theQuestions.emplace_back(std::move(theUser), std::move(theGroup));
        theQuestionOf.push_back(curIndex);
    }
    std::vector<qzMembershipQuestion::Answer> theAnswers = ioRun.askMany(theQuestions);
    for (std::size_t curIndex = 0; curIndex < theAnswers.size(); ++curIndex)
        theReplies[theQuestionOf[curIndex]].itsAnswer = std::move(theAnswers[curIndex]);
    return theReplies;
}

} // namespace

int askBatch(const Options& inOptions)
{
    // The whole run is one operation: every question shares its directory
    // session, its connections and what it learnt.
    qzMembershipRun theRun(runOptions(inOptions));
    qzProgress theProgress(!inOptions.itsVerbose && corvel::platform::stderrIsTerminal());
    LineReader theReader;

    int theWorst = theExitMember;
    std::size_t theLineNumber = 0;
    std::vector<Line> theWindow;
    Line theLine;
    while (theReader.next(theLine, true))
    {
        theWindow.assign(1, std::move(theLine));
        while (theWindow.size() < ::theWindow && theReader.next(theLine, false))
            theWindow.push_back(std::move(theLine));
        const std::vector<Reply> theReplies = answer(theRun, theWindow);
        for (const Reply& curReply : theReplies)
        {
            ++theLineNumber;
            reportError("line " + std::to_string(theLineNumber) + ": ", curReply);
            const int theCode = curReply.exitCode();
            if (theCode != theExitNotMember && theCode > theWorst)
                theWorst = theCode;
            const std::string theOut =
                inOptions.itsJson ? jsonReply(curReply) : batchReply(curReply, inOptions.itsWhy);
            if (!writeOut(theOut))
            {
                std::fprintf(stderr, "qzIsMember: the answers could not be written\n");
                return theExitIO;
            }
        }
        // The window's answers as soon as they are known: a script may ask
        // one question at a time through a pipe and wait for its answer.
        if (std::fflush(stdout) != 0)
        {
            std::fprintf(stderr, "qzIsMember: the answers could not be written\n");
            return theExitIO;
        }
        theProgress.answered(theLineNumber);
    }
    if (theReader.failed())
    {
        std::fprintf(stderr, "qzIsMember: standard input could not be read after line %s\n",
                     std::to_string(theLineNumber).c_str());
        return theExitIO;
    }
    return theWorst;
}
