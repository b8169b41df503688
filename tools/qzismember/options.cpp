#include "options.h"

#include <getopt.h>

const char* const theUsage =
    "usage: qzIsMember [-v] [--why] [--json] [--method=M] [--] USER GROUP\n"
    "       qzIsMember [-v] [--why] [--json] [--method=M] --batch < QUESTIONS\n"
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
    "  --method=M  how to decide: token (the user's token, then up from the\n"
    "              user; the default for one question), up (up from the user;\n"
    "              the default for a batch), or down (down from the group, as\n"
    "              qzAuthTest does); the same answer\n"
    "  -v, --verbose  show the directory calls and the walk (debug trace)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "  --             the end of the options\n"
    "\n"
    "The directory is found as qzAuthTest finds it: CORVEL_DIRECTORY\n"
    "(ldif:PATH, ldap://host, ldaps://host), else OpenLDAP's client\n"
    "configuration. See qzIsMember(1).\n";

namespace
{

enum LongOnly : int
{
    optWhy = 0x100,
    optJson,
    optBatch,
    optVersion,
    optMethod,
};

std::string quoted(const std::string& inText) { return "\"" + inText + "\""; }

} // namespace

bool parseOptions(int inCount, char* inArgs[], Options& outOptions, std::string& outProblem)
{
    static const option theLongOptions[] = {
        {"why", no_argument, nullptr, optWhy},
        {"json", no_argument, nullptr, optJson},
        {"batch", no_argument, nullptr, optBatch},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, optVersion},
        {"method", required_argument, nullptr, optMethod},
        {nullptr, 0, nullptr, 0},
    };
    // Our own messages, not getopt's; and a fresh scan for every call.
    opterr = 0;
    optind = 0;
    for (;;)
    {
        const int theOption = getopt_long(inCount, inArgs, "vh", theLongOptions, nullptr);
        if (theOption == -1)
            break;
        switch (theOption)
        {
        case optWhy:
            outOptions.itsWhy = true;
            break;
        case optJson:
            outOptions.itsJson = true;
            break;
        case optBatch:
            outOptions.itsBatch = true;
            break;
        case optVersion:
            outOptions.itsVersion = true;
            break;
        case optMethod:
            outOptions.itsMethod = optarg;
            if (outOptions.itsMethod != "token" && outOptions.itsMethod != "up" &&
                outOptions.itsMethod != "down")
            {
                outProblem = "unknown method " + quoted(outOptions.itsMethod) +
                             ": expected token, up or down";
                return false;
            }
            break;
        case 'v':
            outOptions.itsVerbose = true;
            break;
        case 'h':
            outOptions.itsHelp = true;
            break;
        default:
            // optopt names an unknown short option; a long one is the
            // argument just read.
            outProblem = "unknown option " + quoted(optopt > 0 && optopt < 0x100
                                                        ? std::string("-") + char(optopt)
                                                        : std::string(inArgs[optind - 1]));
            return false;
        }
    }
    for (int curIndex = optind; curIndex < inCount; ++curIndex)
        outOptions.itsOperands.push_back(inArgs[curIndex]);
    if (outOptions.itsHelp || outOptions.itsVersion)
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

qzMembershipRun::Options runOptions(const Options& inOptions)
{
    qzMembershipRun::Options theOptions;
    // One question: the token answers a member in the fewest round trips.
    // A batch: the groups above its users are read once for all of them, and
    // reading each user's token would cost the server more than they save.
    const std::string theMethod =
        inOptions.itsMethod.empty() ? (inOptions.itsBatch ? "up" : "token") : inOptions.itsMethod;
    theOptions.itsMethod = theMethod == "down" ? qzMembershipRun::methodDown
                           : theMethod == "up" ? qzMembershipRun::methodUp
                                               : qzMembershipRun::methodToken;
    // The path is printed with --why, and is part of every JSON answer.
    theOptions.itsWantPath = inOptions.itsWhy || inOptions.itsJson;
    // What one question learns serves no other: a question alone is
    // answered live, and so is every question of a batch with the trace
    // shown, so that the trace shows each walk as it happens.
    theOptions.itsRemember = inOptions.itsBatch && !inOptions.itsVerbose;
    return theOptions;
}
