#include "support/ui.h"

#include <atomic>
#include <functional>
#include <thread>

#include "support/support.h"

namespace testsupport {
namespace {

void send(DWORD flags, LONG dx = 0, LONG dy = 0) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.dx = dx;
    in.mi.dy = dy;
    ::SendInput(1, &in, sizeof in);
}

void moveTo(POINT at) {
    int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    send(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (at.x * 65535 + (w - 1) / 2) / (w - 1),
         (at.y * 65535 + (h - 1) / 2) / (h - 1));
    ::SetCursorPos(at.x, at.y);
}

// The input comes from another thread while this one pumps its messages: a
// press on a caption starts a modal move loop inside the window procedure,
// which only ends when more input arrives.
void script(const std::function<void()>& steps) {
    std::atomic<bool> done{false};
    std::thread user([&] {
        steps();
        done = true;
    });
    waitUntil([&] { return done.load(); }, 10000);
    user.join();
    pumpFor(80);
}

}  // namespace

void pumpFor(DWORD ms) {
    waitUntil([] { return false; }, ms);
}

void mouseClick(POINT at, bool rightButton) {
    script([&] {
        moveTo(at);
        ::Sleep(40);
        send(rightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
        ::Sleep(40);
        send(rightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    });
}

void mouseDoubleClick(POINT at) {
    script([&] {
        moveTo(at);
        ::Sleep(40);
        for (int i = 0; i < 2; ++i) {
            send(MOUSEEVENTF_LEFTDOWN);
            ::Sleep(20);
            send(MOUSEEVENTF_LEFTUP);
            ::Sleep(20);
        }
    });
}

POINT centreOf(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

HWND waitForWindow(const char* className, const char* title, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            found = ::FindWindowA(className, title);
            return found != nullptr && ::IsWindowVisible(found);
        },
        timeoutMs);
    return found;
}

std::vector<HWND> trayIconWindows() {
    std::vector<HWND> icons;
    HWND bar = ::FindWindowA("Shell_TrayWnd", nullptr);
    for (HWND icon = bar ? ::FindWindowExA(bar, nullptr, "__wine_tray_icon", nullptr) : nullptr; icon;
         icon = ::FindWindowExA(bar, icon, "__wine_tray_icon", nullptr))
        icons.push_back(icon);
    if (!icons.empty()) return icons;
    HWND tray = ::FindWindowA("__winex11_standalone_tray", nullptr);
    for (HWND c = tray ? ::GetWindow(tray, GW_CHILD) : nullptr; c; c = ::GetWindow(c, GW_HWNDNEXT))
        if (::IsWindowVisible(c)) icons.push_back(c);
    return icons;
}

}  // namespace testsupport
