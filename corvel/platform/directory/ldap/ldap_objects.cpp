#include "corvel/platform/directory/ldap/ldap_objects.h"

namespace corvel::directory::ldap
{

Status LdapObject::members(std::unique_ptr<DirEnumerator>& outMembers)
{
    Status theStatus = ensureMembers();
    if (failed(theStatus))
        return theStatus;
    theStatus = itsService->classifyMembers(itsConnection, itsEntry);
    if (failed(theStatus))
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : itsEntry->itsMembers)
        theEntries.push_back(itsConnection.entry(curDN));
    outMembers = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

Status LdapObject::groups(std::unique_ptr<DirEnumerator>& outGroups)
{
    std::vector<std::string> theGroups;
    const Status theStatus = getEx("memberOf", theGroups);
    if (failed(theStatus) && theStatus != E_propertyNotFound)
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : theGroups)
    {
        // memberOf names groups only.
        EntryPtr theEntry = itsConnection.entry(curDN);
        if (!theEntry->itsClassKnown)
        {
            theEntry->itsClassKnown = true;
            theEntry->itsIsGroup = true;
        }
        theEntries.push_back(theEntry);
    }
    outGroups = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

} // namespace corvel::directory::ldap
