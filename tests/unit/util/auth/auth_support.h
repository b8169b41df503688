// Shared helpers of the authenticator tests: a capture of information-log
// entries (traces arrive there as "* " + text at the debug level), a
// directory built in the test from LDIF text (or written to a file, for the
// logon plug-in), and the identity substitution.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/dir_faults.h"
#include "corvel/testing/platform_hooks.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/os_identity.h"

namespace authtest
{

// A small domain, CORP / corp.example.test: alice is a member of Staff
// through Engineering; bob of Sales; Level0 > Level1 > Level2 > Level3 > carol.
inline std::string corpLdif()
{
    return R"(dn: DC=corp,DC=example,DC=test
objectClass: top
objectClass: domain
objectClass: domainDNS
dc: corp

dn: CN=Partitions,CN=Configuration,DC=corp,DC=example,DC=test
objectClass: top
objectClass: crossRefContainer
cn: Partitions

dn: CN=CORP,CN=Partitions,CN=Configuration,DC=corp,DC=example,DC=test
objectClass: top
objectClass: crossRef
cn: CORP
nCName: DC=corp,DC=example,DC=test
dnsRoot: corp.example.test
nETBIOSName: CORP

dn: OU=People,DC=corp,DC=example,DC=test
objectClass: top
objectClass: organizationalUnit
ou: People

dn: OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: organizationalUnit
ou: Groups

dn: CN=Alice Test,OU=People,DC=corp,DC=example,DC=test
objectClass: top
objectClass: person
objectClass: organizationalPerson
objectClass: user
cn: Alice Test
displayName: Alice Test
sAMAccountName: alice
userPrincipalName: alice@corp.example.test

dn: CN=Bob Test,OU=People,DC=corp,DC=example,DC=test
objectClass: top
objectClass: person
objectClass: organizationalPerson
objectClass: user
cn: Bob Test
sAMAccountName: bob
userPrincipalName: bob@corp.example.test

dn: CN=Carol Test,OU=People,DC=corp,DC=example,DC=test
objectClass: top
objectClass: person
objectClass: organizationalPerson
objectClass: user
cn: Carol Test
sAMAccountName: carol
userPrincipalName: carol@corp.example.test

dn: CN=Engineering,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Engineering
sAMAccountName: Engineering
member: CN=Alice Test,OU=People,DC=corp,DC=example,DC=test

dn: CN=Staff,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Staff
sAMAccountName: Staff
member: CN=Bob Test,OU=People,DC=corp,DC=example,DC=test
member: CN=Engineering,OU=Groups,DC=corp,DC=example,DC=test

dn: CN=Sales,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Sales
sAMAccountName: Sales
member: CN=Bob Test,OU=People,DC=corp,DC=example,DC=test

dn: CN=Level3,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Level3
sAMAccountName: Level3
member: CN=Carol Test,OU=People,DC=corp,DC=example,DC=test

dn: CN=Level2,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Level2
sAMAccountName: Level2
member: CN=Level3,OU=Groups,DC=corp,DC=example,DC=test
member: CN=Bob Test,OU=People,DC=corp,DC=example,DC=test

dn: CN=Level1,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Level1
sAMAccountName: Level1
member: CN=Level2,OU=Groups,DC=corp,DC=example,DC=test

dn: CN=Level0,OU=Groups,DC=corp,DC=example,DC=test
objectClass: top
objectClass: group
cn: Level0
sAMAccountName: Level0
member: CN=Bob Test,OU=People,DC=corp,DC=example,DC=test
member: CN=Level1,OU=Groups,DC=corp,DC=example,DC=test

)";
}

// A group entry under OU=Groups with the given members (full DNs).
inline std::string groupLdif(const std::string& inRdnValue, const std::string& inSam,
                             const std::vector<std::string>& inMembers)
{
    std::string theText = "dn: CN=" + inRdnValue +
                          ",OU=Groups,DC=corp,DC=example,DC=test\n"
                          "objectClass: top\nobjectClass: group\nsAMAccountName: " +
                          inSam + "\n";
    for (const std::string& curMember : inMembers)
        theText += "member: " + curMember + "\n";
    return theText + "\n";
}

inline std::string groupDN(const std::string& inRdnValue)
{
    return "CN=" + inRdnValue + ",OU=Groups,DC=corp,DC=example,DC=test";
}

inline std::string personDN(const std::string& inRdnValue)
{
    return "CN=" + inRdnValue + ",OU=People,DC=corp,DC=example,DC=test";
}

class Capture
{
public:
    Capture()
    {
        {
            std::lock_guard<std::mutex> theLock(mutex());
            lines().clear();
        }
        // Registered outside our lock: the callback takes it while the log
        // holds its own mutex, so holding ours here would invert the order.
        setInfoLogLevel(qzLogDebug);
        addInfoLogCallback(&Capture::callback, qzLogDebug);
    }
    ~Capture() { removeInfoLogCallback(&Capture::callback); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // "<level>|<text>" for every entry since the capture started or was cleared.
    std::vector<std::string> all() const
    {
        std::lock_guard<std::mutex> theLock(mutex());
        return lines();
    }
    // Only the trace lines, without their "* " prefix.
    std::vector<std::string> traces() const
    {
        std::vector<std::string> theTraces;
        for (const std::string& curLine : all())
            if (curLine.rfind("5|* ", 0) == 0)
                theTraces.push_back(curLine.substr(4));
        return theTraces;
    }
    std::size_t count(const std::string& inNeedle) const
    {
        std::size_t theCount = 0;
        for (const std::string& curLine : all())
            if (curLine.find(inNeedle) != std::string::npos)
                ++theCount;
        return theCount;
    }
    void clear()
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().clear();
    }

private:
    static bool callback(qzInfoLogLevel inLevel, const char* inText)
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().push_back(std::to_string(static_cast<int>(inLevel)) + "|" + inText);
        return true; // keep the test output quiet
    }
    static std::mutex& mutex()
    {
        static std::mutex theMutex;
        return theMutex;
    }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> theLines;
        return theLines;
    }
};

// A directory built in the test from LDIF text, handed to every
// authenticator operation of this thread for the object's lifetime (a
// session of its own, which the operations' sessions share). Faults
// injected through tests/support/dir_faults.h apply to it.
class LdifDirectory
{
public:
    explicit LdifDirectory(const std::string& inText)
        : itsService(corvel::directory::faults::wrap(
              corvel::directory::ldif::makeLdifServiceFromText(inText, "test directory"))),
          itsSession(itsService)
    {
    }
    ~LdifDirectory() { corvel::directory::faults::clearFaults(); }
    LdifDirectory(const LdifDirectory&) = delete;
    LdifDirectory& operator=(const LdifDirectory&) = delete;

    // For another thread's session, or an operation's overload.
    const std::shared_ptr<corvel::directory::DirectoryService>& service() const
    {
        return itsService;
    }

private:
    std::shared_ptr<corvel::directory::DirectoryService> itsService;
    corvel::directory::Session itsSession;
};

// The same text as a file that this process's directory setting names:
// for the logon plug-in, which reads the directory the configuration names.
class LdifFile
{
public:
    explicit LdifFile(const std::string& inText)
    {
        itsPath =
            std::filesystem::temp_directory_path() /
            ("qzauth_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++) + ".ldif");
        std::ofstream theFile(itsPath, std::ios::binary);
        theFile << inText;
        theFile.close();
        ::setenv("CORVEL_DIRECTORY", ("ldif:" + itsPath.string()).c_str(), 1);
    }
    ~LdifFile()
    {
        corvel::directory::faults::clearFaults();
        ::unsetenv("CORVEL_DIRECTORY");
        std::error_code theError;
        std::filesystem::remove(itsPath, theError);
    }
    LdifFile(const LdifFile&) = delete;
    LdifFile& operator=(const LdifFile&) = delete;

    std::string path() const { return itsPath.string(); }

private:
    static int& counter()
    {
        static int theCounter = 0;
        return theCounter;
    }
    std::filesystem::path itsPath;
};

// Acts as the given account for the lifetime of the object.
class ActAs
{
public:
    ActAs(const std::string& inName, const std::string& inDomain, const std::string& inSid)
    {
        corvel::platform::setIdentityOverride(inName, inDomain, inSid);
    }
    ~ActAs() { corvel::platform::clearIdentityOverride(); }
    ActAs(const ActAs&) = delete;
    ActAs& operator=(const ActAs&) = delete;
};

} // namespace authtest
