// One icon with a tip text in the shell's notification area. The shell's
// notifications arrive at a hidden UtilityWindow and are handed to the
// handlers registered for their kind, in the order of registration. When the
// shell restarts (it broadcasts "TaskbarCreated"), a shown icon is added again.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "kit/closure.h"
#include "kit/refcounted.h"
#include "kit/shared_string.h"
#include "win.utilwindow/utility_window.h"
#include "win.windows/message_handler.h"

namespace kit {

class TrayIcon;

// A mouse or keyboard notification of the icon.
struct TrayIconEvent {
    TrayIcon* icon;
};

// A menu command received by the icon's window.
struct TrayIconEventEx {
    TrayIcon* icon;
    WPARAM wParam;
    LPARAM lParam;
};

// The record handed to Shell_NotifyIcon: the platform's record in its version
// with the balloon fields and the identifier, up to the balloon icon (504 bytes
// on x86, 520 on x64).
constexpr DWORD kNotifyRecordSize = NOTIFYICONDATAA_V3_SIZE;
constexpr UINT kTrayIconId = 1;
constexpr UINT kTrayCallbackMessage = WM_USER + 234;
constexpr std::size_t kTrayTipLimit = 127;  // bytes of the tip that reach the shell

// The record for NIM_ADD and NIM_MODIFY (message, icon and tip) or, with
// `forDelete`, for NIM_DELETE (no flags). The record keeps its size on both
// targets: the tip is the code page's text, cut to the limit between two
// characters (a UTF-8 sequence is never split).
NOTIFYICONDATAA trayNotifyRecord(HWND window, HICON icon, const shared_string& tip, bool forDelete = false,
                                 UINT codePage = CP_ACP);

class TrayIcon : public refcounted, public IMessageHandler {
public:
    enum Notification {
        KeySelect,        // NIN_KEYSELECT
        ContextMenu,      // WM_CONTEXTMENU
        MouseMove,        // WM_MOUSEMOVE
        LeftButtonDown,   // WM_LBUTTONDOWN
        LeftButtonUp,     // WM_LBUTTONUP
        RightButtonDown,  // WM_RBUTTONDOWN
        RightButtonUp,    // WM_RBUTTONUP
        kNotificationKinds
    };
    using Handler = smartptr<base_closure<TrayIconEvent>>;
    using CommandHandler = smartptr<base_closure<TrayIconEventEx>>;

    static constexpr int kAttempts = 10;
    static constexpr DWORD kRetryPauseMs = 1000;

    explicit TrayIcon(HINSTANCE instance);  // creates the utility window; the icon is not shown yet
    ~TrayIcon() override;                   // removes the icon from the notification area
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Stored; they reach the shell at the next show().
    void setIcon(HICON newIcon) noexcept { icon = newIcon; }
    void setTip(const shared_string& text) { tip = text; }
    const shared_string& getTip() const noexcept { return tip; }

    // Adds the icon to the notification area, or modifies it when it is there.
    // Up to kAttempts calls, kRetryPauseMs apart; then WindowsError.
    void show();
    // Removes the icon when it is there; nothing otherwise.
    void hide();
    bool isShown() const noexcept { return added; }
    // The shell has forgotten every icon (its process restarted, and it
    // broadcast "TaskbarCreated"): the next show() adds the icon again.
    void shellForgot() noexcept { added = false; }

    // The window that receives the notifications (and owns the context menu).
    HWND getWindow() const noexcept { return window->getHandle(); }

    // Adding an equal handler twice to one list throws ALogicError.
    void addHandler(Notification kind, const Handler& handler) { lists[kind].addHandler(handler); }
    void removeHandler(Notification kind, const Handler& handler) { lists[kind].removeHandler(handler); }
    void addCommandHandler(const CommandHandler& handler) { commands.addHandler(handler); }

    // Called by the utility window for every message.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

    // The list of a notification (the message number the shell puts in lParam), or -1.
    static int notificationKind(UINT notification) noexcept;

private:
    bool callShell(DWORD operation, NOTIFYICONDATAA& record);

    smartptr<UtilityWindow> window;
    UINT taskbarCreated = 0;  // the shell's "TaskbarCreated" message
    bool added = false;
    HICON icon = nullptr;  // not owned
    shared_string tip;
    HandlerList<TrayIconEvent> lists[kNotificationKinds];
    HandlerList<TrayIconEventEx> commands;
};

}  // namespace kit
