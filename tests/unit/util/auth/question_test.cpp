// The membership question as both programs ask it: what each kind of answer
// counts as, the words of its problem, and the path, over a directory built
// in the test and one made to fail.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth_support.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/util/auth/question.h"

namespace
{

using authtest::groupDN;
using authtest::personDN;
using corvel::directory::faults::FaultOp;
using Outcome = qzMembershipQuestion::Outcome;

// A run that walks down, as the question alone does: a failure of the walk
// is the same failure.
qzMembershipRun downRun()
{
    qzMembershipRun::Options theOptions;
    theOptions.itsMethod = qzMembershipRun::methodDown;
    return qzMembershipRun(theOptions);
}

TEST(MembershipQuestion, OutcomesProblemsAndPaths)
{
    const std::string theLdif =
        authtest::corpLdif() + authtest::groupLdif("Broken", "Broken", {groupDN("Sales")});
    authtest::LdifDirectory theDirectory(theLdif);
    struct Case
    {
        std::string itsUser;
        std::string itsGroup;
        Outcome itsOutcome;
        std::string itsProblem; // its beginning
        std::vector<std::string> itsPath;
    };
    const Case theCases[] = {
        {"alice@corp.example.test",
         "CORP\\Staff",
         qzMembershipQuestion::outcomeMember,
         "",
         {groupDN("Staff"), groupDN("Engineering"), personDN("Alice Test")}},
        {"bob@corp.example.test",
         "CORP\\Level0",
         qzMembershipQuestion::outcomeMember,
         "",
         {groupDN("Level0"), personDN("Bob Test")}},
        {"alice@corp.example.test", "CORP\\Level0", qzMembershipQuestion::outcomeNotMember, "", {}},
        {"nobody@corp.example.test",
         "CORP\\Staff",
         qzMembershipQuestion::outcomeNotFound,
         "the user \"nobody@corp.example.test\" was not found: error 0x80072116",
         {}},
        {"nobody@corp.example.test",
         "CORP\\None",
         qzMembershipQuestion::outcomeNotFound,
         "the user \"nobody@corp.example.test\" was not found: error 0x80072116 (The name was "
         "not found in the directory.); the group \"CORP\\None\" was not found",
         {}},
        {"alice@corp.example.test",
         "CORP\\bob",
         qzMembershipQuestion::outcomeNotFound,
         "the group \"CORP\\bob\" names no group (" + personDN("Bob Test") + "): error 0x80004002",
         {}},
        // Sales is a member of Broken, and its members cannot be read.
        {"alice@corp.example.test",
         "CORP\\Broken",
         qzMembershipQuestion::outcomeNoAnswer,
         "the members of \"" + groupDN("Sales") + "\" could not be read: error 0x8007203A",
         {}},
        // A path found elsewhere decides even though a part of the walk failed.
        {"bob@corp.example.test",
         "CORP\\Broken",
         qzMembershipQuestion::outcomeMember,
         "",
         {groupDN("Broken"), groupDN("Sales"), personDN("Bob Test")}},
    };
    corvel::directory::faults::injectFault(FaultOp::Members, groupDN("Sales"),
                                           corvel::directory::E_serverDown);
    for (const Case& curCase : theCases)
    {
        // Asked whole, on the session's directory and on the directory
        // handed in, and by a run: the same answer.
        const qzMembershipQuestion::Answer theAnswers[] = {
            qzMembershipQuestion::ask(curCase.itsUser, curCase.itsGroup),
            qzMembershipQuestion::ask(*theDirectory.service(), curCase.itsUser, curCase.itsGroup),
            downRun().ask(curCase.itsUser, curCase.itsGroup),
        };
        for (const qzMembershipQuestion::Answer& curAnswer : theAnswers)
        {
            const std::string theName = curCase.itsUser + " in " + curCase.itsGroup;
            EXPECT_EQ(curAnswer.outcome(), curCase.itsOutcome) << theName;
            EXPECT_EQ(curAnswer.problem().substr(0, curCase.itsProblem.size()), curCase.itsProblem)
                << theName << ": " << curAnswer.problem();
            EXPECT_EQ(curAnswer.problem().empty(), curCase.itsProblem.empty()) << theName;
            EXPECT_EQ(curAnswer.itsWalk.itsPath, curCase.itsPath) << theName;
            // Both names are looked up even when the user is not found.
            EXPECT_TRUE(curAnswer.itsGroup.itsAsked) << theName;
        }
    }
}

TEST(MembershipQuestion, DirectoryThatCannotAnswerIsNoAnswer)
{
    corvel::directory::Session theSession(
        corvel::directory::ldif::makeLdifService("/nonexistent/qz-question.ldif"));
    const qzMembershipQuestion::Answer theAnswer =
        qzMembershipQuestion::ask("alice@corp.example.test", "CORP\\Staff");
    EXPECT_EQ(theAnswer.outcome(), qzMembershipQuestion::outcomeNoAnswer);
    EXPECT_FALSE(theAnswer.itsGroup.itsAsked) << "a failed user lookup ends the question";
    EXPECT_EQ(theAnswer.problem().rfind("the directory could not look up the user "
                                        "\"alice@corp.example.test\": error 0x",
                                        0),
              0u)
        << theAnswer.problem();
}

TEST(MembershipQuestion, StepsStopWhereTheDriverStops)
{
    authtest::LdifDirectory theDirectory(authtest::corpLdif());
    qzMembershipQuestion theQuestion("nobody@corp.example.test", "CORP\\Staff");
    EXPECT_FALSE(theQuestion.lookUpUser());
    EXPECT_FALSE(theQuestion.answer().itsGroup.itsAsked);
    EXPECT_EQ(theQuestion.answer().outcome(), qzMembershipQuestion::outcomeNotFound);

    qzMembershipQuestion theFound("alice@corp.example.test", "CORP\\Staff");
    EXPECT_TRUE(theFound.lookUpUser());
    EXPECT_TRUE(theFound.lookUpGroup());
    EXPECT_EQ(theFound.answer().outcome(), qzMembershipQuestion::outcomeNoAnswer)
        << "no verdict before the walk";
    EXPECT_TRUE(theFound.decide());
    EXPECT_EQ(theFound.answer().outcome(), qzMembershipQuestion::outcomeMember);
}

} // namespace
