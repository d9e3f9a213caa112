// A hidden top-level window that is never shown. It gives objects without a
// window of their own (the tray icon) a window to receive messages: every
// message goes to its one handler.
#pragma once

#include <windows.h>

#include "diagnostics/window_procedure.h"
#include "kit/refcounted.h"
#include "win.windows/message_handler.h"

namespace kit {

class UtilityWindow : public refcounted {
public:
    static constexpr const char* kClassName = "kitlib.cxx.win.utilwindow.wndclass";
    static constexpr const char* kWindowName = "kitlib.cxx.win.utilwindow.wnd";

    explicit UtilityWindow(HINSTANCE instance);
    ~UtilityWindow() override;
    UtilityWindow(const UtilityWindow&) = delete;
    UtilityWindow& operator=(const UtilityWindow&) = delete;

    void setHandler(IMessageHandler* newHandler) noexcept { handler = newHandler; }
    HWND getHandle() const noexcept { return hWnd; }

    // What the window procedure needs.
    static constexpr fw::CatchSite kCatchSite = origins::kUtilityWindowCatch;
    static UtilityWindow* attach(HWND hwnd, void* creationParameter) noexcept;
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled);
    void detach(HWND hwnd) noexcept;

private:
    HWND hWnd = nullptr;
    IMessageHandler* handler = nullptr;  // not owned
};

}  // namespace kit
