#include "corvel/platform/directory/ldap/ldap_entries.h"

#include "corvel/platform/directory/dn.h"

namespace corvel::directory::ldap
{

std::string lower(const std::string& inText) { return dn::toLowerAscii(inText); }

std::string dnKey(const std::string& inDN)
{
    std::string theKey;
    if (dn::normalizeDN(inDN, theKey))
        return theKey;
    return lower(inDN);
}

std::string domainOf(const std::string& inDN)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns))
        return {};
    std::size_t theFirst = theRdns.size();
    while (theFirst > 0 && theRdns[theFirst - 1].itsAvas.size() == 1 &&
           lower(theRdns[theFirst - 1].itsAvas[0].itsType) == "dc")
        --theFirst;
    std::string theDN;
    for (std::size_t curIndex = theFirst; curIndex < theRdns.size(); ++curIndex)
    {
        if (!theDN.empty())
            theDN += ',';
        theDN += theRdns[curIndex].itsText;
    }
    return theDN;
}

void Entry::setMembers(std::vector<std::string> inMembers)
{
    itsMembers = std::move(inMembers);
    itsMemberKeys.clear();
    for (const std::string& curMember : itsMembers)
        itsMemberKeys.insert(dnKey(curMember));
    itsMembersKnown = true;
}

void Entry::setClasses(const std::vector<std::string>& inClasses)
{
    itsClassKnown = true;
    itsIsGroup = false;
    itsIsUser = false;
    for (const std::string& curClass : inClasses)
    {
        const std::string theClass = lower(curClass);
        itsIsGroup = itsIsGroup || theClass == "group";
        itsIsUser = itsIsUser || theClass == "user";
    }
}

void Entry::settle(const std::vector<std::string>& inAttributes)
{
    for (const std::string& curName : inAttributes)
    {
        const std::string theName = lower(curName);
        if (theName == "member")
        {
            if (!itsMembersKnown)
                setMembers({});
        }
        else
            itsAttributes.try_emplace(theName);
    }
    if (!itsClassKnown)
        setClasses({});
}

void Entry::setNotGroup()
{
    itsClassKnown = true;
    itsIsGroup = false;
}

EntryPtr EntryCache::entry(const std::string& inDN)
{
    EntryPtr& theEntry = itsEntries[dnKey(inDN)];
    if (!theEntry)
    {
        theEntry = std::make_shared<Entry>();
        theEntry->itsDN = inDN;
    }
    return theEntry;
}

EntryPtr EntryCache::cached(const std::string& inDN) const
{
    const auto theAt = itsEntries.find(dnKey(inDN));
    return theAt == itsEntries.end() ? nullptr : theAt->second;
}

const std::vector<std::string>& groupAttributes()
{
    static const std::vector<std::string> kAttributes = {
        "objectClass", "distinguishedName", "name", "member", "objectSid", "primaryGroupID"};
    return kAttributes;
}

} // namespace corvel::directory::ldap
