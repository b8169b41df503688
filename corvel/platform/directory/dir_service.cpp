// The directory interface's own code: what every caller of a service shares.
#include "corvel/platform/directory/dir_service.h"

#include "corvel/platform/directory/dn.h"

namespace corvel::directory
{

const std::vector<std::string>& ObjectRead::values(const std::string& inLowerName) const
{
    static const std::vector<std::string> theNone;
    const auto theAt = itsValues.find(inLowerName);
    return theAt == itsValues.end() ? theNone : theAt->second;
}

Status DirectoryService::readObjects(std::vector<ObjectRead>& ioReads)
{
    for (ObjectRead& curRead : ioReads)
    {
        curRead.itsValues.clear();
        std::unique_ptr<DirObject> theObject;
        curRead.itsStatus =
            openObject(dn::ldapPath(curRead.itsDN), nullptr, ObjectKind::Object, theObject);
        if (failed(curRead.itsStatus) || !theObject)
        {
            if (succeeded(curRead.itsStatus))
                curRead.itsStatus = E_noSuchObject;
            continue;
        }
        if (failed(theObject->get("distinguishedName", curRead.itsFoundDN)))
            curRead.itsFoundDN = curRead.itsDN;
        for (const std::string& curName : curRead.itsAttributes)
        {
            std::vector<std::string> theValues;
            const Status theStatus = theObject->getEx(curName, theValues);
            if (theStatus == E_propertyNotFound)
                continue;
            if (failed(theStatus))
            {
                curRead.itsStatus = theStatus;
                break;
            }
            curRead.itsValues[dn::toLowerAscii(curName)] = std::move(theValues);
        }
    }
    return S_ok;
}

Status openByDN(DirectoryService& inService, const std::string& inDN,
                const Credentials* inCredentials, ObjectKind inKind,
                std::unique_ptr<DirObject>& outObject)
{
    return inService.openObject(dn::ldapPath(inDN), inCredentials, inKind, outObject);
}

} // namespace corvel::directory
