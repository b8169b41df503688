// The live directory's service for one session: the configured servers, the
// connections opened on them, and the walk's member classification.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_connection.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

class LdapService : public DirectoryService, public std::enable_shared_from_this<LdapService>
{
public:
    explicit LdapService(std::vector<Target> inTargets) : itsTargets(std::move(inTargets)) {}
    ~LdapService() override
    {
        if (std::getenv("CORVEL_LDAP_STATS") != nullptr)
            platform::reportLog(platform::Report_debug, "ldap: %lu operations in this session",
                    static_cast<unsigned long>(itsOperations));
    }

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override;
    Status openObject(const std::string& inPath, const Credentials* inCredentials, ObjectKind inKind,
                      std::unique_ptr<DirObject>& outObject) override;

    // The connection to inTarget with these credentials, opened on first use.
    Status connection(const Target& inTarget, const Credentials* inCredentials,
                      Connection*& outConnection);
    // The connection to the configured directory (its global catalog when
    // inGc), or to inServer when one is named. Configured servers are tried
    // in turn until one answers; the one that did serves the rest of the
    // session.
    Status configuredConnection(bool inGc, const std::string& inServer,
                                const Credentials* inCredentials, Connection*& outConnection);
    // The directory's own server for objects (389, or 636 with TLS).
    Target objectTarget(const std::string& inServer) const;
    Target gcTarget() const;
    bool hasTargets() const { return !itsTargets.empty(); }

    void countOperation() { ++itsOperations; }

    // Ensures that the members of inEntry are classified (cached with their
    // object classes), as cheaply as the directory allows.
    Status classifyMembers(Connection& inConnection, const EntryPtr& inEntry);
    // One search for the groups among inEntry's members; removes from
    // ioUnknown every member the answer decides.
    void searchMemberGroups(Connection& inConnection, const EntryPtr& inEntry,
                            std::vector<std::string>& ioUnknown);
    // The in-chain search for a top group.
    void fetchNested(Connection& inConnection, const EntryPtr& inEntry);

private:
    std::vector<Target> itsTargets;
    std::size_t itsActive = 0; // the configured server that answered
    std::unordered_set<std::string> itsPrefetched; // top groups asked for in-chain
    std::map<std::string, std::unique_ptr<Connection>> itsConnections;
    unsigned long itsOperations = 0;
};

} // namespace corvel::directory::ldap
