// The live directory's name translator: names of every format to the
// directory's objects, on the global catalog or a named domain.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_service.h"

namespace corvel::directory::ldap
{

// ---------------------------------------------------------------------------
// Name translator

// The attributes every name lookup reads.
const std::vector<std::string>& nameAttributes();
// The first value of inName in a search result, any case; empty when absent.
std::string firstValue(const Found& inFound, const char* inName);

class LdapTranslator : public NameTranslator
{
public:
    explicit LdapTranslator(std::shared_ptr<LdapService> inService) : itsService(std::move(inService)) {}

    Status init(InitType inKind, const std::string& inPath) override
    {
        return initWith(inKind, inPath, nullptr);
    }

    Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                  const std::string& inDomain, const std::string& inPassword) override
    {
        Credentials theCredentials;
        // AD takes user@dns.domain or DOMAIN\user as the simple bind name.
        if (inUser.find('@') != std::string::npos || inUser.find('\\') != std::string::npos ||
            inDomain.empty())
            theCredentials.itsUser = inUser;
        else if (inDomain.find('.') != std::string::npos)
            theCredentials.itsUser = inUser + "@" + inDomain;
        else
            theCredentials.itsUser = inDomain + "\\" + inUser;
        theCredentials.itsPassword = inPassword;
        return initWith(inKind, inPath, &theCredentials);
    }

    Status set(NameType inType, const std::string& inName) override;
    Status get(NameType inType, std::string& outName) override;

private:
    Status initWith(InitType inKind, const std::string& inPath, const Credentials* inCredentials);
    // nCName, dnsRoot and nETBIOSName of the domain named x (either name).
    Status findDomain(const std::string& inFilter, Found& outCrossRef);
    Status configurationDN(std::string& outDN);
    Status searchOne(const std::string& inBase, const std::string& inFilter, Found& outFound);
    Status byCanonicalName(const std::string& inName, Found& outFound);

    std::shared_ptr<LdapService> itsService;
    Connection* itsConnection = nullptr;
    std::string itsBase; // "" on the global catalog
    std::string itsConfiguration;
    bool itsHasResult = false;
    Found itsResult;
};


} // namespace corvel::directory::ldap
