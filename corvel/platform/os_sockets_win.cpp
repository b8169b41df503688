#include "corvel/platform/os_sockets.h"

#include <winsock2.h>

#include "corvel/platform/os_event.h"
#include "corvel/platform/os_thread.h"

namespace corvel::platform
{

const std::size_t socketSetLimit = 64;
const int socketErrorInterrupted = WSAEINTR;
const int socketErrorBadDescriptor = WSAENOTSOCK;
const int socketErrorInvalidArgument = WSAEINVAL;

namespace
{

// Winsock refuses every call before WSAStartup; the process keeps it for its
// lifetime.
bool winsockReady()
{
    static const bool theReady = []
    {
        WSADATA theData{};
        return WSAStartup(MAKEWORD(2, 2), &theData) == 0;
    }();
    return theReady;
}

// Winsock's FD_SET drops a socket silently once the set holds FD_SETSIZE
// (64): count first so that a larger set fails instead of being cut.
bool addToSet(fd_set& ioSet, SocketDescriptor inSocket)
{
    if (ioSet.fd_count >= FD_SETSIZE)
        return false;
    FD_SET(static_cast<SOCKET>(inSocket), &ioSet);
    return true;
}

} // namespace

int waitForSockets(std::vector<SocketWaitEntry>& ioEntries, std::uint32_t inTimeout)
{
    threadCheckpoint();
    if (!winsockReady())
        return -1;
    fd_set theRead;
    fd_set theWrite;
    fd_set theExcept;
    FD_ZERO(&theRead);
    FD_ZERO(&theWrite);
    FD_ZERO(&theExcept);
    std::size_t theWatched = 0;
    for (SocketWaitEntry& curEntry : ioEntries)
    {
        curEntry.itsReadable = curEntry.itsWritable = curEntry.itsExceptional = false;
        if (curEntry.itsSocket < 0)
        {
            WSASetLastError(WSAENOTSOCK);
            return -1;
        }
        const bool theFits = (!curEntry.itsInRead || addToSet(theRead, curEntry.itsSocket)) &&
                             (!curEntry.itsInWrite || addToSet(theWrite, curEntry.itsSocket)) &&
                             (!curEntry.itsInExcept || addToSet(theExcept, curEntry.itsSocket));
        if (!theFits)
        {
            WSASetLastError(WSAEINVAL);
            return -1;
        }
        if (curEntry.itsInRead || curEntry.itsInWrite || curEntry.itsInExcept)
            ++theWatched;
    }
    if (theWatched == 0)
    {
        WSASetLastError(WSAEINVAL);
        return -1;
    }
    timeval theTime{};
    timeval* theTimeout = nullptr;
    if (inTimeout != waitForever)
    {
        theTime.tv_sec = static_cast<long>(inTimeout / 1000u);
        theTime.tv_usec = static_cast<long>((inTimeout % 1000u) * 1000u);
        theTimeout = &theTime;
    }
    // The first argument is ignored by Winsock.
    const int theCount = ::select(0, &theRead, &theWrite, &theExcept, theTimeout);
    if (theCount <= 0)
        return theCount == SOCKET_ERROR ? -1 : 0;
    int theReady = 0;
    for (SocketWaitEntry& curEntry : ioEntries)
    {
        const SOCKET theSocket = static_cast<SOCKET>(curEntry.itsSocket);
        curEntry.itsReadable = curEntry.itsInRead && FD_ISSET(theSocket, &theRead);
        curEntry.itsWritable = curEntry.itsInWrite && FD_ISSET(theSocket, &theWrite);
        curEntry.itsExceptional = curEntry.itsInExcept && FD_ISSET(theSocket, &theExcept);
        if (curEntry.itsReadable || curEntry.itsWritable || curEntry.itsExceptional)
            ++theReady;
    }
    return theReady;
}

int lastSocketError() { return WSAGetLastError(); }

void clearSocketError() { WSASetLastError(0); }

} // namespace corvel::platform
