#include "win.windows/custom_window.h"

#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kit_window";
constexpr int kNullHandlerLine = 125;  // origin of "Tryed to call null-handler!"
constexpr int kCatchSiteLine = 79;     // catch-and-report site of the window procedure
}  // namespace

// ---- TextWindow -------------------------------------------------------------------------

void TextWindow::setText(const shared_string& newText) {
    if (!frozen) text = newText;
}

shared_string TextWindow::getText() const { return text; }

void TextWindow::freezeText() { frozen = true; }

void TextWindow::unfreezeText() { frozen = false; }

// ---- CustomWindow -----------------------------------------------------------------------

CustomWindow::CustomWindow(shared_string name) : name(std::move(name)) {}

CustomWindow::~CustomWindow() {
    FW_TRACE("Destroying hWnd = %p", static_cast<void*>(hWnd));
    if (hWnd && ::IsWindow(hWnd)) {
        // The object is half gone: messages sent while the window is being
        // destroyed must not reach it.
        if (fromHandle(hWnd) == this) ::SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(hWnd);
    }
    hWnd = nullptr;
}

void CustomWindow::setMessageHandler(UINT message, IMessageHandler* handler) { handlers.set(message, handler); }

void CustomWindow::removeMessageHandler(UINT message, IMessageHandler* handler) noexcept {
    handlers.remove(message, handler);
}

IMessageHandler* CustomWindow::getMessageHandler(UINT message) const noexcept { return handlers.find(message); }

void CustomWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    static constexpr HandlerTable::Origin kNullEntry{kTraceSource, kNullHandlerLine, "kit::CustomWindow::handleMessage"};
    if (!handlers.dispatch(message, wParam, lParam, result, handled, kNullEntry)) FW_TRACE("CustomWindow: No handler!");
}

CustomWindow* CustomWindow::fromHandle(HWND hwnd) noexcept {
    if (!hwnd || reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) != &windowProc) return nullptr;
    return reinterpret_cast<CustomWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

ATOM CustomWindow::registerClass(const WNDCLASSEXA& wc) {
    ATOM atom = ::RegisterClassExA(&wc);
    if (!atom) {
        WNDCLASSEXA existing{};
        existing.cbSize = sizeof existing;
        if (::GetLastError() == ERROR_CLASS_ALREADY_EXISTS && ::GetClassInfoExA(wc.hInstance, wc.lpszClassName, &existing))
            return 0;
        throw WindowsError("RegisterClassEx() failed");
    }
    return atom;
}

LRESULT CALLBACK CustomWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    bool handled = false;
    CustomWindow* self = nullptr;
    if (message == WM_CREATE) {
        self = static_cast<CustomWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self) self->hWnd = hwnd;
        result = 1;
        handled = true;
        FW_TRACE("WM_CREATE, wnd = %p", static_cast<void*>(self));
    } else {
        self = reinterpret_cast<CustomWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }

    if (self) {
        fw::catchAndReport(kTraceSource, kCatchSiteLine,
                           [&] { self->handleMessage(message, wParam, lParam, result, handled); });
        fw::takeExceptionReported();
        if (message == WM_NCDESTROY) {
            // The window is gone (closed by the user or the system): the object forgets it.
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            if (self->hWnd == hwnd) self->hWnd = nullptr;
        }
    } else {
        FW_TRACE("ommited message %x", message);
    }

    if (!handled) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    return result;
}

}  // namespace kit
