// Name translation on the LDIF backend with arbitrary input: a small fixed
// directory is loaded once, then each input is set as a name of unknown
// format and got back in every format, used as a domain to initialise on,
// and opened as an LDAP path. Whatever a name resolves to must resolve to
// itself again by its DN.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"

using namespace corvel::directory;

namespace
{
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

// Two domains, nested groups with a loop, a '/' and escapes in DNs, a member
// that names nothing, a SID and a GUID in text form.
const char theDirectoryText[] =
    "version: 1\n\n"
    "dn: DC=corp,DC=example,DC=test\nobjectClass: domainDNS\n\n"
    "dn: DC=eu,DC=corp,DC=example,DC=test\nobjectClass: domainDNS\n\n"
    "dn: CN=CORP,CN=Partitions,CN=Configuration,DC=corp,DC=example,DC=test\nobjectClass: crossRef\n"
    "nCName: DC=corp,DC=example,DC=test\ndnsRoot: corp.example.test\nnETBIOSName: CORP\n\n"
    "dn: CN=EU,CN=Partitions,CN=Configuration,DC=corp,DC=example,DC=test\nobjectClass: crossRef\n"
    "nCName: DC=eu,DC=corp,DC=example,DC=test\ndnsRoot: eu.corp.example.test\nnETBIOSName: EU\n\n"
    "dn: OU=People,DC=corp,DC=example,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: CN=Alice Test,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
    "sAMAccountName: alice\nuserPrincipalName: alice@corp.example.test\ndisplayName: Alice T\n"
    "objectSid: S-1-5-21-1-2-3-1104\nobjectGUID: {6B29FC40-CA47-1067-B31D-00DD010662DA}\n"
    "servicePrincipalName: HTTP/alice.corp.example.test\n\n"
    "dn: CN=Smith\\, John,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
    "sAMAccountName: jsmith\n\n"
    "dn: CN=Eve,DC=eu,DC=corp,DC=example,DC=test\nobjectClass: user\nsAMAccountName: alice\n\n"
    "dn: CN=R/D Team,DC=corp,DC=example,DC=test\nobjectClass: group\nsAMAccountName: R/D\n"
    "member: CN=Alice Test,OU=People,DC=corp,DC=example,DC=test\n"
    "member: CN=Nobody,OU=Gone,DC=corp,DC=example,DC=test\n\n"
    "dn: CN=LoopA,DC=corp,DC=example,DC=test\nobjectClass: group\nsAMAccountName: LoopA\n"
    "member: CN=LoopB,DC=corp,DC=example,DC=test\nmember: CN=R/D "
    "Team,DC=corp,DC=example,DC=test\n\n"
    "dn: CN=LoopB,DC=corp,DC=example,DC=test\nobjectClass: group\nsAMAccountName: LoopB\n"
    "member: CN=LoopA,DC=corp,DC=example,DC=test\n\n";

std::shared_ptr<DirectoryService> theService;

const NameType theFormats[] = {NameType_1779,
                               NameType_Canonical,
                               NameType_NT4,
                               NameType_Display,
                               NameType_GUID,
                               NameType_UserPrincipalName,
                               NameType_SIDOrSIDHistory,
                               NameType_ServicePrincipalName,
                               NameType_Unknown};

void translate(const std::string& inName)
{
    std::unique_ptr<NameTranslator> theTranslator;
    require(theService->createNameTranslator(theTranslator) == S_ok && theTranslator);
    require(theTranslator->init(InitType_GC, "") == S_ok);
    const Status theSet = theTranslator->set(NameType_Unknown, inName);
    std::string theDN;
    const Status theGotDN = theTranslator->get(NameType_1779, theDN);
    require(succeeded(theSet) == succeeded(theGotDN));
    for (NameType curFormat : theFormats)
    {
        std::string theOut;
        (void)theTranslator->get(curFormat, theOut);
    }
    if (failed(theSet))
        return;
    // The DN found names the object found.
    std::unique_ptr<NameTranslator> theAgain;
    require(theService->createNameTranslator(theAgain) == S_ok);
    require(theAgain->init(InitType_GC, "") == S_ok);
    require(theAgain->set(NameType_1779, theDN) == S_ok);
    std::string theSameDN;
    require(theAgain->get(NameType_1779, theSameDN) == S_ok && theSameDN == theDN);
}

void initOn(const std::string& inDomain)
{
    std::unique_ptr<NameTranslator> theTranslator;
    require(theService->createNameTranslator(theTranslator) == S_ok);
    if (theTranslator->initEx(InitType_Domain, inDomain, inDomain, inDomain, inDomain) == S_ok)
    {
        std::string theOut;
        (void)theTranslator->set(NameType_NT4, inDomain);
        (void)theTranslator->get(NameType_NT4, theOut);
    }
}

void openPath(const std::string& inText)
{
    std::unique_ptr<DirObject> theObject;
    if (theService->openObject("LDAP://" + inText, nullptr, ObjectKind::Object, theObject) != S_ok)
        return;
    require(theObject != nullptr);
    std::string theName;
    std::vector<std::string> theValues;
    (void)theObject->getName(theName);
    (void)theObject->getEx("memberOf", theValues);
    if (DirGroup* theGroup = theObject->asGroup())
    {
        bool theIsMember = false;
        (void)theGroup->isMember(inText, theIsMember);
        std::unique_ptr<DirEnumerator> theMembers;
        if (theGroup->members(theMembers) == S_ok)
        {
            std::unique_ptr<DirObject> curMember;
            for (int curCount = 0; curCount < 16 && theMembers->next(curMember) == S_ok; ++curCount)
                (void)curMember->get("name", theName);
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setInfoLog("", 0);
    const char* theTmp = std::getenv("TMPDIR");
    const std::string thePath = std::string(theTmp && *theTmp ? theTmp : "/tmp") +
                                "/name_translate_fuzz." + std::to_string(::getpid()) + ".ldif";
    std::FILE* theFile = std::fopen(thePath.c_str(), "w");
    require(theFile != nullptr);
    require(std::fwrite(theDirectoryText, 1, sizeof theDirectoryText - 1, theFile) ==
            sizeof theDirectoryText - 1);
    std::fclose(theFile);
    theService = ldif::makeLdifService(thePath);
    std::remove(thePath.c_str());
    // The directory must be there, or every run would test nothing.
    std::unique_ptr<NameTranslator> theTranslator;
    require(theService->createNameTranslator(theTranslator) == S_ok);
    require(theTranslator->init(InitType_GC, "") == S_ok);
    require(theTranslator->set(NameType_Unknown, "alice@corp.example.test") == S_ok);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    const std::string theText(reinterpret_cast<const char*>(inData), inSize);
    translate(theText);
    initOn(theText);
    openPath(theText);
    return 0;
}
