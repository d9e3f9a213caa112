#include "win.windows/custom_window.h"

#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kit_window";
}  // namespace

// ---- TextWindow -------------------------------------------------------------------------

void TextWindow::setText(const shared_string& newText) {
    if (!frozen) text = newText;
}

shared_string TextWindow::getText() const { return text; }

void TextWindow::freezeText() { frozen = true; }

void TextWindow::unfreezeText() { frozen = false; }

// ---- CustomWindow -----------------------------------------------------------------------

CustomWindow::CustomWindow(shared_string name_) : name(std::move(name_)) {}

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
    static constexpr HandlerTable::Origin kNullEntry{origins::kNullHandler.source, origins::kNullHandler.line,
                                                     "kit::CustomWindow::handleMessage"};
    if (!handlers.dispatch(message, wParam, lParam, result, handled, kNullEntry)) FW_TRACE("CustomWindow: No handler!");
}

CustomWindow* CustomWindow::fromHandle(HWND hwnd) noexcept {
    if (!hwnd || reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) != windowProc) return nullptr;
    return reinterpret_cast<CustomWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void CustomWindow::registerClass(const WNDCLASSEXA& wc) {
    if (!fw::registerWindowClass(wc)) throw WindowsError("RegisterClassEx() failed");
}

CustomWindow* CustomWindow::attach(HWND hwnd, void* creationParameter) noexcept {
    auto* self = static_cast<CustomWindow*>(creationParameter);
    if (self) self->hWnd = hwnd;
    FW_TRACE("WM_NCCREATE, wnd = %p", static_cast<void*>(self));
    return self;
}

// The window is gone (closed by the user or the system): the object forgets it.
void CustomWindow::detach(HWND hwnd) noexcept {
    if (hWnd == hwnd) hWnd = nullptr;
}

}  // namespace kit
