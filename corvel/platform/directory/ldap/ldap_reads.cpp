// Reading many objects at once: the reads of a whole level of a walk, or of
// every question of a batch, each a base read (tokenGroups is only given to
// a base read), all kept in flight together on the DC of each object's
// domain. What the session's cache already holds is answered from it.
#include <algorithm>

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

} // namespace

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
