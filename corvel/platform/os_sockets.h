// Socket readiness: one wait over sets of sockets.
//
// The caller lists each distinct socket once with the sets it belongs to
// (read, write, exceptional condition); the wait marks which of those
// conditions hold. On POSIX this is poll, so a descriptor of any value is
// safe (select's fixed-size sets would be written past at FD_SETSIZE), and
// the sets have no size limit (socketSetLimit is 0).
//
// Mapping on POSIX: readable = data, end of stream or a pending connection
// (POLLIN); writable = POLLOUT; exceptional = urgent data (POLLPRI). A socket
// in error or hung up is reported in every set it belongs to, as select does
// (its next read or write does not block), so such a socket always ends the
// wait. An invalid descriptor (negative, or not open) makes the call fail with
// the "bad descriptor" error and marks nothing, as select does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvel::platform
{

using SocketDescriptor = std::int32_t;

struct SocketWaitEntry
{
    SocketDescriptor itsSocket = -1;
    bool itsInRead = false;
    bool itsInWrite = false;
    bool itsInExcept = false;
    bool itsReadable = false;
    bool itsWritable = false;
    bool itsExceptional = false;
};

// The most sockets one set holds; 0 = no limit (POSIX: poll has none;
// Windows: a Winsock set holds 64).
extern const std::size_t socketSetLimit;

// The error number of an interrupted call (EINTR).
extern const int socketErrorInterrupted;
// The error number of an invalid descriptor (EBADF).
extern const int socketErrorBadDescriptor;
// The error number of a call with nothing to wait for (EINVAL).
extern const int socketErrorInvalidArgument;

// Waits until a condition holds for one of the entries or the time-out
// (milliseconds, waitForever = no limit) passes. Returns the number of
// entries with a condition, 0 on time-out, -1 on failure with the error
// number in lastSocketError. An empty list fails with
// socketErrorInvalidArgument. Clears every result flag first. A checkpoint of
// the calling thread (os_thread.h) before it waits.
int waitForSockets(std::vector<SocketWaitEntry>& ioEntries, std::uint32_t inTimeout);

// The C library's error number (errno) and a way to clear it.
int lastSocketError();
void clearSocketError();

} // namespace corvel::platform
