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
// qzIsMember asks a whole question (ask) or a run of them (qzMembershipRun).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "corvel/util/qzauthenticator.h"

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

// A run of questions (qzIsMember --batch): every question is asked as
// qzMembershipQuestion::ask asks it, and the names found and what the walks
// learnt about each group serve the later ones. The directory is taken as
// unchanged for the run. Used by one thread; open a directory session
// around the run so that its connections serve every question.
class qzMembershipRun
{
public:
    // inRemember false: every question is looked up and walked live (the
    // trace then shows each walk as it happens).
    explicit qzMembershipRun(bool inRemember = true);

    qzMembershipQuestion::Answer ask(const std::string& inUser, const std::string& inGroup);

    const qzWalkMemory& walkMemory() const { return itsWalks; }

private:
    bool itsRemember;
    std::unordered_map<std::string, qzMembershipQuestion::NameAnswer> itsUsers;
    std::unordered_map<std::string, qzMembershipQuestion::NameAnswer> itsGroups;
    qzWalkMemory itsWalks;
};
