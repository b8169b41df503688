// Member classification and fetching ahead: how the walk learns which
// members of a group are groups, with their own member values, in round
// trips by the depth of the nesting, not by the number of groups.
//
// Below the first group whose members the walk asks for, the groups are
// fetched a whole level of nesting at a time: the members of every group of
// one level, users and groups alike, in a few searches ORing their DNs
// (indexed on every directory, and on Samba several times cheaper than a
// search on memberOf), all kept in flight together. Every fact comes from an
// entry the directory returned; a member no answer returned (in another
// domain, hidden from us) is read on its own when the walk reaches it, as
// are the groups past the per-session cap. The walk itself then runs over
// the cache, in its own order and with its own trace lines.
#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/ldap/ldap_tuning.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

namespace
{

constexpr const char* kInChainRule = "1.2.840.113556.1.4.1941";
// Below this many DNs of one domain left, base reads beat an ORed search.
constexpr std::size_t kFewDNs = 4;

const std::vector<std::string>& listingAttributes()
{
    static const std::vector<std::string> kAttributes = {"objectClass", "distinguishedName", "name",
                                                         "memberOf"};
    return kAttributes;
}

} // namespace

void LdapService::startBudget()
{
    if (!itsBudgetSet)
    {
        itsPrefetchBudget = tuning().itsPrefetchCap;
        itsBudgetSet = true;
    }
}

Status LdapService::fetchEntries(Connection& inConnection, const std::vector<std::string>& inDNs,
                                 const std::vector<std::string>& inAttributes,
                                 std::size_t& ioBudget)
{
    // One search per chunk of DNs of one domain, all in flight together.
    std::map<std::string, std::vector<std::string>> theByBase;
    std::unordered_set<std::string> theSeen;
    for (const std::string& curDN : inDNs)
    {
        if (ioBudget == 0)
            break;
        if (!theSeen.insert(dnKey(curDN)).second)
            continue;
        const std::string theBase = domainOf(curDN);
        if (theBase.empty())
            continue;
        theByBase[theBase].push_back(curDN);
        --ioBudget;
    }
    std::vector<SearchSpec> theSpecs;
    for (const auto& [curBase, curDNs] : theByBase)
        for (std::size_t curStart = 0; curStart < curDNs.size(); curStart += tuning().itsLevelChunk)
        {
            // A few DNs cost the server less as base reads (a level of a
            // chain is one group): they go out together all the same.
            if (curDNs.size() - curStart < kFewDNs)
            {
                for (std::size_t curIndex = curStart; curIndex < curDNs.size(); ++curIndex)
                {
                    SearchSpec theRead;
                    theRead.itsBase = curDNs[curIndex];
                    theRead.itsAttributes = inAttributes;
                    theRead.itsPaged = false;
                    theSpecs.push_back(std::move(theRead));
                }
                break;
            }
            SearchSpec theSpec;
            theSpec.itsBase = curBase;
            theSpec.itsScope = LDAP_SCOPE_SUBTREE;
            theSpec.itsAttributes = inAttributes;
            // At most a chunk of entries: no size limit can cut it, and
            // Samba answers an unpaged search several times faster.
            theSpec.itsPaged = false;
            theSpec.itsFilter = "(|";
            const std::size_t theEnd = std::min(curDNs.size(), curStart + tuning().itsLevelChunk);
            for (std::size_t curIndex = curStart; curIndex < theEnd; ++curIndex)
                theSpec.itsFilter +=
                    "(distinguishedName=" + dn::escapeFilterValue(curDNs[curIndex]) + ")";
            theSpec.itsFilter += ")";
            theSpecs.push_back(std::move(theSpec));
        }
    if (theSpecs.empty())
        return S_ok;
    std::vector<SearchResult> theResults;
    const Status theStatus =
        inConnection.searchMany(theSpecs, tuning().itsSearchesInFlight, theResults);
    if (failed(theStatus))
        return theStatus;
    // Whatever came back is a fact, even from an answer the server cut
    // short (a base read of an absent object returns nothing); what did not
    // come back is left for a read of its own.
    for (const SearchResult& curResult : theResults)
        for (const Found& curFound : curResult.itsFound)
        {
            EntryPtr theEntry;
            const Status theAbsorbed = inConnection.absorb(curFound, theEntry);
            if (failed(theAbsorbed))
                return theAbsorbed;
            theEntry->settle(inAttributes);
        }
    return S_ok;
}

void LdapService::prefetchBelow(Connection& inConnection, const EntryPtr& inTop)
{
    startBudget();
    if (itsPrefetchBudget == 0 || !itsExpanded.insert(dnKey(inTop->itsDN)).second)
        return;
    std::vector<EntryPtr> theLevel = {inTop};
    while (!theLevel.empty() && itsPrefetchBudget > 0)
    {
        std::vector<std::string> theWanted;
        for (const EntryPtr& curGroup : theLevel)
            for (const std::string& curMember : curGroup->itsMembers)
            {
                const EntryPtr theCached = inConnection.entries().cached(curMember);
                if (!theCached || !theCached->isClassified())
                    theWanted.push_back(curMember);
            }
        // A level that cannot be fetched is read group by group instead.
        if (failed(fetchEntries(inConnection, theWanted, groupAttributes(), itsPrefetchBudget)))
            return;
        std::vector<EntryPtr> theNext;
        for (const EntryPtr& curGroup : theLevel)
            for (const std::string& curMember : curGroup->itsMembers)
            {
                const EntryPtr theCached = inConnection.entries().cached(curMember);
                if (theCached && theCached->itsIsGroup && theCached->itsMembersKnown &&
                    itsExpanded.insert(dnKey(theCached->itsDN)).second)
                    theNext.push_back(theCached);
            }
        theLevel = std::move(theNext);
    }
}

void LdapService::prefetchAbove(Connection& inConnection, const std::vector<std::string>& inGroups)
{
    startBudget();
    std::vector<std::string> theLevel;
    for (const std::string& curDN : inGroups)
        if (itsExpanded.insert("^" + dnKey(curDN)).second)
            theLevel.push_back(curDN);
    while (!theLevel.empty() && itsPrefetchBudget > 0)
    {
        std::vector<std::string> theWanted;
        for (const std::string& curDN : theLevel)
        {
            const EntryPtr theCached = inConnection.entries().cached(curDN);
            if (!theCached || !theCached->itsClassKnown ||
                theCached->itsAttributes.count("name") == 0 ||
                theCached->itsAttributes.count("memberof") == 0)
                theWanted.push_back(curDN);
        }
        if (failed(fetchEntries(inConnection, theWanted, listingAttributes(), itsPrefetchBudget)))
            return;
        std::vector<std::string> theNext;
        for (const std::string& curDN : theLevel)
        {
            const EntryPtr theCached = inConnection.entries().cached(curDN);
            if (!theCached)
                continue;
            const auto theAt = theCached->itsAttributes.find("memberof");
            if (theAt == theCached->itsAttributes.end())
                continue;
            for (const std::string& curParent : theAt->second)
                if (itsExpanded.insert("^" + dnKey(curParent)).second)
                    theNext.push_back(curParent);
        }
        theLevel = std::move(theNext);
    }
}

void LdapService::fetchNested(Connection& inConnection, const EntryPtr& inEntry)
{
    // Off unless asked for: Samba evaluates the in-chain rule entry by entry,
    // takes seconds on deep trees and, when its time limit strikes, has been
    // seen to answer success with part of the set. So its answer is only a
    // prefetch: the groups it returns, with their member values, are true
    // facts whatever else it missed, and every member it did not return is
    // still classified by reading it.
    const int theLimit = tuning().itsInChainLimit;
    if (theLimit == 0)
        return;
    SearchSpec theSpec;
    theSpec.itsBase = domainOf(inEntry->itsDN);
    if (theSpec.itsBase.empty())
        return;
    theSpec.itsScope = LDAP_SCOPE_SUBTREE;
    theSpec.itsFilter = std::string("(&(objectClass=group)(memberOf:") + kInChainRule +
                        ":=" + dn::escapeFilterValue(inEntry->itsDN) + "))";
    theSpec.itsAttributes = groupAttributes();
    theSpec.itsTimeLimit = theLimit;
    std::vector<Found> theFound;
    if (failed(inConnection.search(theSpec, theFound)))
        return; // no such rule here, or too slow: the walk reads level by level
    for (const Found& curFound : theFound)
    {
        EntryPtr theEntry;
        if (failed(inConnection.absorb(curFound, theEntry)))
            return;
        theEntry->settle(groupAttributes());
    }
}

Status LdapService::classifyMembers(Connection& inConnection, const EntryPtr& inGroup)
{
    prefetchBelow(inConnection, inGroup);
    std::vector<std::string> theUnknown;
    for (const std::string& curDN : inGroup->itsMembers)
    {
        const EntryPtr theMember = inConnection.entries().cached(curDN);
        if (!theMember || !theMember->isClassified())
            theUnknown.push_back(curDN);
    }
    if (theUnknown.empty())
        return S_ok;
    // Past the prefetch (its cap, or a group reached some other way): this
    // group's members in one request or a few.
    std::size_t theBudget = theUnknown.size();
    if (theUnknown.size() > 1)
    {
        const Status theStatus =
            fetchEntries(inConnection, theUnknown, groupAttributes(), theBudget);
        if (failed(theStatus))
            return theStatus;
        std::vector<std::string> theLeft;
        for (const std::string& curDN : theUnknown)
        {
            const EntryPtr theMember = inConnection.entries().cached(curDN);
            if (!theMember || !theMember->isClassified())
                theLeft.push_back(curDN);
        }
        theUnknown = std::move(theLeft);
    }
    if (theUnknown.empty())
        return S_ok;
    // What no search returned is read on its own: only such a read can say
    // that an object is not there for us (and so no group for the walk).
    std::vector<SearchSpec> theReads;
    for (const std::string& curDN : theUnknown)
    {
        SearchSpec theSpec;
        theSpec.itsBase = curDN;
        theSpec.itsAttributes = groupAttributes();
        theSpec.itsPaged = false;
        theReads.push_back(std::move(theSpec));
    }
    std::vector<SearchResult> theResults;
    const Status theStatus =
        inConnection.searchMany(theReads, tuning().itsReadsInFlight, theResults);
    if (failed(theStatus))
        return theStatus;
    for (std::size_t curIndex = 0; curIndex < theResults.size(); ++curIndex)
    {
        const SearchResult& theResult = theResults[curIndex];
        EntryPtr theEntry = inConnection.entries().entry(theUnknown[curIndex]);
        if (theResult.itsCode == LDAP_SUCCESS && !theResult.itsFound.empty())
        {
            const Status theAbsorbed = inConnection.absorb(theResult.itsFound.front(), theEntry);
            if (failed(theAbsorbed))
                return theAbsorbed;
            theEntry->settle(groupAttributes());
        }
        else if (theResult.itsCode == LDAP_SUCCESS || isAbsentCode(theResult.itsCode))
        {
            theEntry->setNotGroup();
            theEntry->itsIsUser = false;
        }
        else
            // Anything else (busy, limits, server errors) leaves the class
            // unknown: the walk fails rather than take a group for none.
            return inConnection.fail(theResult.itsCode);
    }
    return S_ok;
}

Status LdapService::primaryGroupSid(Connection& inConnection, const std::string& inDN,
                                    std::string& outSid, const EntryPtr& inGroup)
{
    outSid.clear();
    EntryPtr theEntry = inConnection.entries().entry(inDN);
    const auto theKnown = [&theEntry]()
    {
        return theEntry->itsAttributes.count("objectsid") != 0 &&
               theEntry->itsAttributes.count("primarygroupid") != 0;
    };
    if (!theKnown() && inGroup && itsExpanded.count(dnKey(inGroup->itsDN)) == 0)
    {
        // The walk goes on to inGroup's members next: fetch them with it.
        startBudget();
        std::vector<std::string> theDNs = {inDN};
        for (const std::string& curMember : inGroup->itsMembers)
        {
            const EntryPtr theCached = inConnection.entries().cached(curMember);
            if (!theCached || !theCached->isClassified())
                theDNs.push_back(curMember);
        }
        std::size_t theBudget = std::max<std::size_t>(itsPrefetchBudget, 1);
        const Status theStatus = fetchEntries(inConnection, theDNs, groupAttributes(), theBudget);
        if (failed(theStatus))
            return theStatus;
        itsPrefetchBudget = theBudget;
    }
    if (!theKnown())
    {
        const Status theStatus = inConnection.read(inDN, {"objectSid", "primaryGroupID"}, theEntry);
        if (theStatus == E_noSuchObject || theStatus == E_referral ||
            theStatus == E_invalidDNSyntax || theStatus == E_accessDenied)
        {
            // Not readable here: an object of another domain, which cannot
            // have its primary group in this one anyway.
            theEntry->itsAttributes.try_emplace("objectsid");
            theEntry->itsAttributes.try_emplace("primarygroupid");
            return S_ok;
        }
        if (failed(theStatus))
            return theStatus;
    }
    const auto& theSids = theEntry->itsAttributes["objectsid"];
    const auto& theRids = theEntry->itsAttributes["primarygroupid"];
    if (theSids.empty() || theRids.empty() ||
        !names::primaryGroupSid(theSids.front(), false, theRids.front(), outSid))
        outSid.clear();
    return S_ok;
}

} // namespace corvel::directory::ldap
