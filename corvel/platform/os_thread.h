// Threads as the operating system sees them.
//
// POSIX has no way to suspend or kill another thread safely, so two
// operations are cooperative here, and every framework wait is a checkpoint
// where they take effect (threadCheckpoint):
//
// - suspendThread: the thread runs on until its next checkpoint and is held
//   there until it is resumed. A thread created suspended is held before its
//   entry runs, so that one is exact.
// - terminateThread: the thread counts as ended at once for every observer
//   (waitForThread returns, the exit code is the one given), a wait it is
//   blocked in is interrupted, and at its next checkpoint it leaves through
//   ThreadTerminated, unwinding its stack with destructors run. A thread that
//   never reaches a checkpoint runs on until it returns by itself.
//   waitForThreadExit waits for that real end. The thread's record lives, by
//   shared ownership, until both the handle is closed and the thread ended.
//
// ThreadTerminated derives from no standard exception so that a body's
// handler for std::exception does not catch it. A catch-all that swallows it
// does no harm: the next checkpoint throws again. No thread is cancelled with
// pthread_cancel, whose forced unwind would end the process in
// std::terminate when such a handler swallowed it. A checkpoint reached while
// an exception is already unwinding the stack does not throw; waits of a
// terminated thread then return at once as timed out.
#pragma once

#include <cstdint>

namespace corvel::platform
{

// The calling thread's OS id; never 0 (the kernel's thread id on Linux).
std::uint32_t currentThreadId();

struct OsThreadObject;
using ThreadHandle = OsThreadObject*;

// The exit code of a thread that has not ended.
inline constexpr std::uint32_t threadStillActive = 259;

// The entry of a thread; its result is the thread's exit code.
using ThreadEntry = std::uint32_t (*)(void* inArgument);

struct ThreadTerminated
{
};

// Creates a thread with the default stack size, held before its entry until
// resumeThread. Its id is known at once. Returns nullptr when the system
// cannot create a thread. The thread gets its message queue before it runs.
ThreadHandle createSuspendedThread(ThreadEntry inEntry, void* inArgument,
                                   std::uint32_t& outThreadId);

// Raises the suspension count; false once the thread ended or was terminated.
bool suspendThread(ThreadHandle inThread);
// Lowers the suspension count; the thread goes on when it reaches 0.
bool resumeThread(ThreadHandle inThread);

// True when the thread ended (or was terminated) within the time-out
// (waitForever: no limit).
bool waitForThread(ThreadHandle inThread, std::uint32_t inTimeout);
// threadStillActive until the thread ended or was terminated.
std::uint32_t getThreadExitCode(ThreadHandle inThread);
// See the header comment. False when the thread had already ended.
bool terminateThread(ThreadHandle inThread, std::uint32_t inExitCode);
bool wasTerminated(ThreadHandle inThread);
// Waits, without limit, until the thread's entry really returned or unwound.
void waitForThreadExit(ThreadHandle inThread);
// Releases the handle; the thread itself is not affected.
void closeThread(ThreadHandle inThread);

// Holds the calling thread while it is suspended; throws ThreadTerminated
// when it was terminated. No effect on threads the porting layer did not
// create.
void threadCheckpoint();

} // namespace corvel::platform
