// Thread queues and window targets are the system's own: PostThreadMessage,
// PostMessage to message-only windows, PeekMessage.
//
// Two gaps to the contract are closed here. The system refuses to post some
// of its own ids below WM_USER (WM_CREATE, WM_SETTEXT, ... carry pointers):
// ids below WM_USER travel as theLowBase + id and are turned back on the way
// out, so any id can be posted; ids from WM_USER up, such as the framework's
// own, go as they are. And not every system keeps the 10000-message limit
// (Wine has none): posts through this layer are counted per target thread.
#include "corvel/platform/os_messages.h"

#include <map>
#include <mutex>

#include <windows.h>

namespace corvel::platform
{

namespace detail
{
int waitForAny(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout,
               bool inWithMessages);
} // namespace detail

namespace
{

constexpr const char* theTargetClass = "corvelMessageTarget";

// In the application range: no system component posts these.
constexpr UINT theLowBase = WM_APP + 0x3000;

UINT systemId(std::uint32_t inMessage)
{
    return inMessage < WM_USER ? theLowBase + inMessage : inMessage;
}

std::uint32_t frameworkId(UINT inMessage)
{
    return inMessage >= theLowBase && inMessage < theLowBase + WM_USER ? inMessage - theLowBase
                                                                       : inMessage;
}

// Messages posted through this layer and not yet taken, per thread id. Never
// destroyed: threads may post while static objects are torn down at exit.
struct QueueCounts
{
    std::mutex itsMutex;
    std::map<DWORD, std::size_t> itsCounts;
};

QueueCounts& theQueueCounts()
{
    static QueueCounts* theInstance = new QueueCounts;
    return *theInstance;
}

thread_local bool theQueueCounted = false;

// Posts through inPost unless the target's queue is full.
template <typename Post>
bool countedPost(DWORD inThreadId, Post inPost)
{
    QueueCounts& theCounts = theQueueCounts();
    std::lock_guard<std::mutex> theLock(theCounts.itsMutex);
    std::size_t& theCount = theCounts.itsCounts[inThreadId];
    if (theCount >= messageQueueLimit || !inPost())
        return false;
    ++theCount;
    return true;
}

void messageTaken()
{
    QueueCounts& theCounts = theQueueCounts();
    std::lock_guard<std::mutex> theLock(theCounts.itsMutex);
    auto theEntry = theCounts.itsCounts.find(GetCurrentThreadId());
    if (theEntry != theCounts.itsCounts.end() && theEntry->second > 0)
        --theEntry->second;
}

bool registerTargetClass()
{
    static const bool theRegistered = []
    {
        WNDCLASSEXA theClass{};
        theClass.cbSize = sizeof theClass;
        theClass.lpfnWndProc = DefWindowProcA;
        theClass.hInstance = GetModuleHandleA(nullptr);
        theClass.lpszClassName = theTargetClass;
        return RegisterClassExA(&theClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return theRegistered;
}

} // namespace

bool postThreadMessage(std::uint32_t inThreadId, std::uint32_t inMessage,
                       std::uintptr_t inFirstParam, std::intptr_t inSecondParam)
{
    if (inThreadId == 0)
        return false;
    return countedPost(inThreadId,
                       [&]
                       {
                           return PostThreadMessageA(inThreadId, systemId(inMessage),
                                                     static_cast<WPARAM>(inFirstParam),
                                                     static_cast<LPARAM>(inSecondParam)) != 0;
                       });
}

bool postWindowMessage(WindowHandle inWindow, std::uint32_t inMessage, std::uintptr_t inFirstParam,
                       std::intptr_t inSecondParam)
{
    // PostMessage to window 0 would post to the calling thread instead.
    if (inWindow == 0)
        return false;
    HWND theWindow = reinterpret_cast<HWND>(inWindow);
    if (!IsWindow(theWindow))
        return false;
    const DWORD theOwner = GetWindowThreadProcessId(theWindow, nullptr);
    if (theOwner == 0)
        return false;
    return countedPost(theOwner,
                       [&]
                       {
                           return PostMessageA(theWindow, systemId(inMessage),
                                               static_cast<WPARAM>(inFirstParam),
                                               static_cast<LPARAM>(inSecondParam)) != 0;
                       });
}

WindowHandle createWindowTarget()
{
    ensureMessageQueue();
    if (!registerTargetClass())
        return 0;
    // A message-only window: never shown, never enumerated, gets posts only.
    HWND theWindow = CreateWindowExA(0, theTargetClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    return reinterpret_cast<WindowHandle>(theWindow);
}

void destroyWindowTarget(WindowHandle inWindow)
{
    if (inWindow != 0)
        DestroyWindow(reinterpret_cast<HWND>(inWindow));
}

void ensureMessageQueue()
{
    // The first call of a message function creates the thread's queue.
    MSG theMessage;
    PeekMessageA(&theMessage, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!theQueueCounted)
    {
        // A new queue: whatever an earlier thread of the same id left counted
        // is gone with that thread.
        theQueueCounted = true;
        QueueCounts& theCounts = theQueueCounts();
        std::lock_guard<std::mutex> theLock(theCounts.itsMutex);
        theCounts.itsCounts.erase(GetCurrentThreadId());
    }
}

bool peekMessage(OsMessage& outMessage)
{
    MSG theMessage{};
    if (!PeekMessageA(&theMessage, nullptr, 0, 0, PM_REMOVE))
        return false;
    messageTaken();
    outMessage.itsWindow = reinterpret_cast<WindowHandle>(theMessage.hwnd);
    outMessage.itsMessage = frameworkId(theMessage.message);
    outMessage.itsFirstParam = static_cast<std::uintptr_t>(theMessage.wParam);
    outMessage.itsSecondParam = static_cast<std::intptr_t>(theMessage.lParam);
    return true;
}

std::size_t drainMessages()
{
    std::size_t theCount = 0;
    OsMessage theMessage;
    while (peekMessage(theMessage))
        ++theCount;
    return theCount;
}

int waitForAnyEventOrMessage(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout)
{
    return detail::waitForAny(inEvents, inTimeout, true);
}

} // namespace corvel::platform
