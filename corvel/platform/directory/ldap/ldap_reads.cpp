// Reading many objects at once: the reads of a whole level of a walk, or of
// every question of a batch, each a base read (tokenGroups is only given to
// a base read), all kept in flight together on the DC of each object's
// domain. What the session's cache already holds is answered from it.
#include <algorithm>
#include <unordered_set>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/ldap/ldap_tuning.h"

namespace corvel::directory::ldap
{

namespace
{

bool isSidPath(const std::string& inDN)
{
    return inDN.size() > 6 && lower(inDN.substr(0, 5)) == "<sid=" && inDN.back() == '>';
}

// The values of inRead's attributes from what the cache knows of inEntry;
// false when it lacks one of them.
bool fromEntry(const Entry& inEntry, ObjectRead& ioRead)
{
    std::map<std::string, std::vector<std::string>> theValues;
    for (const std::string& curName : ioRead.itsAttributes)
    {
        const std::string theName = lower(curName);
        if (theName == "member")
        {
            if (!inEntry.itsMembersKnown)
                return false;
            if (!inEntry.itsMembers.empty())
                theValues[theName] = inEntry.itsMembers;
            continue;
        }
        if (theName == "distinguishedname")
        {
            theValues[theName] = {inEntry.itsDN};
            continue;
        }
        const auto theAt = inEntry.itsAttributes.find(theName);
        if (theAt == inEntry.itsAttributes.end())
            return false;
        if (!theAt->second.empty())
            theValues[theName] = theAt->second;
    }
    ioRead.itsValues = std::move(theValues);
    ioRead.itsFoundDN = inEntry.itsDN;
    ioRead.itsStatus = S_ok;
    return true;
}

bool isConstructed(const std::string& inAttribute)
{
    // Given only to a base read of its object.
    return lower(inAttribute) == "tokengroups";
}

} // namespace

void LdapService::searchFirst(Connection& inConnection, std::vector<ObjectRead>& ioReads,
                              std::vector<std::size_t>& ioIndexes)
{
    // Objects named by DN, whose attributes a search returns, are fetched
    // a score a search (several times cheaper for the server than a read
    // each); what that leaves out is read on its own after, as only a read
    // can say that an object is not there for us.
    std::map<std::vector<std::string>, std::vector<std::size_t>> theByAttributes;
    for (std::size_t curIndex : ioIndexes)
    {
        const ObjectRead& theRead = ioReads[curIndex];
        if (isSidPath(theRead.itsDN) ||
            std::any_of(theRead.itsAttributes.begin(), theRead.itsAttributes.end(), isConstructed))
            continue;
        theByAttributes[theRead.itsAttributes].push_back(curIndex);
    }
    std::unordered_set<std::size_t> theAnswered;
    for (const auto& [curAttributes, curIndexes] : theByAttributes)
    {
        if (curIndexes.size() < 2 * tuning().itsLevelChunk / 4)
            continue; // a few: base reads are as cheap
        std::vector<std::string> theDNs;
        for (std::size_t curIndex : curIndexes)
            theDNs.push_back(ioReads[curIndex].itsDN);
        std::vector<std::string> theAttributes = curAttributes;
        theAttributes.push_back("objectClass");
        std::size_t theBudget = theDNs.size();
        if (failed(fetchEntries(inConnection, theDNs, theAttributes, theBudget)))
            continue; // the reads of each ask again
        for (std::size_t curIndex : curIndexes)
        {
            const EntryPtr theCached = inConnection.entries().cached(ioReads[curIndex].itsDN);
            if (theCached && fromEntry(*theCached, ioReads[curIndex]))
                theAnswered.insert(curIndex);
        }
    }
    // What the searches answered is done.
    std::vector<std::size_t> theRest;
    for (std::size_t curIndex : ioIndexes)
        if (theAnswered.count(curIndex) == 0)
            theRest.push_back(curIndex);
    ioIndexes = std::move(theRest);
}

Status LdapService::readObjects(std::vector<ObjectRead>& ioReads)
{
    // The reads each connection makes, by the connection.
    std::map<Connection*, std::vector<std::size_t>> theByConnection;
    for (std::size_t curIndex = 0; curIndex < ioReads.size(); ++curIndex)
    {
        ObjectRead& theRead = ioReads[curIndex];
        theRead.itsValues.clear();
        theRead.itsFoundDN.clear();
        std::string theDN = theRead.itsDN;
        if (isSidPath(theDN))
        {
            const auto theKnown = itsDnBySid.find(lower(theDN));
            if (theKnown != itsDnBySid.end())
                theDN = theKnown->second;
        }
        else
        {
            std::vector<dn::Rdn> theRdns;
            if (!dn::parseDN(theDN, theRdns))
            {
                theRead.itsStatus = E_noSuchObject;
                continue;
            }
        }
        Connection* theConnection = nullptr;
        // An object named by SID alone is asked of the home DC.
        theRead.itsStatus =
            connectionFor(isSidPath(theDN) ? std::string() : theDN, "", nullptr, theConnection);
        if (failed(theRead.itsStatus))
            continue;
        const EntryPtr theCached = theConnection->entries().cached(theDN);
        if (theCached && fromEntry(*theCached, theRead))
            continue;
        theByConnection[theConnection].push_back(curIndex);
    }

    for (auto& [curConnection, curIndexes] : theByConnection)
    {
        searchFirst(*curConnection, ioReads, curIndexes);
        std::vector<SearchSpec> theSpecs;
        for (std::size_t curIndex : curIndexes)
        {
            SearchSpec theSpec;
            theSpec.itsBase = ioReads[curIndex].itsDN;
            theSpec.itsAttributes = ioReads[curIndex].itsAttributes;
            theSpec.itsAttributes.push_back("objectClass");
            theSpec.itsPaged = false;
            theSpecs.push_back(std::move(theSpec));
        }
        std::vector<SearchResult> theResults;
        const Status theStatus =
            curConnection->searchMany(theSpecs, tuning().itsSearchesInFlight, theResults);
        for (std::size_t curSpec = 0; curSpec < theSpecs.size(); ++curSpec)
        {
            ObjectRead& theRead = ioReads[curIndexes[curSpec]];
            if (failed(theStatus))
            {
                theRead.itsStatus = theStatus;
                continue;
            }
            const SearchResult& theResult = theResults[curSpec];
            if (theResult.itsCode != LDAP_SUCCESS || theResult.itsFound.empty())
            {
                theRead.itsStatus =
                    theResult.itsCode == LDAP_SUCCESS || isAbsentCode(theResult.itsCode)
                        ? E_noSuchObject
                        : mapLdapError(theResult.itsCode);
                continue;
            }
            EntryPtr theEntry;
            theRead.itsStatus = curConnection->absorb(theResult.itsFound.front(), theEntry);
            if (failed(theRead.itsStatus))
                continue;
            theEntry->settle(theSpecs[curSpec].itsAttributes);
            if (isSidPath(theRead.itsDN))
                itsDnBySid[lower(theRead.itsDN)] = theEntry->itsDN;
            fromEntry(*theEntry, theRead);
        }
    }
    return S_ok;
}

} // namespace corvel::directory::ldap
