// Windows-only edges of the waits: more events than one system wait takes,
// window targets, and Winsock's 64-socket sets.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "corvel/platform/os_event.h"
#include "corvel/platform/os_messages.h"
#include "corvel/platform/os_sockets.h"
#include "corvel/platform/os_thread.h"

namespace pf = corvel::platform;

namespace
{
struct EventSet
{
    std::vector<pf::EventHandle> itsHandles;
    explicit EventSet(std::size_t inCount)
    {
        for (std::size_t i = 0; i < inCount; ++i)
            itsHandles.push_back(pf::createEvent());
    }
    ~EventSet()
    {
        for (pf::EventHandle curHandle : itsHandles)
            pf::closeEvent(curHandle);
    }
};

struct Socket
{
    SOCKET itsSocket = INVALID_SOCKET;
    Socket() = default;
    explicit Socket(SOCKET inSocket) : itsSocket(inSocket) {}
    ~Socket()
    {
        if (itsSocket != INVALID_SOCKET)
            closesocket(itsSocket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

class Winsock : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA theData{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &theData), 0);
    }
    void TearDown() override { WSACleanup(); }
};
} // namespace

TEST(OsWaitWin, MoreEventsThanOneSystemWaitTakes)
{
    EventSet theEvents(100);
    for (pf::EventHandle curHandle : theEvents.itsHandles)
        ASSERT_NE(curHandle, nullptr);
    EXPECT_EQ(pf::waitForAnyEvent(theEvents.itsHandles, 20), pf::waitTimedOut);

    pf::setEvent(theEvents.itsHandles[90]);
    pf::setEvent(theEvents.itsHandles[70]);
    EXPECT_EQ(pf::waitForAnyEvent(theEvents.itsHandles, 0), 70);
    pf::resetEvent(theEvents.itsHandles[70]);
    EXPECT_EQ(pf::waitForAnyEvent(theEvents.itsHandles, 0), 90);
    pf::resetEvent(theEvents.itsHandles[90]);

    // Set while the wait is under way, past the first slice.
    std::thread theSetter(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pf::setEvent(theEvents.itsHandles[99]);
        });
    EXPECT_EQ(pf::waitForAnyEvent(theEvents.itsHandles, 10000), 99);
    theSetter.join();
}

TEST(OsWaitWin, TerminationInterruptsAWaitOnManyEvents)
{
    struct Shared
    {
        EventSet itsEvents{80};
        std::atomic<bool> itsUnwound{false};
    } theShared;
    struct Unwind
    {
        std::atomic<bool>* itsFlag;
        ~Unwind() { itsFlag->store(true); }
    };
    std::uint32_t theId = 0;
    pf::ThreadHandle theThread = pf::createSuspendedThread(
        [](void* inArgument) -> std::uint32_t
        {
            Shared* theData = static_cast<Shared*>(inArgument);
            Unwind theGuard{&theData->itsUnwound};
            pf::waitForAnyEvent(theData->itsEvents.itsHandles, pf::waitForever);
            return 5;
        },
        &theShared, theId);
    ASSERT_NE(theThread, nullptr);
    pf::resumeThread(theThread);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(pf::terminateThread(theThread, 77));
    EXPECT_TRUE(pf::waitForThread(theThread, 10000));
    pf::waitForThreadExit(theThread);
    EXPECT_TRUE(theShared.itsUnwound.load());
    EXPECT_EQ(pf::getThreadExitCode(theThread), 77u);
    pf::closeThread(theThread);
}

TEST(OsWaitWin, WindowTargetsAreRealWindowsOfTheirThread)
{
    EXPECT_FALSE(pf::postWindowMessage(0, 1, 0, 0));
    pf::ensureMessageQueue();
    pf::drainMessages();
    const pf::WindowHandle theWindow = pf::createWindowTarget();
    ASSERT_NE(theWindow, 0u);
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(theWindow)));
    DWORD theProcess = 0;
    EXPECT_EQ(GetWindowThreadProcessId(reinterpret_cast<HWND>(theWindow), &theProcess),
              GetCurrentThreadId());
    EXPECT_TRUE(pf::postWindowMessage(theWindow, WM_USER + 3, 1, 2));
    EXPECT_EQ(pf::waitForAnyEventOrMessage({}, 5000), pf::waitMessage);
    pf::OsMessage theMessage;
    ASSERT_TRUE(pf::peekMessage(theMessage));
    EXPECT_EQ(theMessage.itsWindow, theWindow);
    EXPECT_EQ(theMessage.itsMessage, static_cast<std::uint32_t>(WM_USER + 3));
    pf::destroyWindowTarget(theWindow);
    EXPECT_FALSE(pf::postWindowMessage(theWindow, WM_USER, 0, 0));
}

TEST_F(Winsock, ReadinessOfALoopbackConnection)
{
    Socket theListener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_NE(theListener.itsSocket, INVALID_SOCKET);
    sockaddr_in theAddress{};
    theAddress.sin_family = AF_INET;
    theAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(
        bind(theListener.itsSocket, reinterpret_cast<sockaddr*>(&theAddress), sizeof theAddress),
        0);
    ASSERT_EQ(listen(theListener.itsSocket, 1), 0);
    int theLength = sizeof theAddress;
    ASSERT_EQ(
        getsockname(theListener.itsSocket, reinterpret_cast<sockaddr*>(&theAddress), &theLength),
        0);
    Socket theClient(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(
        connect(theClient.itsSocket, reinterpret_cast<sockaddr*>(&theAddress), sizeof theAddress),
        0);
    Socket theServer(accept(theListener.itsSocket, nullptr, nullptr));
    ASSERT_NE(theServer.itsSocket, INVALID_SOCKET);

    std::vector<pf::SocketWaitEntry> theEntries(1);
    theEntries[0].itsSocket = static_cast<pf::SocketDescriptor>(theServer.itsSocket);
    theEntries[0].itsInRead = true;
    EXPECT_EQ(pf::waitForSockets(theEntries, 20), 0);
    EXPECT_FALSE(theEntries[0].itsReadable);

    ASSERT_EQ(send(theClient.itsSocket, "x", 1, 0), 1);
    theEntries[0].itsInWrite = true;
    EXPECT_EQ(pf::waitForSockets(theEntries, 5000), 1);
    EXPECT_TRUE(theEntries[0].itsReadable);
    EXPECT_TRUE(theEntries[0].itsWritable);
}

TEST_F(Winsock, SetsPastSixtyFourSocketsFailInsteadOfDroppingSockets)
{
    std::vector<std::unique_ptr<Socket>> theSockets;
    std::vector<pf::SocketWaitEntry> theEntries;
    for (int i = 0; i < FD_SETSIZE + 1; ++i)
    {
        theSockets.push_back(std::make_unique<Socket>(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)));
        ASSERT_NE(theSockets.back()->itsSocket, INVALID_SOCKET);
        pf::SocketWaitEntry theEntry;
        theEntry.itsSocket = static_cast<pf::SocketDescriptor>(theSockets.back()->itsSocket);
        theEntry.itsInRead = true;
        theEntries.push_back(theEntry);
    }
    pf::clearSocketError();
    EXPECT_EQ(pf::waitForSockets(theEntries, 0), -1);
    EXPECT_EQ(pf::lastSocketError(), pf::socketErrorInvalidArgument);

    // 64 fit: the same wait over one fewer answers (nothing readable yet).
    theEntries.pop_back();
    EXPECT_EQ(pf::waitForSockets(theEntries, 0), 0);

    std::vector<pf::SocketWaitEntry> theNothing(1);
    theNothing[0].itsSocket = static_cast<pf::SocketDescriptor>(theSockets[0]->itsSocket);
    EXPECT_EQ(pf::waitForSockets(theNothing, 0), -1);
    EXPECT_EQ(pf::lastSocketError(), pf::socketErrorInvalidArgument);
}
