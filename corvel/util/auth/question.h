// The membership question as both programs ask it: "is USER a member of
// GROUP, directly or through nested groups?"
//
// The steps are qzAuthenticator's, with their log and trace lines: the
// user's name looked up (lookupObjectDN), then the group's, then the walk
// below the group (checkMembership). The answer comes back whole: both
// lookups with their outcomes, the verdict with its path, the first failure,
// and what it all counts as for a caller that must act on it. Which
// failures count as "not found" is decided here, once: a name the directory
// does not hold (not found, not unique, no mapping), and a group name that
// names something other than a group.
//
// qzAuthTest takes the steps one by one, printing its report between them;
// qzIsMember asks through a run (qzMembershipRun), which may also decide
// from the user's side of the graph, at a cost that follows the user's
// groups and not the size of the group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "corvel/util/qzauthenticator.h"

namespace corvel::auth
{
class Ancestry;
}

class qzMembershipQuestion
{
public:
    // What an answer counts as for a caller that must act on it.
    enum Outcome : std::int32_t
    {
        outcomeMember = 0,
        outcomeNotMember = 1,
        outcomeNotFound = 2, // the user or the group is not there, or the group is no group
        outcomeNoAnswer = 3, // the directory could not answer
    };

    struct NameAnswer
    {
        std::string itsName; // as given
        bool itsAsked = false;
        qzAuthenticator::LookupResult itsResult = qzAuthenticator::lookupFailed;
        std::string itsDN;
        corvel::directory::Status itsStatus = 0;

        bool found() const { return itsAsked && itsResult == qzAuthenticator::lookupFound; }
    };

    struct Answer
    {
        NameAnswer itsUser;
        NameAnswer itsGroup;
        bool itsWalked = false;
        qzAuthenticator::MembershipAnswer itsWalk; // verdict, path and first failure

        Outcome outcome() const;
        // Why there is no verdict, in words ("the user \"x\" was not found:
        // error 0x80072116 (...)"); empty with a verdict.
        std::string problem() const;
    };

    // On the directory of the calling thread's session (each step opens its
    // own, as the authenticator's operations do), or on inDirectory.
    qzMembershipQuestion(const std::string& inUser, const std::string& inGroup);
    qzMembershipQuestion(corvel::directory::DirectoryService& inDirectory,
                         const std::string& inUser, const std::string& inGroup);

    // The steps. Each returns whether the question can go on: a name found
    // (lookUpUser, lookUpGroup), a verdict (decide).
    bool lookUpUser();
    bool lookUpGroup();
    bool decide(qzWalkMemory* ioMemory = nullptr);

    const Answer& answer() const { return itsAnswer; }

    // The whole question: the user, the group (also when the user was not
    // found, so that the answer names both), then the walk when both were
    // found.
    static Answer ask(const std::string& inUser, const std::string& inGroup);
    static Answer ask(corvel::directory::DirectoryService& inDirectory, const std::string& inUser,
                      const std::string& inGroup);

private:
    friend class qzMembershipRun;
    using LookUp = std::function<void(NameAnswer& ioName, bool inIsGroup)>;
    // One name, as lookUpUser and lookUpGroup look it up.
    void lookUp(NameAnswer& ioName, bool inIsGroup);
    // The whole question, each name looked up by inLookUp.
    void askAll(const LookUp& inLookUp, qzWalkMemory* ioMemory);

    corvel::directory::DirectoryService* itsDirectory = nullptr; // null: the session's
    Answer itsAnswer;
};

// A run of questions (qzIsMember): each asked as qzMembershipQuestion::ask
// asks it, the lookups and the reads of many of them sent together, and
// what was learnt (the names found, the groups read, the walks made) serving
// the later ones. The directory is taken as unchanged for the run. Used by
// one thread; the run is one directory session.
class qzMembershipRun
{
public:
    // How the membership is decided; every method gives the walk's verdict.
    enum Method : std::int32_t
    {
        // Down from the group, as qzAuthTest walks, with its trace lines.
        methodDown = 0,
        // Up from the user: its groups (memberOf and its primary group), then
        // theirs, a level of every question a round trip.
        methodUp = 1,
        // The user's token (tokenGroups) first: the security groups it
        // reaches, read with the groups above them at once; up from there
        // where the token cannot decide.
        methodToken = 2,
    };

    struct Options
    {
        Method itsMethod = methodToken;
        // Whether a member's path is wanted: without it the token may
        // answer alone.
        bool itsWantPath = true;
        // false: nothing is kept between questions, and the walks down are
        // made live (the trace then shows each as it happens).
        bool itsRemember = true;
    };

    explicit qzMembershipRun(const Options& inOptions);
    // On a directory handed in instead of the session's.
    qzMembershipRun(corvel::directory::DirectoryService& inDirectory, const Options& inOptions);
    ~qzMembershipRun();
    qzMembershipRun(const qzMembershipRun&) = delete;
    qzMembershipRun& operator=(const qzMembershipRun&) = delete;

    qzMembershipQuestion::Answer ask(const std::string& inUser, const std::string& inGroup);
    // The answers in the questions' order; the questions' lookups go out
    // together, and so do the reads of each step of their answers.
    std::vector<qzMembershipQuestion::Answer>
    askMany(const std::vector<std::pair<std::string, std::string>>& inQuestions);

private:
    void lookUp(std::vector<qzMembershipQuestion::Answer>& ioAnswers);
    void decide(std::vector<qzMembershipQuestion::Answer>& ioAnswers);
    void decideDown(qzMembershipQuestion::Answer& ioAnswer, const std::string& inWhy);

    Options itsOptions;
    std::unique_ptr<corvel::directory::Session> itsSession; // when none is handed in
    corvel::directory::DirectoryService& itsDirectory;
    std::unordered_map<std::string, qzMembershipQuestion::NameAnswer> itsUsers;
    std::unordered_map<std::string, qzMembershipQuestion::NameAnswer> itsGroups;
    qzWalkMemory itsWalks;
    std::unique_ptr<corvel::auth::Ancestry> itsAncestry;
};
