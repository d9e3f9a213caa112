#include "win.utilwindow/utility_window.h"

#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kitlib_cxx_win_utilwindow";
}  // namespace

UtilityWindow::UtilityWindow(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &fw::windowProcedure<UtilityWindow>;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    // A second utility window of this process shares the class.
    if (!fw::registerWindowClass(wc)) throw WindowsError("RegisterClassEx() failed");
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

UtilityWindow* UtilityWindow::attach(HWND hwnd, void* creationParameter) noexcept {
    auto* self = static_cast<UtilityWindow*>(creationParameter);
    if (self) self->hWnd = hwnd;
    return self;
}

void UtilityWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    if (handler) handler->handleMessage(message, wParam, lParam, result, handled);
}

void UtilityWindow::detach(HWND hwnd) noexcept {
    if (hWnd == hwnd) hWnd = nullptr;
}

}  // namespace kit
