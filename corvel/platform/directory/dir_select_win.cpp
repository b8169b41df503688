// The choice of directory on Windows: always the platform's own, reached
// through ADSI with the caller's credentials, as every Windows client finds
// it. No environment or file is read.
#include "corvel/platform/directory/dir_service.h"

#include "corvel/platform/directory/adsi/adsi_backend.h"

namespace corvel::directory
{

std::string configuredDirectory() { return "adsi"; }

std::shared_ptr<DirectoryService> openDirectoryService() { return adsi::makeAdsiService(); }

} // namespace corvel::directory
