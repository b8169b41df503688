// qzIsMember's command line.
#pragma once

#include <string>
#include <vector>

#include "corvel/util/auth/question.h"

// Exit statuses (sysexits.h for the last three).
constexpr int theExitMember = 0;
constexpr int theExitNotMember = 1;
constexpr int theExitNotFound = 2;
constexpr int theExitNoAnswer = 3;
constexpr int theExitUsage = 64;   // EX_USAGE
constexpr int theExitBadLine = 65; // EX_DATAERR
constexpr int theExitIO = 74;      // EX_IOERR

struct Options
{
    // How the membership is decided ("down", "up", "token"; empty: token
    // for one question, up for a batch): the same verdict every way.
    std::string itsMethod;
    bool itsWhy = false;
    bool itsJson = false;
    bool itsBatch = false;
    bool itsVerbose = false;
    bool itsHelp = false;
    bool itsVersion = false;
    std::vector<std::string> itsOperands;
};

extern const char* const theUsage;
extern const char* const theHelpText;

// The options of argv, as getopt_long reads them (options may follow the
// operands; "--" ends them). False with the reason in outProblem for a
// command line that cannot be run.
bool parseOptions(int inCount, char* inArgs[], Options& outOptions, std::string& outProblem);

// What the run of questions is asked with.
qzMembershipRun::Options runOptions(const Options& inOptions);
