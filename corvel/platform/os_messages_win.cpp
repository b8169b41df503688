// Thread queues and window targets are the system's own: PostThreadMessage,
// PostMessage to message-only windows, PeekMessage.
#include "corvel/platform/os_messages.h"

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

bool registerTargetClass()
{
    static const bool theRegistered = [] {
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
    return PostThreadMessageA(inThreadId, inMessage, static_cast<WPARAM>(inFirstParam),
                              static_cast<LPARAM>(inSecondParam)) != 0;
}

bool postWindowMessage(WindowHandle inWindow, std::uint32_t inMessage,
                       std::uintptr_t inFirstParam, std::intptr_t inSecondParam)
{
    // PostMessage to window 0 would post to the calling thread instead.
    if (inWindow == 0)
        return false;
    HWND theWindow = reinterpret_cast<HWND>(inWindow);
    if (!IsWindow(theWindow))
        return false;
    return PostMessageA(theWindow, inMessage, static_cast<WPARAM>(inFirstParam),
                        static_cast<LPARAM>(inSecondParam)) != 0;
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
}

bool peekMessage(OsMessage& outMessage)
{
    MSG theMessage{};
    if (!PeekMessageA(&theMessage, nullptr, 0, 0, PM_REMOVE))
        return false;
    outMessage.itsWindow = reinterpret_cast<WindowHandle>(theMessage.hwnd);
    outMessage.itsMessage = theMessage.message;
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
