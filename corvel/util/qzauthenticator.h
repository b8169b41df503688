// qzAuthenticator: the directory authenticator, a class of static operations.
//
// It tells which account the calling thread acts for, turns names as people
// type them (user principal names, DOMAIN\name, distinguished names, bare
// group names) into distinguished names, and decides whether a user is a
// member of a group directly or through nested groups.
//
// Every directory operation brackets its work in its own directory session
// (corvel/platform/directory/dir_service.h) and keeps nothing between calls,
// except what a caller's qzWalkMemory keeps for a run of questions. Each
// has an overload that takes the directory instead (first argument): it
// runs on that service as it is, inside whatever session the caller holds.
// Failures are reported through the result, the information log and the
// debug trace; getObjectDN and isUserInGroup never throw.
//
// The operations live in corvel/util/auth/, one job a file: account.cpp,
// lookup.cpp, walk.cpp, walk_memory.cpp, listing.cpp, logon.cpp, texts.cpp;
// question.h asks the whole membership question as both programs do.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "corvel/platform/directory/dir_service.h"

class qzWalkMemory;

class qzAuthenticator
{
public:
    qzAuthenticator() = delete;

    // --- current account ---

    // The calling thread's account as DOMAIN\name, and its SID text.
    static bool getCurrentUser(std::string& outAccount, std::string& outSid);
    static bool getCurrentUserInfo(std::string& outName, std::string& outDomain,
                                   std::string& outSid);
    // SID text and domain of a named account on the local system.
    static bool getAccountSid(const std::string& inAccountName, std::string& outSid,
                              std::string& outDomain);

    // --- name lookup ---

    // The object's DN, translated on the global catalog with the caller's own
    // credentials. A bare group name that is not found is tried once more
    // with the current account's domain in front.
    static bool getObjectDN(const std::string& inName, std::string& outDN, bool inIsGroup);
    static bool getObjectDN(corvel::directory::DirectoryService& inDirectory,
                            const std::string& inName, std::string& outDN, bool inIsGroup);

    // What a lookup came to: a scripted caller must tell a name the
    // directory does not hold from a directory that could not answer.
    enum LookupResult : std::int32_t
    {
        lookupFound = 0,
        lookupNotFound = 1, // the translator's not found, not unique or no mapping
        lookupFailed = 2,   // no directory, server down, access denied, an exception...
    };

    // getObjectDN with its outcome told apart, the same log and trace lines
    // and the same retry. outStatus is the last status of the translator
    // (0 when found; E_fail or E_outOfMemory after an exception).
    static LookupResult lookupObjectDN(const std::string& inName, std::string& outDN,
                                       bool inIsGroup, corvel::directory::Status& outStatus);
    static LookupResult lookupObjectDN(corvel::directory::DirectoryService& inDirectory,
                                       const std::string& inName, std::string& outDN,
                                       bool inIsGroup, corvel::directory::Status& outStatus);
    // The name in inFormat, translated on the name's own domain (with
    // credentials when a password is given) or on the global catalog. Runs
    // inside the caller's directory session; lets exceptions pass.
    static bool findUser(const std::string& inName, const std::string& inPassword,
                         std::string& outResult, bool& outUsedGlobalCatalog,
                         corvel::directory::NameType inFormat);
    static bool findUser(corvel::directory::DirectoryService& inDirectory,
                         const std::string& inName, const std::string& inPassword,
                         std::string& outResult, bool& outUsedGlobalCatalog,
                         corvel::directory::NameType inFormat);
    // DOMAIN\user or user@domain; false for a DN (any '=') or a bare name.
    // The out-strings are assigned only on success. The rule is
    // names::splitUserName's.
    static bool splitUserName(const std::string& inName, std::string& outUser,
                              std::string& outDomain);

    // --- membership ---

    // Whether the user is a member of the group or of a group nested in it to
    // any depth. Every failure yields false. Built on checkMembership.
    static bool isUserInGroup(const std::string& inGroupDN, const std::string& inUserDN);
    static bool isUserInGroup(corvel::directory::DirectoryService& inDirectory,
                              const std::string& inGroupDN, const std::string& inUserDN);

    enum MembershipVerdict : std::int32_t
    {
        verdictMember = 0,
        verdictNotMember = 1,
        verdictUnknown = 2, // no path found, and some part of the walk failed
    };

    // The step of the walk at which its first failure happened.
    enum WalkStep : std::int32_t
    {
        stepNone = 0,
        stepOpenGroup = 1, // the group asked about (E_noInterface: it is no group)
        stepIsMember = 2,
        stepMembers = 3,    // the member enumeration could not be had
        stepNextMember = 4, // the member enumeration broke off
        stepException = 5,
    };

    struct MembershipAnswer
    {
        MembershipVerdict itsVerdict = verdictUnknown;
        // For a member: the group's DN, each nested group's DN and the
        // user's DN, from the top down. A membership through a primary group
        // is one step like any other. Empty otherwise.
        std::vector<std::string> itsPath;
        // The first failure the walk met, also beside a verdict: a path
        // found counts even when other parts of the walk failed.
        corvel::directory::Status itsStatus = 0;
        WalkStep itsFailedStep = stepNone;
        std::string itsFailedGroup; // DN (or relative name) of the group concerned
    };

    // The membership question with its reasons. A path found is a member
    // whatever else failed; without a path, any failure (the group cannot be
    // opened, an is-member or the member enumeration failing) makes the
    // answer verdictUnknown, never verdictNotMember. The walk and its trace
    // lines are isUserInGroup's. With ioMemory (one thread, one run inside
    // one outer session), the answer may come from what earlier walks under
    // the same group learnt instead, with the same verdict and path and
    // without trace lines: see qzWalkMemory.
    static MembershipVerdict checkMembership(const std::string& inGroupDN,
                                             const std::string& inUserDN,
                                             MembershipAnswer& outAnswer,
                                             qzWalkMemory* ioMemory = nullptr);
    static MembershipVerdict checkMembership(corvel::directory::DirectoryService& inDirectory,
                                             const std::string& inGroupDN,
                                             const std::string& inUserDN,
                                             MembershipAnswer& outAnswer,
                                             qzWalkMemory* ioMemory = nullptr);
    // The walk below an open group, as checkMembership does it. inGroupDN
    // heads the path; inUserDN ends it.
    static MembershipVerdict walkMembership(corvel::directory::DirGroup& inGroup,
                                            const std::string& inGroupDN,
                                            const std::string& inUserPath,
                                            const std::string& inUserDN,
                                            MembershipAnswer& outAnswer);
    // The DN with every '/' written as "\2f", as LDAP paths need it.
    static std::string escapeDN(const std::string& inDN);
    // The walk below an open group, depth-first in directory order. Does not
    // take ownership of inGroup. A group entered once during the walk is not
    // entered again (it counts as false), which cuts off loops and keeps the
    // work to one visit per group.
    static bool _isUserInGroup(corvel::directory::DirGroup& inGroup, const std::string& inUserPath);

    // --- group listing ---

    // Group names (plain names such as "Sales"), ordered byte-wise. The
    // caller owns the set; the listing only adds to it.
    using GroupSet = std::set<std::string>;

    // The groups of the user with this logon name: the direct groups, or in
    // the recursive mode also every group above them. The directory is read
    // with the user's own credentials when the name carried a domain and the
    // password is not empty. Never throws.
    static bool getADUserGroups(const std::string& inUserName, const std::string& inPassword,
                                GroupSet& ioGroups, bool inRecursive);
    static bool getADUserGroups(corvel::directory::DirectoryService& inDirectory,
                                const std::string& inUserName, const std::string& inPassword,
                                GroupSet& ioGroups, bool inRecursive);
    // The same for a user given by DN, inside the caller's directory
    // session. Credentials are passed only when both are non-empty.
    static bool getUserGroups(const std::string& inUserDN, const std::wstring& inUser,
                              const std::wstring& inPassword, GroupSet& ioGroups, bool inRecursive);
    static bool getUserGroups(corvel::directory::DirectoryService& inDirectory,
                              const std::string& inUserDN, const std::wstring& inUser,
                              const std::wstring& inPassword, GroupSet& ioGroups, bool inRecursive);
    // Adds the group's "name" and, while inDepth allows, every group it is
    // a member of. A name already in the set is not walked again, which ends
    // loops. Depth-first in directory order, on an explicit stack.
    static void enumerateGroup(const std::string& inGroupDN, const std::wstring& inUser,
                               const std::wstring& inPassword, GroupSet& ioGroups,
                               std::int32_t inDepth);
    static void enumerateGroup(corvel::directory::DirectoryService& inDirectory,
                               const std::string& inGroupDN, const std::wstring& inUser,
                               const std::wstring& inPassword, GroupSet& ioGroups,
                               std::int32_t inDepth);

    // --- password logon ---

    // Results of authenticateUser.
    enum LogonResult : std::int32_t
    {
        logonAccepted = 0,
        logonUnknownUserOrPassword = 1, // name not resolved, or the plug-in said 9
        logonNotAllowed = 2,            // the plug-in said 10
        logonOtherFailure = 3,          // any other answer of the plug-in
        logonPluginFailure = 4,         // no plug-in, no qzUserLogon, or an exception
    };

    // Checks the password through the logon plug-in "qzSSPI.dll". Names other
    // than a plain DOMAIN\user are first turned into DOMAIN\user through the
    // directory. outStatus carries the loader's error code or the plug-in's
    // status word. Exceptions of the name lookup reach the caller; those of
    // the plug-in give logonPluginFailure.
    static std::int32_t authenticateUser(const std::string& inUserName,
                                         const std::string& inPassword,
                                         const std::string& inSecurityPackage,
                                         std::uint32_t& outStatus);
    static std::int32_t authenticateUser(corvel::directory::DirectoryService& inDirectory,
                                         const std::string& inUserName,
                                         const std::string& inPassword,
                                         const std::string& inSecurityPackage,
                                         std::uint32_t& outStatus);

    // --- texts ---

    // "[0x" + the code in lower-case hex + "] " + the system's text for it.
    static std::string formatErrorText(std::uint32_t inCode);
    // "error 0x8007203A (The directory server cannot be reached.)": a status
    // as the programs' error lines give it, the words when the directory
    // layer has them.
    static std::string describeStatus(corvel::directory::Status inStatus);
};

// What the membership walks of one run learnt about the groups below each
// group asked about: the order the walk enters them in, and every group's
// member values. A later question under the same group is then answered
// from it: the first group in that order that holds the user (or is its
// primary group) is where the walk would have stopped, and the groups above
// it are the path. Only a walk that met no failure is remembered, and a
// question the memory cannot answer exactly (the user cannot be opened as a
// user, its primary group cannot be read) is walked live. The directory is
// taken as unchanged for the run, as the session's own caches take it.
// Holds no directory objects; used by one thread at a time.
class qzWalkMemory
{
public:
    qzWalkMemory();
    ~qzWalkMemory();
    qzWalkMemory(const qzWalkMemory&) = delete;
    qzWalkMemory& operator=(const qzWalkMemory&) = delete;

    // Questions answered from memory, and walks recorded, so far.
    std::size_t replayedCount() const;
    std::size_t recordedCount() const;

    struct Plans; // the remembered walks (auth/walk_memory.h)

private:
    friend Plans& walkMemoryPlans(qzWalkMemory& ioMemory);
    std::unique_ptr<Plans> itsPlans;
};
