#include "corvel/platform/os_sockets.h"

#include <cerrno>
#include <climits>

#include <poll.h>

#include "corvel/platform/os_event.h"
#include "corvel/platform/os_thread.h"

namespace corvel::platform
{

const std::size_t socketSetLimit = 0;
const int socketErrorInterrupted = EINTR;
const int socketErrorBadDescriptor = EBADF;
const int socketErrorInvalidArgument = EINVAL;

int waitForSockets(std::vector<SocketWaitEntry>& ioEntries, std::uint32_t inTimeout)
{
    threadCheckpoint();
    std::vector<pollfd> thePolls;
    thePolls.reserve(ioEntries.size());
    std::size_t theWatched = 0;
    for (SocketWaitEntry& curEntry : ioEntries)
    {
        curEntry.itsReadable = curEntry.itsWritable = curEntry.itsExceptional = false;
        // poll skips negative descriptors silently; a wait on nothing but
        // those could block forever, so they fail as select fails them.
        if (curEntry.itsSocket < 0)
        {
            errno = EBADF;
            return -1;
        }
        pollfd thePoll{};
        thePoll.fd = curEntry.itsSocket;
        if (curEntry.itsInRead)
            thePoll.events |= POLLIN;
        if (curEntry.itsInWrite)
            thePoll.events |= POLLOUT;
        if (curEntry.itsInExcept)
            thePoll.events |= POLLPRI;
        // In no set: poll ignores a negative descriptor, so a hang-up on it
        // cannot end the wait with nothing to report.
        if (thePoll.events == 0)
            thePoll.fd = -1;
        else
            ++theWatched;
        thePolls.push_back(thePoll);
    }
    if (theWatched == 0)
    {
        errno = EINVAL;
        return -1;
    }

    // poll takes an int; a finite time-out past INT_MAX ms (24.8 days) is cut
    // to that.
    int theTimeout = -1;
    if (inTimeout != waitForever)
        theTimeout =
            inTimeout > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(inTimeout);
    const int theCount = ::poll(thePolls.data(), static_cast<nfds_t>(thePolls.size()), theTimeout);
    if (theCount <= 0)
        return theCount;

    for (const pollfd& curPoll : thePolls)
        if (curPoll.revents & POLLNVAL)
        {
            errno = EBADF;
            return -1;
        }

    int theReady = 0;
    for (std::size_t i = 0; i < thePolls.size(); ++i)
    {
        SocketWaitEntry& curEntry = ioEntries[i];
        const short theEvents = thePolls[i].revents;
        const bool theBroken = (theEvents & (POLLERR | POLLHUP)) != 0;
        curEntry.itsReadable = curEntry.itsInRead && ((theEvents & POLLIN) || theBroken);
        curEntry.itsWritable = curEntry.itsInWrite && ((theEvents & POLLOUT) || theBroken);
        curEntry.itsExceptional = curEntry.itsInExcept && ((theEvents & POLLPRI) || theBroken);
        if (curEntry.itsReadable || curEntry.itsWritable || curEntry.itsExceptional)
            ++theReady;
    }
    return theReady;
}

int lastSocketError() { return errno; }

void clearSocketError() { errno = 0; }

} // namespace corvel::platform
