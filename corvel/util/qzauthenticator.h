// qzAuthenticator: the directory authenticator, a class of static operations.
//
// It tells which account the calling thread acts for, turns names as people
// type them (user principal names, DOMAIN\name, distinguished names, bare
// group names) into distinguished names, and decides whether a user is a
// member of a group directly or through nested groups.
//
// Every directory operation brackets its work in its own directory session
// (corvel/platform/directory/dir_service.h) and keeps nothing between calls.
// Failures are reported through the result, the information log and the
// debug trace; getObjectDN and isUserInGroup never throw.
#pragma once

#include <cstdint>
#include <string>

#include "corvel/platform/directory/dir_service.h"

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
    // The name in inFormat, translated on the name's own domain (with
    // credentials when a password is given) or on the global catalog. Runs
    // inside the caller's directory session; lets exceptions pass.
    static bool findUser(const std::string& inName, const std::string& inPassword,
                         std::string& outResult, bool& outUsedGlobalCatalog,
                         corvel::directory::NameType inFormat);
    // DOMAIN\user or user@domain; false for a DN (any '=') or a bare name.
    // The out-strings are assigned only on success.
    static bool splitUserName(const std::string& inName, std::string& outUser,
                              std::string& outDomain);

    // --- membership ---

    // Whether the user is a member of the group or of a group nested in it to
    // any depth. Every failure yields false.
    static bool isUserInGroup(const std::string& inGroupDN, const std::string& inUserDN);
    // The DN with every '/' written as "\2f", as LDAP paths need it.
    static std::string escapeDN(const std::string& inDN);
    // The walk below an open group, depth-first in directory order. Does not
    // take ownership of inGroup. A group entered once during the walk is not
    // entered again (it counts as false), which cuts off loops and keeps the
    // work to one visit per group.
    static bool _isUserInGroup(corvel::directory::DirGroup& inGroup,
                               const std::string& inUserPath);

    // --- group listing and password logon (declared with their code) ---

    // --- texts ---

    // "[0x" + the code in lower-case hex + "] " + the system's text for it.
    static std::string formatErrorText(std::uint32_t inCode);
};
