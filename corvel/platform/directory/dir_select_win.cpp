// Sessions and the choice of directory on Windows: the directory is always
// the platform's own, reached through ADSI with the caller's credentials, as
// every Windows client finds it. No environment or file is read.
#include "corvel/platform/directory/dir_service.h"

#include "corvel/platform/directory/adsi/adsi_backend.h"

namespace corvel::directory
{

namespace
{

// Current session per thread: an inner session shares the outer one's
// service, so the component runtime initialised by the outer one is reused.
struct ThreadSession
{
    std::shared_ptr<DirectoryService> itsService;
    int itsDepth = 0;
};

thread_local ThreadSession theThreadSession;

} // namespace

std::string configuredDirectory() { return "adsi"; }

std::shared_ptr<DirectoryService> openDirectoryService() { return adsi::makeAdsiService(); }

Session::Session()
{
    if (theThreadSession.itsDepth == 0 || !theThreadSession.itsService)
        theThreadSession.itsService = openDirectoryService();
    ++theThreadSession.itsDepth;
    itsService = theThreadSession.itsService;
}

Session::~Session()
{
    itsService.reset();
    if (--theThreadSession.itsDepth <= 0)
    {
        theThreadSession.itsDepth = 0;
        theThreadSession.itsService.reset();
    }
}

DirectoryService& Session::service() { return *itsService; }

} // namespace corvel::directory
