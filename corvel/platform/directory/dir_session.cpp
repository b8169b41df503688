// Sessions: one top-level operation on the calling thread. The service is
// chosen per platform (dir_select_posix.cpp, dir_select_win.cpp).
#include "corvel/platform/directory/dir_service.h"

#include <atomic>

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
