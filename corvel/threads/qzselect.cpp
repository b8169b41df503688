// qzThread::select: the socket readiness wait.
#include <unordered_map>

#include "corvel/debug/qzdebug.h"
#include "corvel/platform/os_event.h"
#include "corvel/platform/os_sockets.h"
#include "corvel/threads/qzthread.h"
#include "corvel/util/qztimer.h"

namespace
{

using corvel::platform::SocketWaitEntry;

// The sets of one wait: each distinct socket once, with the sets it is in.
// A set takes at most socketSetLimit sockets where the platform's sets have
// a limit; later sockets are left out of that set.
struct SocketSets
{
    std::vector<SocketWaitEntry> itsEntries;
    std::unordered_map<std::int32_t, std::size_t> itsIndex;
    std::size_t itsReadCount = 0;
    std::size_t itsWriteCount = 0;
    std::size_t itsExceptCount = 0;

    SocketWaitEntry& entryFor(std::int32_t inSocket)
    {
        auto theFound = itsIndex.find(inSocket);
        if (theFound != itsIndex.end())
            return itsEntries[theFound->second];
        itsIndex.emplace(inSocket, itsEntries.size());
        itsEntries.emplace_back();
        itsEntries.back().itsSocket = inSocket;
        return itsEntries.back();
    }

    static void add(bool& ioInSet, std::size_t& ioCount)
    {
        if (ioInSet)
            return;
        if (corvel::platform::socketSetLimit != 0 && ioCount >= corvel::platform::socketSetLimit)
            return;
        ioInSet = true;
        ++ioCount;
    }

    // The entry of a socket after the wait, or nullptr.
    const SocketWaitEntry* find(std::int32_t inSocket) const
    {
        auto theFound = itsIndex.find(inSocket);
        return theFound == itsIndex.end() ? nullptr : &itsEntries[theFound->second];
    }
};

} // namespace

std::uint16_t qzThread::select(std::vector<selectInfo>& ioSockets, std::uint32_t inTimeout)
{
    qzTrace(2, "qzThread::select(%i)", static_cast<int>(ioSockets.size()));
    for (selectInfo& curInfo : ioSockets)
        curInfo.itsReady = 0;

    qzTimer theTimer(1);
    std::uint16_t theResult = 0;
    std::uint32_t theRemaining = inTimeout;
    while (theResult == 0)
    {
        SocketSets theSets;
        for (const selectInfo& curInfo : ioSockets)
        {
            if (curInfo.itsWanted & selectRead)
                SocketSets::add(theSets.entryFor(curInfo.itsSocket).itsInRead,
                                theSets.itsReadCount);
            if (curInfo.itsWanted & selectWrite)
                SocketSets::add(theSets.entryFor(curInfo.itsSocket).itsInWrite,
                                theSets.itsWriteCount);
            if (curInfo.itsWanted & selectExcept)
                SocketSets::add(theSets.entryFor(curInfo.itsSocket).itsInExcept,
                                theSets.itsExceptCount);
        }

        // With nothing asked for at all the platform call fails (bit 1)
        // instead of blocking for ever.
        const int theCount = corvel::platform::waitForSockets(
            theSets.itsEntries, inTimeout == corvel::platform::waitForever
                                    ? corvel::platform::waitForever
                                    : theRemaining);
        if (theCount == 0)
            break;
        if (theCount < 0)
        {
            const int theError = corvel::platform::lastSocketError();
            if (theError != corvel::platform::socketErrorInterrupted)
            {
                qzTrace(1, "qzThread::select - error (%i)", theError);
                theResult = selectError;
                break;
            }
            corvel::platform::clearSocketError();
            if (inTimeout != corvel::platform::waitForever)
            {
                // The remaining time is measured from the start, not from the
                // interrupted call.
                const std::uint32_t theElapsed = theTimer.elapsed();
                if (theElapsed >= inTimeout)
                    break;
                theRemaining = inTimeout - theElapsed;
            }
            continue;
        }

        for (std::size_t i = 0; i < ioSockets.size(); ++i)
        {
            selectInfo& curInfo = ioSockets[i];
            const SocketWaitEntry* theEntry = theSets.find(curInfo.itsSocket);
            if (theEntry == nullptr)
                continue;
            if (theEntry->itsReadable)
            {
                curInfo.itsReady |= selectRead;
                theResult |= selectRead;
                qzTrace(2, "qzThread::select got read(%i)", static_cast<int>(i));
            }
            if (theEntry->itsWritable)
            {
                curInfo.itsReady |= selectWrite;
                theResult |= selectWrite;
                qzTrace(2, "qzThread::select got write(%i)", static_cast<int>(i));
            }
            if (theEntry->itsExceptional)
            {
                curInfo.itsReady |= selectExcept;
                theResult |= selectExcept;
                qzTrace(2, "qzThread::select got xcpt(%i)", static_cast<int>(i));
            }
        }
    }

    qzTrace(2, "qzThread::select(%i) error(%i) read(%i) write(%i) xcpt(%i)", theResult,
            (theResult & selectError) ? 1 : 0, (theResult & selectRead) ? 1 : 0,
            (theResult & selectWrite) ? 1 : 0, (theResult & selectExcept) ? 1 : 0);
    return theResult;
}

std::uint16_t qzThread::select(std::int32_t inSocket, std::uint16_t inWanted,
                               std::uint32_t inTimeout)
{
    std::vector<selectInfo> theSockets;
    theSockets.emplace_back(inSocket, inWanted);
    return select(theSockets, inTimeout);
}
