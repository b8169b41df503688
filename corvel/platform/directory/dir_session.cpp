// Sessions: one top-level operation on the calling thread. The service is
// chosen per platform (dir_select_posix.cpp, dir_select_win.cpp).
#include "corvel/platform/directory/dir_service.h"

#include <atomic>

#include "corvel/testing/platform_hooks.h"

namespace corvel::directory
{

namespace
{

// Current session per thread: an inner session shares the outer one's
// service, so connections (or the component runtime) opened by the outer one
// are reused by it.
struct ThreadSession
{
    std::shared_ptr<DirectoryService> itsService;
    int itsDepth = 0;
};

thread_local ThreadSession theThreadSession;

std::atomic<ServiceProvider> theProvider{nullptr};

} // namespace

void setServiceProvider(ServiceProvider inProvider)
{
    theProvider.store(inProvider, std::memory_order_release);
}

Session::Session()
{
    if (theThreadSession.itsDepth == 0 || !theThreadSession.itsService)
    {
        const ServiceProvider theOwn = theProvider.load(std::memory_order_acquire);
        theThreadSession.itsService = theOwn ? theOwn() : openDirectoryService();
    }
    ++theThreadSession.itsDepth;
    itsService = theThreadSession.itsService;
}

Session::Session(std::shared_ptr<DirectoryService> inService)
{
    if (!inService)
        inService = openDirectoryService();
    itsOuter = std::move(theThreadSession.itsService);
    itsOuterDepth = theThreadSession.itsDepth;
    theThreadSession.itsService = std::move(inService);
    theThreadSession.itsDepth = 1;
    itsService = theThreadSession.itsService;
    itsHandedIn = true;
}

Session::~Session()
{
    itsService.reset();
    if (itsHandedIn)
    {
        // The sessions around this one get their own service back.
        theThreadSession.itsService = std::move(itsOuter);
        theThreadSession.itsDepth = itsOuterDepth;
        return;
    }
    if (--theThreadSession.itsDepth <= 0)
    {
        theThreadSession.itsDepth = 0;
        theThreadSession.itsService.reset();
    }
}

DirectoryService& Session::service() { return *itsService; }

} // namespace corvel::directory
