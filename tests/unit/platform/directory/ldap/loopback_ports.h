// Loopback ports for the tests of trying servers in turn.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ldaptest
{

// A loopback port on which nothing listens: bound, then released (0 when
// none can be had).
inline int closedPort()
{
    const int theSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in theAddress{};
    theAddress.sin_family = AF_INET;
    theAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t theSize = sizeof(theAddress);
    if (theSocket < 0 ||
        ::bind(theSocket, reinterpret_cast<sockaddr*>(&theAddress), theSize) != 0 ||
        ::getsockname(theSocket, reinterpret_cast<sockaddr*>(&theAddress), &theSize) != 0)
    {
        if (theSocket >= 0)
            ::close(theSocket);
        return 0;
    }
    ::close(theSocket);
    return ntohs(theAddress.sin_port);
}

} // namespace ldaptest
