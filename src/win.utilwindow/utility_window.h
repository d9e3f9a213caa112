// A hidden top-level window that is never shown. It gives objects without a
// window of their own (the tray icon) a window to receive messages: every
// message goes to its one handler.
#pragma once

#include <windows.h>

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

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    ATOM classAtom = 0;
    HWND hWnd = nullptr;
    IMessageHandler* handler = nullptr;  // not owned
};

}  // namespace kit
