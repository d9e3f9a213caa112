#include "win.utilwindow/utility_window.h"

#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kitlib_cxx_win_utilwindow";
constexpr int kCatchSiteLine = 65;
}  // namespace

UtilityWindow::UtilityWindow(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &UtilityWindow::windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    classAtom = ::RegisterClassExA(&wc);
    if (!classAtom) {
        // A second utility window of this process shares the class.
        WNDCLASSEXA existing{};
        existing.cbSize = sizeof existing;
        if (::GetLastError() != ERROR_CLASS_ALREADY_EXISTS || !::GetClassInfoExA(instance, kClassName, &existing))
            throw WindowsError("RegisterClassEx() failed");
    }
    FW_TRACE("wnd class registered");
    FW_TRACE("creating the window: class = %s", kClassName);
    hWnd = ::CreateWindowExA(0, kClassName, kWindowName, 0, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (!hWnd) {
        FW_TRACE("botva");
        throw WindowsError("CreateWindowEx() failed");
    }
    FW_TRACE("window created");
}

UtilityWindow::~UtilityWindow() {
    FW_TRACE("~UtilityWindow");
    if (hWnd && ::IsWindow(hWnd)) {
        ::SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(hWnd);
    }
}

LRESULT CALLBACK UtilityWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    bool handled = false;
    UtilityWindow* self = nullptr;
    if (message == WM_CREATE) {
        self = static_cast<UtilityWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        result = 1;
        handled = true;
    } else {
        self = reinterpret_cast<UtilityWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (self && self->handler) {
        IMessageHandler* target = self->handler;
        fw::catchAndReport(kTraceSource, kCatchSiteLine,
                           [&] { target->handleMessage(message, wParam, lParam, result, handled); });
        fw::takeExceptionReported();
    }
    if (message == WM_NCDESTROY && self) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (self->hWnd == hwnd) self->hWnd = nullptr;
    }
    if (!handled) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    return result;
}

}  // namespace kit
