// Member classification and bulk fetching: how the walk learns which members
// of a group are groups, with their own member values, in as few round trips
// as the directory allows.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <unordered_set>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"

namespace corvel::directory::ldap
{

Status Connection::fetchMany(const std::vector<std::string>& inDNs)
{
    // A sliding window of base reads: the round trip, not the server's work,
    // is the cost of a member list, and one search ORing many DNs is far
    // slower on Samba than the same reads one by one.
    std::vector<std::string> theDNs;
    std::unordered_set<std::string> theSeen;
    for (const std::string& curDN : inDNs)
        if (theSeen.insert(dnKey(curDN)).second)
            theDNs.push_back(curDN);

    std::vector<std::pair<int, std::size_t>> theInFlight; // message id, index in theDNs
    std::size_t theNextToSend = 0;
    std::size_t theNextToTake = 0;
    Status theStatus = S_ok;
    while (theNextToTake < theDNs.size() && succeeded(theStatus))
    {
        while (theNextToSend < theDNs.size() && theNextToSend - theNextToTake < kReadsInFlight)
        {
            int theId = 0;
            theStatus = sendRead(theDNs[theNextToSend], theId);
            if (failed(theStatus))
                break;
            theInFlight.emplace_back(theId, theNextToSend);
            ++theNextToSend;
        }
        if (failed(theStatus))
            break;
        const auto [theId, theIndex] = theInFlight[theNextToTake];
        ++theNextToTake;
        std::unique_ptr<Found> theFound;
        theStatus = takeRead(theId, theFound);
        if (failed(theStatus))
            break;
        EntryPtr theEntry = entry(theDNs[theIndex]);
        if (theFound)
        {
            theStatus = absorb(*theFound, theEntry);
            if (failed(theStatus))
                break;
        }
        if (theFound && !theEntry->itsClassKnown)
            theEntry->setClasses({}); // read, but no class visible to us
        if (!theFound)
        {
            theEntry->itsClassKnown = true;
            theEntry->itsIsGroup = false;
            theEntry->itsIsUser = false;
        }
        if (theEntry->itsIsGroup && !theEntry->itsMembersKnown)
            theEntry->setMembers({});
    }
    if (failed(theStatus))
    {
        // Answers still owed must not be taken for later requests' answers.
        for (std::size_t curIndex = theNextToTake; curIndex < theInFlight.size(); ++curIndex)
            if (itsLd != nullptr && !itsDead)
                ldap_abandon_ext(itsLd, theInFlight[curIndex].first, nullptr, nullptr);
        return theStatus;
    }
    return S_ok;
}

void LdapService::fetchNested(Connection& inConnection, const EntryPtr& inEntry)
{
    // Off unless asked for: Samba evaluates the in-chain rule entry by entry,
    // takes seconds on deep trees and, when its time limit strikes, has been
    // seen to answer success with part of the set. So its answer is only a
    // prefetch: the groups it returns, with their member values, are true
    // facts whatever else it missed, and every member it did not return is
    // still classified by reading it. Nothing is ever concluded from an
    // entry's absence in the answer.
    int theLimit = 0;
    if (const char* theText = std::getenv("CORVEL_LDAP_INCHAIN_LIMIT"))
        theLimit = std::max(0, std::atoi(theText));
    if (theLimit == 0)
        return;
    const std::string theBase = domainOf(inEntry->itsDN);
    if (theBase.empty())
        return;
    const std::string theFilter = std::string("(&(objectClass=group)(memberOf:") + kInChainRule +
                                  ":=" + dn::escapeFilterValue(inEntry->itsDN) + "))";
    std::vector<Found> theFound;
    if (failed(inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter, groupAttributes(),
                                   theFound, theLimit)))
        return; // no such rule here, or too slow: the walk reads level by level
    for (const Found& curFound : theFound)
    {
        EntryPtr theEntry;
        if (failed(inConnection.absorb(curFound, theEntry)))
            return;
        if (theEntry->itsIsGroup && !theEntry->itsMembersKnown)
            theEntry->setMembers({});
    }
}

void LdapService::searchMemberGroups(Connection& inConnection, const EntryPtr& inEntry,
                                     std::vector<std::string>& ioUnknown)
{
    // memberOf is the directory's own back-link of member: the groups of the
    // domain that hold inEntry's DN in memberOf are exactly its member groups
    // in that domain. Members elsewhere (another domain, an application
    // partition, the configuration) are not covered and are still read.
    const std::string theBase = domainOf(inEntry->itsDN);
    if (theBase.empty())
        return;
    const std::string theFilter =
        "(&(objectClass=group)(memberOf=" + dn::escapeFilterValue(inEntry->itsDN) + "))";
    std::vector<Found> theFound;
    // The server gets a time limit below our own time-out, so that a slow
    // directory (Samba does not index memberOf) answers "time limit" and the
    // connection lives on for the reads. Samba has been seen to answer
    // success with part of a set when its limit strikes: an answer is taken
    // as whole only when it came back before the limit could strike.
    const int theLimit = std::max(1, timeoutSeconds() / 2);
    const auto theStart = std::chrono::steady_clock::now();
    // Unpaged first: Samba pages at several times the cost. A directory
    // with a size limit below the answer refuses it, and then pages.
    Status theStatus = inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter,
                                           groupAttributes(), theFound, theLimit, false);
    if (failed(theStatus) && theStatus != E_timeout)
    {
        theFound.clear();
        theStatus = inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter, groupAttributes(),
                                        theFound, theLimit);
    }
    if (failed(theStatus) ||
        std::chrono::steady_clock::now() - theStart >= std::chrono::seconds(theLimit))
        return;
    // An answer that names a non-member is not the back-link of this member
    // list (an inconsistent or changing directory): conclude nothing from it.
    for (const Found& curFound : theFound)
        if (inEntry->itsMemberKeys.count(dnKey(curFound.itsDN)) == 0)
            return;
    std::unordered_set<std::string> theGroups;
    for (const Found& curFound : theFound)
    {
        EntryPtr theEntry;
        if (failed(inConnection.absorb(curFound, theEntry)) || !theEntry->itsIsGroup)
            return; // no conclusion without the group's class and members
        if (!theEntry->itsMembersKnown)
            theEntry->setMembers({});
        theGroups.insert(dnKey(curFound.itsDN));
    }
    const std::string theBaseKey = dnKey(theBase);
    const std::string theConfigurationKey = dnKey("CN=Configuration," + theBase);
    const auto theIsUnder = [](const std::string& inKey, const std::string& inSuffix) {
        return inKey.size() > inSuffix.size() &&
               inKey.compare(inKey.size() - inSuffix.size(), inSuffix.size(), inSuffix) == 0 &&
               inKey[inKey.size() - inSuffix.size() - 1] == ',';
    };
    std::vector<std::string> theLeft;
    for (const std::string& curDN : ioUnknown)
    {
        const std::string theKey = dnKey(curDN);
        if (theGroups.count(theKey) != 0)
            continue;
        const EntryPtr theCached = inConnection.cached(curDN);
        const bool theCovered = dnKey(domainOf(curDN)) == theBaseKey &&
                                !theIsUnder(theKey, theConfigurationKey) &&
                                theKey != theConfigurationKey;
        // A member already known as a group that the answer left out
        // contradicts it: read that one rather than trust either.
        if (!theCovered || (theCached && theCached->itsClassKnown && theCached->itsIsGroup))
        {
            theLeft.push_back(curDN);
            continue;
        }
        const EntryPtr theEntry = inConnection.entry(curDN);
        theEntry->itsClassKnown = true;
        theEntry->itsIsGroup = false;
    }
    ioUnknown = std::move(theLeft);
}

Status LdapService::classifyMembers(Connection& inConnection, const EntryPtr& inEntry)
{
    std::vector<std::string> theUnknown;
    for (const std::string& curDN : inEntry->itsMembers)
    {
        const EntryPtr theMember = inConnection.cached(curDN);
        if (theMember && theMember->itsClassKnown && (!theMember->itsIsGroup || theMember->itsMembersKnown))
            continue;
        theUnknown.push_back(curDN);
    }
    if (theUnknown.size() > kSearchAbove)
        searchMemberGroups(inConnection, inEntry, theUnknown);
    if (theUnknown.empty())
        return S_ok;
    return inConnection.fetchMany(theUnknown);
}

} // namespace corvel::directory::ldap
