// The choice of directory on POSIX: CORVEL_DIRECTORY, else OpenLDAP's own
// client configuration, else the directory of the caller's Kerberos realm,
// found through the DNS as Active Directory's clients find it. With no realm
// either, initialising a translator fails with "no such domain".
#include "corvel/platform/directory/dir_service.h"

#include <cstdlib>
#include <fstream>

#include "corvel/platform/os_report.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_backend.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"

namespace corvel::directory
{

namespace
{

// What a machine in no domain answers: there is a service, but no domain
// behind it.
class NoDirectoryTranslator final : public NameTranslator
{
public:
    Status init(InitType, const std::string&) override { return E_noSuchDomain; }
    Status initEx(InitType, const std::string&, const std::string&, const std::string&,
                  const std::string&) override
    {
        return E_noSuchDomain;
    }
    Status set(NameType, const std::string&) override { return E_noSuchDomain; }
    Status get(NameType, std::string&) override { return E_noSuchDomain; }
};

class NoDirectoryService final : public DirectoryService
{
public:
    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override
    {
        outTranslator = std::make_unique<NoDirectoryTranslator>();
        return S_ok;
    }
    Status openObject(const std::string&, const Credentials*, ObjectKind,
                      std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        return E_noSuchDomain;
    }
};

std::string getEnv(const char* inName)
{
    const char* theValue = std::getenv(inName);
    return theValue ? std::string(theValue) : std::string();
}

std::string trimBlanks(const std::string& inText)
{
    std::size_t theBegin = inText.find_first_not_of(" \t\r\n");
    if (theBegin == std::string::npos)
        return std::string();
    std::size_t theEnd = inText.find_last_not_of(" \t\r\n");
    return inText.substr(theBegin, theEnd - theBegin + 1);
}

// The URI option of one OpenLDAP client configuration file; a later URI
// line wins, as in libldap. ioUri is left alone when the file has none or
// cannot be read.
void readUriOption(const std::string& inPath, std::string& ioUri)
{
    std::ifstream theFile(inPath);
    if (!theFile)
        return;
    std::string theLine;
    while (std::getline(theFile, theLine))
    {
        std::string theText = trimBlanks(theLine);
        if (theText.empty() || theText[0] == '#')
            continue;
        std::size_t theBlank = theText.find_first_of(" \t");
        if (theBlank == std::string::npos)
            continue;
        if (dn::toLowerAscii(theText.substr(0, theBlank)) != "uri")
            continue;
        std::string theValue = trimBlanks(theText.substr(theBlank));
        if (!theValue.empty())
            ioUri = theValue;
    }
}

bool hasPrefix(const std::string& inText, const char* inPrefix)
{
    std::string thePrefix(inPrefix);
    return inText.size() >= thePrefix.size() &&
           dn::toLowerAscii(inText.substr(0, thePrefix.size())) == thePrefix;
}

} // namespace

std::string configuredDirectory()
{
    std::string theNamed = trimBlanks(getEnv("CORVEL_DIRECTORY"));
    if (!theNamed.empty())
        return theNamed;

    // libldap's own order: the system file (or LDAPCONF), the user's files,
    // the files named by LDAPRC, then the LDAPURI variable. LDAPNOINIT turns
    // all of it off.
    if (std::getenv("LDAPNOINIT") != nullptr)
        return std::string();
    std::string theUri;
    std::string theConf = getEnv("LDAPCONF");
    readUriOption(theConf.empty() ? std::string("/etc/ldap/ldap.conf") : theConf, theUri);
    std::string theHome = getEnv("HOME");
    if (!theHome.empty())
    {
        readUriOption(theHome + "/ldaprc", theUri);
        readUriOption(theHome + "/.ldaprc", theUri);
    }
    readUriOption("ldaprc", theUri);
    std::string theRc = getEnv("LDAPRC");
    if (!theRc.empty())
    {
        if (!theHome.empty())
        {
            readUriOption(theHome + "/" + theRc, theUri);
            readUriOption(theHome + "/." + theRc, theUri);
        }
        readUriOption(theRc, theUri);
    }
    std::string theEnvUri = trimBlanks(getEnv("LDAPURI"));
    if (!theEnvUri.empty())
        theUri = theEnvUri;
    return theUri;
}

std::shared_ptr<DirectoryService> openDirectoryService()
{
    std::string theConfig = configuredDirectory();
    std::shared_ptr<DirectoryService> theService;
    if (hasPrefix(theConfig, "ldif:"))
    {
        theService = ldif::makeLdifService(theConfig.substr(5));
    }
    else if (hasPrefix(theConfig, "ldap://") || hasPrefix(theConfig, "ldaps://"))
    {
        theService = ldap::makeLdapService(theConfig);
        if (!theService)
            platform::reportLog(
                platform::Report_error,
                "the directory \"%s\" names no server (expected ldap://host[:port])",
                theConfig.c_str());
    }
    else if (theConfig.empty())
        // Nothing configured: the directory of the caller's domain, as a
        // domain-joined host finds it (Kerberos realm, DNS SRV records).
        theService = ldap::makeLdapService(std::string());
    else if (!theConfig.empty())
    {
        platform::reportLog(
            platform::Report_error,
            "the directory \"%s\" is of no known kind (expected ldif:PATH, ldap:// or ldaps://)",
            theConfig.c_str());
    }
    if (!theService)
        theService = std::make_shared<NoDirectoryService>();
    return theService;
}

} // namespace corvel::directory
