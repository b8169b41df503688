#include "corvel/platform/directory/ldap/ldap_translator.h"

#include <algorithm>

#include "corvel/platform/directory/dn.h"

namespace corvel::directory::ldap
{

namespace
{

bool sameText(const std::string& inLeft, const std::string& inRight)
{
    return lower(inLeft) == lower(inRight);
}

// The one form an explicit name type asks for.
bool formOf(NameType inType, names::NameForm& outForm)
{
    switch (inType)
    {
    case NameType_1779:
        outForm = names::NameForm::DistinguishedName;
        return true;
    case NameType_Canonical:
        outForm = names::NameForm::Canonical;
        return true;
    case NameType_NT4:
        outForm = names::NameForm::Nt4;
        return true;
    case NameType_Display:
        outForm = names::NameForm::DisplayName;
        return true;
    case NameType_GUID:
        outForm = names::NameForm::Guid;
        return true;
    case NameType_UserPrincipalName:
        outForm = names::NameForm::UserPrincipalName;
        return true;
    case NameType_SIDOrSIDHistory:
        outForm = names::NameForm::Sid;
        return true;
    case NameType_ServicePrincipalName:
        outForm = names::NameForm::ServicePrincipalName;
        return true;
    default:
        return false;
    }
}

} // namespace

const std::vector<std::string>& nameAttributes()
{
    static const std::vector<std::string> kAttributes = {
        "distinguishedName", "sAMAccountName", "userPrincipalName", "objectSid",
        "objectGUID",        "displayName",    "canonicalName"};
    return kAttributes;
}

std::string firstValue(const Found& inFound, const char* inName)
{
    for (const auto& [curName, curValues] : inFound.itsAttributes)
        if (lower(curName) == lower(inName) && !curValues.empty())
            return curValues.front();
    return {};
}

Status LdapTranslator::init(InitType inKind, const std::string& inPath)
{
    return initWith(inKind, inPath, nullptr);
}

Status LdapTranslator::initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                              const std::string& inDomain, const std::string& inPassword)
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

Status LdapTranslator::findDomain(const std::string& inName, DomainRef& outDomain)
{
    const std::vector<DomainRef>* theDomains = nullptr;
    const Status theStatus = itsService->domains(*itsConnection, theDomains);
    if (failed(theStatus))
        return theStatus;
    std::string theName = inName;
    if (!theName.empty() && theName.back() == '.')
        theName.pop_back();
    if (theName.empty())
        return E_noSuchDomain;
    const auto theFind =
        [&theName](const std::vector<DomainRef>& inDomains, const DomainRef*& outFound)
    {
        outFound = nullptr;
        for (const DomainRef& curDomain : inDomains)
            if (sameText(curDomain.itsNetbios, theName) || sameText(curDomain.itsDnsRoot, theName))
            {
                if (outFound)
                    return false; // two domains of one name: neither
                outFound = &curDomain;
            }
        return outFound != nullptr;
    };
    const DomainRef* theFound = nullptr;
    if (!theFind(*theDomains, theFound))
    {
        // Not of our forest: maybe of one ours trusts, whose names are
        // found there as Windows' translator finds them, through the trust.
        const std::vector<DomainRef>* theTrusted = nullptr;
        if (theFound != nullptr || failed(itsService->trustedDomains(theTrusted)) ||
            !theFind(*theTrusted, theFound))
            return E_noSuchDomain;
    }
    outDomain = *theFound;
    return S_ok;
}

Status LdapTranslator::connectionOf(const DomainRef& inDomain, Connection*& outConnection)
{
    outConnection = itsConnection;
    return inDomain.itsForeign ? itsService->domainConnection(inDomain, nullptr, outConnection)
                               : S_ok;
}

Status LdapTranslator::initWith(InitType inKind, const std::string& inPath,
                                const Credentials* inCredentials)
{
    itsConnection = nullptr;
    itsHasResult = false;
    itsPrefetched.clear();
    if (!itsService->hasDirectory())
        return E_noSuchDomain;
    itsBase.clear();
    if (inKind == InitType_GC)
    {
        // The objects found are read next, on the home DC: its bind goes on
        // beside the global catalog's, not after it.
        if (inCredentials == nullptr || inCredentials->isEmpty())
            itsService->openHomeAhead();
        return itsService->gcConnection(inCredentials, itsConnection);
    }
    if (inKind == InitType_Server)
    {
        Status theStatus = itsService->connectionFor("", inPath, inCredentials, itsConnection);
        if (failed(theStatus))
            return theStatus;
        SearchSpec theSpec;
        theSpec.itsBase = "";
        theSpec.itsAttributes = {"defaultNamingContext"};
        theSpec.itsPaged = false;
        std::vector<Found> theFound;
        theStatus = itsConnection->search(theSpec, theFound);
        if (succeeded(theStatus) && !theFound.empty())
            itsBase = firstValue(theFound.front(), "defaultNamingContext");
        return theStatus;
    }
    if (inKind != InitType_Domain || inPath.empty())
        return E_invalidArg;
    // The domain's crossRef, read on a DC of the home domain (with the
    // credentials: a wrong password fails here), then a DC of the domain.
    Status theStatus = itsService->homeConnection(inCredentials, itsConnection);
    if (failed(theStatus))
        return theStatus;
    DomainRef theDomain;
    theStatus = findDomain(inPath, theDomain);
    if (succeeded(theStatus))
        theStatus = itsService->domainConnection(theDomain, inCredentials, itsConnection);
    if (failed(theStatus))
    {
        itsConnection = nullptr;
        return theStatus;
    }
    itsBase = theDomain.itsNcDN;
    return S_ok;
}

SearchSpec LdapTranslator::oneSpec(const std::string& inBase, const std::string& inFilter)
{
    // Two answers are enough to know the name is not unique: the server
    // stops there, and an unpaged search costs Samba several times less.
    SearchSpec theSpec;
    theSpec.itsBase = inBase;
    theSpec.itsScope = LDAP_SCOPE_SUBTREE;
    theSpec.itsFilter = inFilter;
    theSpec.itsAttributes = nameAttributes();
    theSpec.itsPaged = false;
    theSpec.itsSizeLimit = 2;
    return theSpec;
}

SearchSpec LdapTranslator::dnSpec(const std::string& inDN)
{
    SearchSpec theSpec;
    theSpec.itsBase = inDN;
    theSpec.itsAttributes = nameAttributes();
    theSpec.itsPaged = false;
    return theSpec;
}

SearchSpec LdapTranslator::accountsSpec(const std::string& inAccount)
{
    SearchSpec theSpec;
    theSpec.itsBase = "";
    theSpec.itsScope = LDAP_SCOPE_SUBTREE;
    theSpec.itsFilter = "(sAMAccountName=" + dn::escapeFilterValue(inAccount) + ")";
    theSpec.itsAttributes = nameAttributes();
    theSpec.itsPaged = false;
    return theSpec;
}

namespace
{

std::string specKey(const SearchSpec& inSpec)
{
    std::string theKey = lower(inSpec.itsBase) + '\n' + std::to_string(inSpec.itsScope) + '\n' +
                         inSpec.itsFilter + '\n' + std::to_string(inSpec.itsSizeLimit) + '\n' +
                         (inSpec.itsPaged ? "p" : "");
    for (const std::string& curName : inSpec.itsAttributes)
        theKey += '\n' + curName;
    return theKey;
}

} // namespace

Status LdapTranslator::run(const std::vector<SearchSpec>& inSpecs,
                           std::vector<SearchResult>& outResults, Connection* inOn)
{
    if (inOn != nullptr && inOn != itsConnection)
        return inOn->searchMany(inSpecs, inSpecs.size(), outResults);
    outResults.assign(inSpecs.size(), SearchResult{});
    std::vector<SearchSpec> theToSend;
    std::vector<std::size_t> theSent;
    for (std::size_t curIndex = 0; curIndex < inSpecs.size(); ++curIndex)
    {
        const auto theAt = itsPrefetched.find(specKey(inSpecs[curIndex]));
        if (theAt != itsPrefetched.end())
        {
            outResults[curIndex] = theAt->second;
            continue;
        }
        theToSend.push_back(inSpecs[curIndex]);
        theSent.push_back(curIndex);
    }
    if (theToSend.empty())
        return S_ok;
    std::vector<SearchResult> theResults;
    const Status theStatus = itsConnection->searchMany(theToSend, theToSend.size(), theResults);
    if (failed(theStatus))
        return theStatus;
    for (std::size_t curIndex = 0; curIndex < theSent.size(); ++curIndex)
        outResults[theSent[curIndex]] = std::move(theResults[curIndex]);
    return S_ok;
}

void LdapTranslator::prepare(const std::vector<std::string>& inNames)
{
    if (itsConnection == nullptr)
        return;
    // The search each name's first form starts with, when it can be told
    // before any answer: the lookups of a question go out together. Those
    // that look for one value of one attribute under one base are ORed into
    // searches of a score each, which cost the server far less than one
    // search a name.
    std::vector<SearchSpec> theSpecs;
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> theEqualities;
    for (const std::string& curName : inNames)
    {
        const std::vector<names::NameForm> theForms = names::candidateForms(curName);
        if (theForms.empty())
            continue;
        std::string theDomain;
        std::string theAccount;
        switch (theForms.front())
        {
        case names::NameForm::DistinguishedName:
            theSpecs.push_back(dnSpec(curName));
            break;
        case names::NameForm::UserPrincipalName:
            theEqualities[{itsBase, "userPrincipalName"}].push_back(curName);
            break;
        case names::NameForm::Nt4:
            if (!names::splitNt4Name(curName, theDomain, theAccount) || theAccount.empty())
                break;
            if (itsConnection->isGlobalCatalog() && !itsService->domainsKnown())
            {
                theSpecs.push_back(LdapService::globalDomainsSpec());
                theSpecs.push_back(accountsSpec(theAccount));
            }
            else if (itsService->domainsKnown())
            {
                // The account's search in the domain named, as byNt4 makes it.
                std::string theName = theDomain;
                if (!theName.empty() && theName.back() == '.')
                    theName.pop_back();
                for (const DomainRef& curDomain : itsService->knownDomains())
                    if (sameText(curDomain.itsNetbios, theName) ||
                        sameText(curDomain.itsDnsRoot, theName))
                    {
                        theEqualities[{curDomain.itsNcDN, "sAMAccountName"}].push_back(theAccount);
                        break;
                    }
            }
            break;
        default:
            break;
        }
    }
    std::vector<EqualityChunk> theChunks;
    for (const auto& [curWhere, curValues] : theEqualities)
        chunkEqualities(curWhere.first, curWhere.second, curValues, theSpecs, theChunks);
    // The server's own domain, which the reads after the lookups may need.
    const bool theAskNc = !theSpecs.empty() && !itsService->homeNamingContextKnown();
    if (theAskNc)
    {
        SearchSpec theRoot;
        theRoot.itsAttributes = {"defaultNamingContext"};
        theRoot.itsPaged = false;
        theSpecs.push_back(std::move(theRoot));
    }
    std::vector<SearchResult> theResults;
    if (theSpecs.empty() || failed(run(theSpecs, theResults)))
        return; // each set asks again, and says what went wrong
    if (theAskNc && !theResults.back().itsFound.empty())
        itsService->noteNamingContext(
            *itsConnection, firstValue(theResults.back().itsFound.front(), "defaultNamingContext"));
    for (const EqualityChunk& curChunk : theChunks)
        spreadEqualities(curChunk, theResults[curChunk.itsSpec]);
    for (std::size_t curIndex = 0; curIndex < theSpecs.size(); ++curIndex)
        itsPrefetched[specKey(theSpecs[curIndex])] = std::move(theResults[curIndex]);
}

void LdapTranslator::chunkEqualities(const std::string& inBase, const std::string& inAttribute,
                                     const std::vector<std::string>& inValues,
                                     std::vector<SearchSpec>& ioSpecs,
                                     std::vector<EqualityChunk>& ioChunks)
{
    constexpr std::size_t theChunk = 20;
    for (std::size_t curStart = 0; curStart < inValues.size(); curStart += theChunk)
    {
        EqualityChunk theEqualities;
        theEqualities.itsBase = inBase;
        theEqualities.itsAttribute = inAttribute;
        theEqualities.itsSpec = ioSpecs.size();
        SearchSpec theSpec = oneSpec(inBase, "(|");
        theSpec.itsSizeLimit = 0;
        for (std::size_t curIndex = curStart;
             curIndex < std::min(inValues.size(), curStart + theChunk); ++curIndex)
        {
            theSpec.itsFilter +=
                "(" + inAttribute + "=" + dn::escapeFilterValue(inValues[curIndex]) + ")";
            theEqualities.itsValues.push_back(inValues[curIndex]);
        }
        theSpec.itsFilter += ")";
        ioSpecs.push_back(std::move(theSpec));
        ioChunks.push_back(std::move(theEqualities));
    }
}

void LdapTranslator::spreadEqualities(const EqualityChunk& inChunk, const SearchResult& inResult)
{
    // Each value's own search, as oneSpec would have made it, answered from
    // the ORed one: its matches (the attribute matches without case), two
    // at most, as a size limit of two gives them. A failed search answers
    // nothing: each name then asks on its own.
    if (inResult.itsCode != LDAP_SUCCESS)
        return;
    const auto theMatches = [&inChunk](const Found& inFound, const std::string& inValue)
    {
        for (const auto& [curName, curValues] : inFound.itsAttributes)
            if (sameText(curName, inChunk.itsAttribute))
                for (const std::string& curHeld : curValues)
                    if (sameText(curHeld, inValue))
                        return true;
        return false;
    };
    // An entry that matches no value as we compare (the server folds the
    // case of more than ASCII) leaves the values without a match unsure:
    // those ask on their own.
    bool theAllPlaced = true;
    for (const Found& curFound : inResult.itsFound)
        theAllPlaced =
            theAllPlaced &&
            std::any_of(inChunk.itsValues.begin(), inChunk.itsValues.end(),
                        [&](const std::string& inValue) { return theMatches(curFound, inValue); });
    for (const std::string& curValue : inChunk.itsValues)
    {
        SearchResult theOwn;
        for (const Found& curFound : inResult.itsFound)
        {
            if (!theMatches(curFound, curValue))
                continue;
            if (theOwn.itsFound.size() == 2)
            {
                theOwn.itsCode = LDAP_SIZELIMIT_EXCEEDED;
                break;
            }
            theOwn.itsFound.push_back(curFound);
        }
        if (theOwn.itsFound.empty() && !theAllPlaced)
            continue;
        itsPrefetched[specKey(oneSpec(inChunk.itsBase, "(" + inChunk.itsAttribute + "=" +
                                                           dn::escapeFilterValue(curValue) +
                                                           ")"))] = std::move(theOwn);
    }
}

Status LdapTranslator::searchOne(const std::string& inBase, const std::string& inFilter,
                                 Found& outFound, Connection* inOn)
{
    std::vector<SearchResult> theResults;
    const Status theSearch = run({oneSpec(inBase, inFilter)}, theResults, inOn);
    if (failed(theSearch))
        return theSearch;
    const int theCode = theResults.front().itsCode;
    std::vector<Found>& theFound = theResults.front().itsFound;
    if (theCode == LDAP_SIZELIMIT_EXCEEDED)
        return E_nameNotUnique;
    if (theCode == LDAP_NO_SUCH_OBJECT)
        return E_nameNotFound;
    if (theCode != LDAP_SUCCESS)
        return (inOn != nullptr ? inOn : itsConnection)->fail(theCode);
    if (theFound.empty())
        return E_nameNotFound;
    if (theFound.size() > 1)
        return E_nameNotUnique;
    outFound = std::move(theFound.front());
    return S_ok;
}

Status LdapTranslator::byDN(const std::string& inDN, Found& outFound)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns))
        return E_nameNotFound;
    std::vector<SearchResult> theRun;
    Status theStatus = run({dnSpec(inDN)}, theRun);
    if (succeeded(theStatus) && theRun.front().itsCode != LDAP_SUCCESS)
        theStatus = itsConnection->fail(theRun.front().itsCode);
    std::vector<Found> theResults =
        succeeded(theStatus) ? std::move(theRun.front().itsFound) : std::vector<Found>();
    if (succeeded(theStatus) && theResults.size() == 1)
    {
        outFound = std::move(theResults.front());
        return S_ok;
    }
    if (succeeded(theStatus) || theStatus == E_noSuchObject || theStatus == E_invalidDNSyntax ||
        theStatus == E_referral)
        return E_nameNotFound;
    return theStatus;
}

Status LdapTranslator::byDomainObject(const DomainRef& inDomain, Found& outFound)
{
    const Status theStatus = byDN(inDomain.itsNcDN, outFound);
    return theStatus;
}

Status LdapTranslator::byNt4(const std::string& inName, Found& outFound)
{
    std::string theDomainName;
    std::string theAccount;
    if (!names::splitNt4Name(inName, theDomainName, theAccount))
        return E_nameNotFound;
    // On a global catalog the forest's crossRefs and the account, wherever
    // it lives, are asked in one round trip; the account is then the one of
    // the domain named.
    std::vector<SearchResult> theResults;
    // (Also when prepare fetched them so, though the crossRefs are known by
    // now: the account's answer is there already.)
    if (itsConnection->isGlobalCatalog() && !theAccount.empty() &&
        (!itsService->domainsKnown() ||
         itsPrefetched.count(specKey(accountsSpec(theAccount))) != 0))
    {
        const Status theSearch =
            run({LdapService::globalDomainsSpec(), accountsSpec(theAccount)}, theResults);
        if (failed(theSearch))
            return theSearch;
        if (theResults[0].itsCode == LDAP_SUCCESS)
            itsService->takeDomains(theResults[0].itsFound);
        else
            theResults.clear();
    }
    DomainRef theDomain;
    const Status theStatus = findDomain(theDomainName, theDomain);
    if (theStatus == E_noSuchDomain)
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    Connection* theOn = nullptr;
    const Status theConnected = connectionOf(theDomain, theOn);
    if (failed(theConnected))
        return theConnected;
    if (theAccount.empty())
        return theDomain.itsForeign
                   ? searchOne(theDomain.itsNcDN, "(objectClass=domainDNS)", outFound, theOn)
                   : byDomainObject(theDomain, outFound);
    if (!theDomain.itsForeign && !theResults.empty() && theResults[1].itsCode == LDAP_SUCCESS)
    {
        std::vector<Found> theMatches;
        for (Found& curFound : theResults[1].itsFound)
        {
            const DomainRef* theOwn = domainOfDN(curFound.itsDN, itsService->knownDomains());
            if (theOwn && dnKey(theOwn->itsNcDN) == dnKey(theDomain.itsNcDN))
                theMatches.push_back(std::move(curFound));
        }
        if (theMatches.size() > 1)
            return E_nameNotUnique;
        if (theMatches.empty())
            return E_nameNotFound;
        outFound = std::move(theMatches.front());
        return S_ok;
    }
    return searchOne(theDomain.itsNcDN,
                     "(sAMAccountName=" + dn::escapeFilterValue(theAccount) + ")", outFound, theOn);
}

Status LdapTranslator::byPrincipalName(const std::string& inName, Found& outFound)
{
    Status theStatus =
        searchOne(itsBase, "(userPrincipalName=" + dn::escapeFilterValue(inName) + ")", outFound);
    if (theStatus != E_nameNotFound)
        return theStatus;
    // The implicit name every account has: sAMAccountName@dnsRoot.
    std::string theAccount;
    std::string theDomainName;
    if (!names::splitPrincipalName(inName, theAccount, theDomainName))
        return E_nameNotFound;
    DomainRef theDomain;
    theStatus = findDomain(theDomainName, theDomain);
    if (theStatus == E_noSuchDomain || !sameText(theDomain.itsDnsRoot, theDomainName))
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    Connection* theOn = nullptr;
    theStatus = connectionOf(theDomain, theOn);
    if (failed(theStatus))
        return theStatus;
    if (theDomain.itsForeign)
    {
        // A trusted forest's own principal names are its global catalog's.
        Connection* theGc = nullptr;
        theStatus = itsService->foreignGcConnection(theDomain, theGc);
        if (succeeded(theStatus))
            theStatus = searchOne("", "(userPrincipalName=" + dn::escapeFilterValue(inName) + ")",
                                  outFound, theGc);
        if (theStatus != E_nameNotFound)
            return theStatus;
    }
    return searchOne(theDomain.itsNcDN,
                     "(sAMAccountName=" + dn::escapeFilterValue(theAccount) + ")", outFound, theOn);
}

Status LdapTranslator::byCanonicalName(const std::string& inName, Found& outFound)
{
    std::vector<std::string> theParts;
    if (!names::splitCanonicalName(inName, theParts))
        return E_nameNotFound;
    DomainRef theDomain;
    Status theStatus = findDomain(theParts.front(), theDomain);
    if (theStatus == E_noSuchDomain ||
        (succeeded(theStatus) && !sameText(theDomain.itsDnsRoot, theParts.front())))
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    if (theParts.size() == 2 && theParts.back().empty())
        return byDomainObject(theDomain, outFound);
    // One level a step: a canonical name does not say whether a component
    // is an OU or a CN, the name attribute holds either.
    std::string theBase = theDomain.itsNcDN;
    for (std::size_t curIndex = 1; curIndex < theParts.size(); ++curIndex)
    {
        SearchSpec theSpec;
        theSpec.itsBase = theBase;
        theSpec.itsScope = LDAP_SCOPE_ONELEVEL;
        theSpec.itsFilter = "(name=" + dn::escapeFilterValue(theParts[curIndex]) + ")";
        theSpec.itsAttributes = nameAttributes();
        std::vector<Found> theFound;
        theStatus = itsConnection->search(theSpec, theFound);
        if (failed(theStatus))
            return theStatus == E_noSuchObject ? E_nameNotFound : theStatus;
        if (theFound.size() != 1)
            return theFound.empty() ? E_nameNotFound : E_nameNotUnique;
        theBase = theFound.front().itsDN;
        outFound = std::move(theFound.front());
    }
    return S_ok;
}

Status LdapTranslator::findAs(names::NameForm inForm, const std::string& inName, Found& outFound)
{
    std::string theBytes;
    switch (inForm)
    {
    case names::NameForm::DistinguishedName:
        return byDN(inName, outFound);
    case names::NameForm::Nt4:
        return byNt4(inName, outFound);
    case names::NameForm::UserPrincipalName:
        return byPrincipalName(inName, outFound);
    case names::NameForm::Canonical:
        return byCanonicalName(inName, outFound);
    case names::NameForm::Sid:
        if (!names::sidFromText(inName, theBytes))
            return E_nameNotFound;
        return searchOne(itsBase, "(objectSid=" + escapeFilterBytes(theBytes) + ")", outFound);
    case names::NameForm::Guid:
        if (!names::guidFromText(inName, theBytes))
            return E_nameNotFound;
        return searchOne(itsBase, "(objectGUID=" + escapeFilterBytes(theBytes) + ")", outFound);
    case names::NameForm::ServicePrincipalName:
        return searchOne(itsBase, "(servicePrincipalName=" + dn::escapeFilterValue(inName) + ")",
                         outFound);
    case names::NameForm::DisplayName:
        return searchOne(itsBase, "(displayName=" + dn::escapeFilterValue(inName) + ")", outFound);
    }
    return E_nameNotFound;
}

Status LdapTranslator::set(NameType inType, const std::string& inName)
{
    itsHasResult = false;
    if (itsConnection == nullptr)
        return E_fail;
    if (inName.empty())
        return E_nameNotFound;
    std::vector<names::NameForm> theForms;
    names::NameForm theForm;
    if (inType == NameType_Unknown)
        theForms = names::candidateForms(inName);
    else if (formOf(inType, theForm))
        theForms.push_back(theForm);
    else
        return E_invalidArg;
    // The first form that finds anything decides.
    for (names::NameForm curForm : theForms)
    {
        Found theFound;
        const Status theStatus = findAs(curForm, inName, theFound);
        if (theStatus == E_nameNotFound)
            continue;
        if (failed(theStatus))
            return theStatus;
        itsResult = std::move(theFound);
        itsHasResult = true;
        return S_ok;
    }
    return E_nameNotFound;
}

Status LdapTranslator::get(NameType inType, std::string& outName)
{
    if (!itsHasResult)
        return E_fail;
    switch (inType)
    {
    case NameType_1779:
        outName = itsResult.itsDN;
        return S_ok;
    case NameType_NT4:
    case NameType_UserPrincipalName:
    {
        if (inType == NameType_UserPrincipalName)
        {
            const std::string theUpn = firstValue(itsResult, "userPrincipalName");
            if (!theUpn.empty())
            {
                outName = theUpn;
                return S_ok;
            }
        }
        const std::vector<DomainRef>* theDomains = nullptr;
        const Status theStatus = itsService->domains(*itsConnection, theDomains);
        if (failed(theStatus))
            return theStatus;
        const DomainRef* theDomain = itsService->domainRefOf(itsResult.itsDN);
        if (!theDomain)
            return E_nameNotFound;
        const std::string theAccount = firstValue(itsResult, "sAMAccountName");
        // The domain object itself is "DOMAIN\" in the NT4 form.
        if (inType == NameType_NT4 && dnKey(itsResult.itsDN) == dnKey(theDomain->itsNcDN))
        {
            outName = theDomain->itsNetbios + "\\";
            return S_ok;
        }
        if (theAccount.empty())
            return E_nameNotFound;
        outName = inType == NameType_NT4 ? theDomain->itsNetbios + "\\" + theAccount
                                         : theAccount + "@" + theDomain->itsDnsRoot;
        return S_ok;
    }
    case NameType_Canonical:
        outName = firstValue(itsResult, "canonicalName");
        return outName.empty() ? E_nameNotFound : S_ok;
    case NameType_GUID:
        return names::guidToText(firstValue(itsResult, "objectGUID"), outName) ? S_ok
                                                                               : E_nameNotFound;
    case NameType_SIDOrSIDHistory:
        return names::sidToText(firstValue(itsResult, "objectSid"), outName) ? S_ok
                                                                             : E_nameNotFound;
    case NameType_Display:
        outName = firstValue(itsResult, "displayName");
        return outName.empty() ? E_nameNotFound : S_ok;
    default:
        return E_invalidArg;
    }
}

} // namespace corvel::directory::ldap
