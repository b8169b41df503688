#include "corvel/platform/directory/ldap/ldap_service.h"

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_backend.h"
#include "corvel/platform/directory/ldap/ldap_objects.h"
#include "corvel/platform/directory/ldap/ldap_translator.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

// ---------------------------------------------------------------------------
// Service

Target LdapService::objectTarget(const std::string& inServer) const
{
    Target theTarget = itsTargets.empty() ? Target{} : itsTargets[itsActive];
    if (theTarget.itsPort == kGcPort || theTarget.itsPort == kGcsPort)
        theTarget.itsPort = theTarget.itsTls ? kLdapsPort : kLdapPort;
    if (!inServer.empty() &&
        !parseHostPort(inServer, theTarget.itsTls ? kLdapsPort : kLdapPort, theTarget.itsHost,
                       theTarget.itsPort))
        theTarget.itsHost.clear(); // no server at all rather than a wrong one
    return theTarget;
}

Target LdapService::gcTarget() const
{
    Target theTarget = itsTargets.empty() ? Target{} : itsTargets[itsActive];
    theTarget.itsPort = theTarget.itsTls ? kGcsPort : kGcPort;
    return theTarget;
}

Status LdapService::connection(const Target& inTarget, const Credentials* inCredentials,
                               Connection*& outConnection)
{
    if (inTarget.itsHost.empty())
        return E_noSuchDomain;
    const bool theHasCredentials = inCredentials != nullptr && !inCredentials->isEmpty();
    // The key holds the password itself: a cached bind must never stand in
    // for a different password. It stays in memory, in this session only.
    std::string theKey = lower(inTarget.itsHost) + '\n' + std::to_string(inTarget.itsPort) + '\n' +
                         (inTarget.itsTls ? "s" : "") + '\n';
    if (theHasCredentials)
        theKey += inCredentials->itsUser + '\n' + inCredentials->itsPassword;
    auto& theSlot = itsConnections[theKey];
    if (!theSlot)
    {
        auto theConnection = std::make_unique<Connection>(*this, inTarget);
        const Status theStatus = theConnection->open(theHasCredentials ? inCredentials : nullptr);
        if (failed(theStatus))
        {
            itsConnections.erase(theKey);
            return theStatus;
        }
        theSlot = std::move(theConnection);
    }
    outConnection = theSlot.get();
    return S_ok;
}

Status LdapService::configuredConnection(bool inGc, const std::string& inServer,
                                         const Credentials* inCredentials,
                                         Connection*& outConnection)
{
    if (!inServer.empty())
        return connection(objectTarget(inServer), inCredentials, outConnection);
    Status theStatus = E_noSuchDomain;
    for (std::size_t curTry = 0; curTry < itsTargets.size(); ++curTry)
    {
        theStatus = connection(inGc ? gcTarget() : objectTarget(""), inCredentials, outConnection);
        // Only a server that cannot be reached sends us to the next one: a
        // refused logon would be refused by each, and every try counts
        // against the account's lockout.
        if ((theStatus != E_serverDown && theStatus != E_timeout) ||
            itsActive + 1 >= itsTargets.size())
            return theStatus;
        osTrace(1, "ldap: %s:%d does not answer, trying the next directory server",
                itsTargets[itsActive].itsHost.c_str(), itsTargets[itsActive].itsPort);
        ++itsActive;
    }
    return theStatus;
}

Status LdapService::openObject(const std::string& inPath, const Credentials* inCredentials,
                               ObjectKind inKind, std::unique_ptr<DirObject>& outObject)
{
    std::string theServer;
    std::string theDN;
    if (!dn::parseLdapPath(inPath, theServer, theDN))
        return E_badPathname;
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(theDN, theRdns))
        return E_invalidDNSyntax;
    Connection* theConnection = nullptr;
    Status theStatus = configuredConnection(false, theServer, inCredentials, theConnection);
    if (failed(theStatus))
        return theStatus;

    EntryPtr theEntry = theConnection->cached(theDN);
    if (!theEntry || !theEntry->itsClassKnown || (theEntry->itsIsGroup && !theEntry->itsMembersKnown) ||
        theEntry->itsAttributes.count("objectclass") == 0)
    {
        theStatus = theConnection->read(theDN, groupAttributes(), theEntry);
        if (failed(theStatus))
            return theStatus;
    }
    if (inKind == ObjectKind::Group && !theEntry->itsIsGroup)
        return E_noInterface;
    if (inKind == ObjectKind::User && !theEntry->itsIsUser)
        return E_noInterface;
    if (theEntry->itsIsGroup && !theEntry->itsMembers.empty() && itsPrefetched.insert(dnKey(theDN)).second)
        fetchNested(*theConnection, theEntry);
    outObject = std::make_unique<LdapObject>(shared_from_this(), *theConnection, theEntry);
    return S_ok;
}

Status LdapService::createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator)
{
    outTranslator = std::make_unique<LdapTranslator>(shared_from_this());
    return S_ok;
}

std::shared_ptr<DirectoryService> makeLdapService(const std::string& inUri)
{
    std::vector<Target> theTargets = parseLdapUriList(inUri);
    if (theTargets.empty())
        return nullptr;
    return std::make_shared<LdapService>(std::move(theTargets));
}

} // namespace corvel::directory::ldap

