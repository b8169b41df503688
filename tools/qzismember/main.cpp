// qzIsMember: whether a user is a member of a group, directly or through
// nested groups, answered for scripts by its exit status.
//
//   qzIsMember [-v] [--why] [--json] [--] USER GROUP
//   qzIsMember [-v] [--why] [--json] --batch   < questions
//
// It asks the question as qzAuthTest does (corvel/util/auth/question.h),
// and never reports a failure as "not a member":
//   0 member, 1 not a member, 2 the user or the group cannot be found,
//   3 the directory could not answer, 64 usage, 65 a batch line that is no
//   question, 74 standard input or output failed.
// options.cpp reads the command line, batch.cpp runs a batch, output.cpp
// writes the answers. docs/man/qzIsMember.1 is the reference.
#include <cstdio>
#include <string>

#include "batch.h"
#include "corvel/debug/qzinfolog.h"
#include "options.h"
#include "output.h"

#ifndef QZ_ISMEMBER_VERSION
#define QZ_ISMEMBER_VERSION "unknown"
#endif

namespace
{

int askOne(const Options& inOptions)
{
    Reply theReply;
    {
        // One question is one operation: one session, one connection per server.
        qzMembershipRun theRun(runOptions(inOptions));
        theReply.itsAnswer = theRun.ask(inOptions.itsOperands[0], inOptions.itsOperands[1]);
    }
    reportError("", theReply);
    const std::string theOut =
        inOptions.itsJson ? jsonReply(theReply) : plainReply(theReply, inOptions.itsWhy);
    if (!writeOut(theOut) || std::fflush(stdout) != 0)
    {
        std::fprintf(stderr, "qzIsMember: the answer could not be written\n");
        return theExitIO;
    }
    return theReply.exitCode();
}

} // namespace

int main(int argc, char* argv[])
{
    Options theOptions;
    std::string theProblem;
    if (!parseOptions(argc, argv, theOptions, theProblem))
    {
        std::fprintf(stderr, "qzIsMember: %s\n%s", theProblem.c_str(), theUsage);
        return theExitUsage;
    }
    if (theOptions.itsHelp || theOptions.itsVersion)
    {
        const std::string theText =
            theOptions.itsHelp ? std::string(theUsage) + "\n" + theHelpText
                               : std::string("qzIsMember (corvel) ") + QZ_ISMEMBER_VERSION + "\n";
        return writeOut(theText) && std::fflush(stdout) == 0 ? 0 : theExitIO;
    }

    // Quiet for scripts: errors only. -v opens the log up as qzAuthTest does,
    // so that every directory call and the walk's trace show.
    setInfoLogLevel(theOptions.itsVerbose ? qzLogDebug : qzLogError);
    return theOptions.itsBatch ? askBatch(theOptions) : askOne(theOptions);
}
