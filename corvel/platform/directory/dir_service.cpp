// The directory interface's own code: what every caller of a service shares.
#include "corvel/platform/directory/dir_service.h"

#include "corvel/platform/directory/dn.h"

namespace corvel::directory
{

Status openByDN(DirectoryService& inService, const std::string& inDN,
                const Credentials* inCredentials, ObjectKind inKind,
                std::unique_ptr<DirObject>& outObject)
{
    return inService.openObject(dn::ldapPath(inDN), inCredentials, inKind, outObject);
}

} // namespace corvel::directory
