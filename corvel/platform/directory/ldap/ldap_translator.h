// The live directory's name translator: names of every format to the
// directory's objects, on the global catalog or on a DC of a named domain.
// A name of unknown format is tried in every form names.h reads it as, in
// the order given there.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

// The attributes every name lookup reads.
const std::vector<std::string>& nameAttributes();
// The first value of inName in a search result, any case; empty when absent.
std::string firstValue(const Found& inFound, const char* inName);

class LdapTranslator : public NameTranslator
{
public:
    explicit LdapTranslator(std::shared_ptr<LdapService> inService)
        : itsService(std::move(inService))
    {
    }

    Status init(InitType inKind, const std::string& inPath) override;
    Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                  const std::string& inDomain, const std::string& inPassword) override;
    Status set(NameType inType, const std::string& inName) override;
    Status get(NameType inType, std::string& outName) override;
    // The first search of every name's first form, all in one round trip;
    // the sets that follow take their answers from it.
    void prepare(const std::vector<std::string>& inNames) override;

private:
    static SearchSpec oneSpec(const std::string& inBase, const std::string& inFilter);
    // Lookups of one attribute's values under one base, ORed into a search
    // of a score of them (prepare), and their answers spread to each value's
    // own search.
    struct EqualityChunk
    {
        std::string itsBase;
        std::string itsAttribute;
        std::vector<std::string> itsValues;
        std::size_t itsSpec = 0; // the search that asks them
    };
    static void chunkEqualities(const std::string& inBase, const std::string& inAttribute,
                                const std::vector<std::string>& inValues,
                                std::vector<SearchSpec>& ioSpecs,
                                std::vector<EqualityChunk>& ioChunks);
    void spreadEqualities(const EqualityChunk& inChunk, const SearchResult& inResult);
    static SearchSpec dnSpec(const std::string& inDN);
    static SearchSpec accountsSpec(const std::string& inAccount);
    // The searches, those prepared answered from what prepare fetched; on
    // inOn (a DC of a trusted forest's domain) when given.
    Status run(const std::vector<SearchSpec>& inSpecs, std::vector<SearchResult>& outResults,
               Connection* inOn = nullptr);
    // Where the objects of inDomain are searched: the translator's own
    // connection, or for a domain of a trusted forest a DC of it.
    Status connectionOf(const DomainRef& inDomain, Connection*& outConnection);
    Status initWith(InitType inKind, const std::string& inPath, const Credentials* inCredentials);
    // The domain named inName (NetBIOS or DNS name, any case).
    Status findDomain(const std::string& inName, DomainRef& outDomain);
    // One object under inBase; E_nameNotFound or E_nameNotUnique otherwise.
    Status searchOne(const std::string& inBase, const std::string& inFilter, Found& outFound,
                     Connection* inOn = nullptr);
    // The objects of one form of the name.
    Status findAs(names::NameForm inForm, const std::string& inName, Found& outFound);
    Status byDN(const std::string& inDN, Found& outFound);
    Status byNt4(const std::string& inName, Found& outFound);
    Status byPrincipalName(const std::string& inName, Found& outFound);
    Status byCanonicalName(const std::string& inName, Found& outFound);
    Status byDomainObject(const DomainRef& inDomain, Found& outFound);

    std::shared_ptr<LdapService> itsService;
    Connection* itsConnection = nullptr;
    std::string itsBase; // "" on the global catalog
    bool itsHasResult = false;
    Found itsResult;
    std::map<std::string, SearchResult> itsPrefetched; // by the search's key
};

} // namespace corvel::directory::ldap
