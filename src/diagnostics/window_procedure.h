// The one window procedure and the one dialog procedure of the program's
// windows, and the one way to register a window class.
//
// An object that owns a window gives itself to the platform at creation (the
// last parameter of CreateWindowEx or DialogBoxParam). The procedure keeps it
// in the window's user data, hands every message to it inside the
// catch-and-report frame (a message whose handling failed counts as not
// handled), and forgets it at WM_NCDESTROY. An owner class provides:
//
//   static constexpr fw::CatchSite kCatchSite;            where failures are reported
//   static Owner* attach(HWND, void* creationParameter);  the object of a new window
//   void handleMessage(UINT, WPARAM, LPARAM, LRESULT& result, bool& handled);
//   void detach(HWND);                                    the window is gone
#pragma once

#include <windows.h>

#include "diagnostics/report.h"
#include "kit/origins.h"

namespace fw {

using CatchSite = origins::Site;

// Registers a window class; a class this process registered before is
// accepted as it is. Answers false, with the platform's last error, otherwise.
bool registerWindowClass(const WNDCLASSEXA& wc) noexcept;

namespace detail {
template <class Owner>
Owner* ownerOf(HWND hwnd, UINT message, UINT creation, void* creationParameter) noexcept {
    if (message != creation) return reinterpret_cast<Owner*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    Owner* self = Owner::attach(hwnd, creationParameter);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
}

template <class Owner>
LRESULT forward(Owner* self, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) noexcept {
    LRESULT result = 0;
    if (catchAndReport(Owner::kCatchSite.source, Owner::kCatchSite.line,
                       [&] { self->handleMessage(message, wParam, lParam, result, handled); })) {
        handled = false;
        result = 0;
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->detach(hwnd);
    }
    return result;
}
}  // namespace detail

template <class Owner>
LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    void* parameter = message == WM_NCCREATE ? reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams : nullptr;
    bool handled = false;
    LRESULT result = 0;
    if (Owner* self = detail::ownerOf<Owner>(hwnd, message, WM_NCCREATE, parameter))
        result = detail::forward(self, hwnd, message, wParam, lParam, handled);
    return handled ? result : ::DefWindowProcA(hwnd, message, wParam, lParam);
}

// A dialog answers what its handler left in `result` (FALSE after a failure):
// the platform's dialog manager does the rest.
template <class Owner>
INT_PTR CALLBACK dialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    void* parameter = message == WM_INITDIALOG ? reinterpret_cast<void*>(lParam) : nullptr;
    bool handled = false;
    LRESULT result = 0;
    if (Owner* self = detail::ownerOf<Owner>(hwnd, message, WM_INITDIALOG, parameter))
        result = detail::forward(self, hwnd, message, wParam, lParam, handled);
    return result;
}

}  // namespace fw
