#include "win.trayicon/tray_icon.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/text_code.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kitlib_cxx_win_trayicon";
}  // namespace

NOTIFYICONDATAA trayNotifyRecord(HWND window, HICON icon, const shared_string& tip, bool forDelete, UINT codePage) {
    NOTIFYICONDATAA record{};
    record.cbSize = kNotifyRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconId;
    if (forDelete) return record;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.hIcon = icon;
    std::size_t length = headBytes(tip.view(), kTrayTipLimit, codePage);
    std::memcpy(record.szTip, tip.c_str(), length);
    record.szTip[length] = '\0';
    return record;
}

TrayIcon::TrayIcon(HINSTANCE instance)
    : window(new UtilityWindow(instance)), taskbarCreated(::RegisterWindowMessageA("TaskbarCreated")) {
    window->setHandler(this);
}

TrayIcon::~TrayIcon() {
    FW_TRACE("~TrayIcon begin");
    try {
        hide();
    } catch (Exception& e) {
        // A destructor must not throw; the shell will drop the icon with our window.
        FW_TRACE("~TrayIcon: %s", e.message().c_str());
    }
    FW_TRACE("~TrayIcon end");
    window->setHandler(nullptr);
}

bool TrayIcon::callShell(DWORD operation, NOTIFYICONDATAA& record) {
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (::Shell_NotifyIconA(operation, &record)) return true;
        FW_TRACE("Shell_NotifyIcon(%lu) failed, attempt %d", static_cast<unsigned long>(operation), attempt);
        ::Sleep(kRetryPauseMs);
    }
    return false;
}

void TrayIcon::show() {
    NOTIFYICONDATAA record = trayNotifyRecord(window->getHandle(), icon, tip);
    if (!callShell(added ? NIM_MODIFY : NIM_ADD, record)) {
        setOrigin(kTraceSource, __LINE__, "kit::TrayIcon::show");
        throw WindowsError("Shell_NotifyIcon() failed during NIM_ADD or NIM_MODIFY");
    }
    added = true;
}

void TrayIcon::hide() {
    if (!added) return;
    NOTIFYICONDATAA record = trayNotifyRecord(window->getHandle(), nullptr, {}, true);
    if (!callShell(NIM_DELETE, record)) {
        setOrigin(kTraceSource, __LINE__, "kit::TrayIcon::hide");
        throw WindowsError("Shell_NotifyIcon() failed during NIM_DELETE");
    }
    added = false;
}

int TrayIcon::notificationKind(UINT notification) noexcept {
    switch (notification) {
    case NIN_KEYSELECT: return KeySelect;
    case WM_CONTEXTMENU: return ContextMenu;
    case WM_MOUSEMOVE: return MouseMove;
    case WM_LBUTTONDOWN: return LeftButtonDown;
    case WM_LBUTTONUP: return LeftButtonUp;
    case WM_RBUTTONDOWN: return RightButtonDown;
    case WM_RBUTTONUP: return RightButtonUp;
    default: return -1;
    }
}

void TrayIcon::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    if (message == WM_COMMAND) {
        commands.dispatch(TrayIconEventEx{this, wParam, lParam});  // left unhandled on purpose
        return;
    }
    if (taskbarCreated != 0 && message == taskbarCreated) {
        // The shell restarted and forgot every icon: ours comes back if it was shown.
        FW_TRACE("TaskbarCreated");
        if (added) {
            added = false;
            show();
        }
        return;
    }
    if (message != kTrayCallbackMessage) return;
    handled = true;
    result = 0;
    if (wParam != kTrayIconId) return;  // not about our icon
    int kind = notificationKind(static_cast<UINT>(lParam));
    if (kind >= 0) lists[kind].dispatch(TrayIconEvent{this});
}

}  // namespace kit
