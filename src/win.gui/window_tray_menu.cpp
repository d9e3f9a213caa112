// How the Gui shows itself: the skinned main window with its record button,
// the tray icon, the context menu and its commands, the folder link, exit.
#include <algorithm>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "resource.h"
#include "win.gui/mailbox.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"

namespace {
// The events file has always named this source so.
constexpr const char* kTraceSource = "win.gui/gui_shell";
// A stored position off every screen (another monitor was there once, or the
// value was edited) would hide the window for the whole session: it goes onto
// the work area of the monitor nearest to where it was.
gui_rules::Position onNearestMonitor(HWND window, int x, int y) {
    RECT r{};
    ::GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    constexpr int kFar = 1 << 24;  // farther than any screen, and no overflow below
    int nearX = std::clamp(x, -kFar, kFar), nearY = std::clamp(y, -kFar, kFar);
    RECT stored{nearX, nearY, nearX + width, nearY + height};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoA(::MonitorFromRect(&stored, MONITOR_DEFAULTTONEAREST), &info)) return {x, y};
    const RECT& work = info.rcWork;
    return gui_rules::placeInside(x, y, width, height, {work.left, work.top, work.right, work.bottom});
}
}  // namespace

// ---- the tray icon's notifications ----------------------------------------------------------

void TrayIconHandler::leftButtonUp(kit::TrayIconEvent) { gui->toggleRecording(); }
void TrayIconHandler::rightButtonDown(kit::TrayIconEvent) { gui->TrackPopup(); }
void TrayIconHandler::mouseMove(kit::TrayIconEvent) {}
void TrayIconHandler::leftButtonDown(kit::TrayIconEvent) {}
void TrayIconHandler::rightButtonUp(kit::TrayIconEvent) {}
void TrayIconHandler::contextMenu(kit::TrayIconEvent) {}
void TrayIconHandler::keySelect(kit::TrayIconEvent) {}

// ---- main window --------------------------------------------------------------------------

void Gui::createMainWindow() {
    mainWindow = new kit::PatternedWindow(programInstance, "Sonotape", resources.skin.get(), resources.logo.get());
    mainWindow->setMessageHandler(WM_TIMER, this);
    mainWindow->setMessageHandler(WM_NCRBUTTONDOWN, this);
    mainWindow->setMessageHandler(WM_NCRBUTTONUP, this);
    mainWindow->setMessageHandler(WM_NCLBUTTONDBLCLK, this);
    mainWindow->setOverlayVisible(true);
    recordButton = new kit::PatternedButton(programInstance, mainWindow->getHandle(), resources.idleButton.get(),
                                            resources.litButton.get(), 15, 11);
    mainWindow->setMessageHandler(WM_COMMAND, this);
    mainWindow->setMessageHandler(WM_QUERYENDSESSION, this);
    mainWindow->setMessageHandler(WM_ENDSESSION, this);
    noteSessionWindow(mainWindow->getHandle());
}

void Gui::showMainWindow(int show) {
    if (!mainWindow) createMainWindow();
    FW_TRACE("Showing main window");
    HWND window = mainWindow->getHandle();
    if (show != SW_HIDE) {
        const Settings& current = currentSettings();
        gui_rules::Position at = onNearestMonitor(window, current.xPos, current.yPos);
        ::SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
        trayIcon->hide();
        notification->hide();
    } else {
        updateTrayIcon();
        saveWindowPosition();
        if (recordingUnderWay()) {
            notification->setText(stopwatch->toString());
            notification->redraw();
            notification->show();
        }
    }
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
}

bool Gui::isMainWindowVisible() const { return mainWindow && ::IsWindowVisible(mainWindow->getHandle()); }

HWND Gui::mainWindowHandle() {
    if (!mainWindow) createMainWindow();
    return mainWindow->getHandle();
}

void Gui::updateTrayIcon() {
    trayIcon->setIcon(state != RecordingState::Idle ? resources.recordingIcon : resources.idleIcon);
    trayIcon->show();
}

// ---- tray icon and menu -------------------------------------------------------------------

void Gui::initTray() {
    FW_TRACE("Init Tray.");
    trayIcon = new kit::TrayIcon(programInstance);
    FW_TRACE("setTip");
    trayIcon->setTip("Sonotape");
    trayHandler = new TrayIconHandler(this);
    FW_TRACE("Setting TrayIconHandler Handlers");
    TrayIconHandler* h = trayHandler.get();
    trayIcon->addHandler(kit::TrayIcon::KeySelect, kit::makeClosure(h, &TrayIconHandler::keySelect));
    trayIcon->addHandler(kit::TrayIcon::ContextMenu, kit::makeClosure(h, &TrayIconHandler::contextMenu));
    trayIcon->addHandler(kit::TrayIcon::MouseMove, kit::makeClosure(h, &TrayIconHandler::mouseMove));
    trayIcon->addHandler(kit::TrayIcon::LeftButtonDown, kit::makeClosure(h, &TrayIconHandler::leftButtonDown));
    trayIcon->addHandler(kit::TrayIcon::LeftButtonUp, kit::makeClosure(h, &TrayIconHandler::leftButtonUp));
    trayIcon->addHandler(kit::TrayIcon::RightButtonDown, kit::makeClosure(h, &TrayIconHandler::rightButtonDown));
    trayIcon->addHandler(kit::TrayIcon::RightButtonUp, kit::makeClosure(h, &TrayIconHandler::rightButtonUp));
    FW_TRACE("Done");
    FW_TRACE("Tray loaded.");
}

void Gui::TrackPopup() {
    POINT at{};
    ::GetCursorPos(&at);
    HWND owner = trayIcon->getWindow();  // owns the menu, whichever window was clicked
    if (!::ModifyMenuA(resources.contextMenu, IDM_TRAY_OR_RESTORE, MF_BYCOMMAND | MF_STRING, IDM_TRAY_OR_RESTORE,
                       gui_rules::trayItemText(isMainWindowVisible()))) {
        FW_TRACE("ModifyMenu() failed");
        kit::setOrigin(kTraceSource, __LINE__, "Gui::TrackPopup");
        throw kit::WindowsError("ModifyMenu() failed");
    }
    ::SetForegroundWindow(owner);
    UINT command = static_cast<UINT>(
        ::TrackPopupMenu(resources.contextMenu, TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, owner, nullptr));
    if (command != 0) {
        ::PostMessageA(owner, WM_NULL, 0, 0);
        menuCommand(command);
    } else {
        DWORD error = ::GetLastError();
        FW_TRACE("TrackPopupMenu failed, GetLastError = %d (0x%X)", static_cast<int>(error),
                 static_cast<unsigned>(error));
    }
}

void Gui::menuCommand(UINT id) {
    switch (id) {
    case IDM_OPEN_STORAGE: {
        HWND owner = mainWindowHandle();
        gui_platform::shellOpen(owner, currentSettings().storageDir.c_str(), SW_SHOWNORMAL);
        break;
    }
    case IDM_TRAY_OR_RESTORE:
        if (isMainWindowVisible())
            hideMainWindow();
        else
            showMainWindow(SW_SHOWNORMAL);
        break;
    case IDM_CALIBRATE: calibrateSoundCard(); break;
    case IDM_REMIND_30MIN:
    case IDM_OUT_OF_SPACE:
    case IDM_START_WITH_WINDOWS: {
        Settings copy = currentSettings();
        bool& setting = id == IDM_REMIND_30MIN   ? copy.remind30min
                        : id == IDM_OUT_OF_SPACE ? copy.remindOutOfSpace
                                                 : copy.startWithWindows;
        setting = !setting;
        setMenuItemState(id, setting);
        storeSettings(copy);
        if (id == IDM_REMIND_30MIN) recordingEngine->setHalfHourReminder(setting);
        break;
    }
    case IDM_HELP: {
        HWND owner = mainWindowHandle();
        gui_platform::shellOpen(owner, gui_rules::kHelpPage, SW_SHOWDEFAULT);
        break;
    }
    case IDM_ABOUT_BOX: {
        kit::smartptr<AboutDialog> about(new AboutDialog(programInstance, IDD_ABOUT, nullptr));
        about->ShowDialog();
        break;
    }
    case IDM_EXIT: exit(); break;
    default: break;
    }
}

void Gui::setMenuItemState(UINT id, bool checked) {
    if (::CheckMenuItem(resources.contextMenu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)) ==
        static_cast<DWORD>(-1)) {
        kit::setOrigin(kTraceSource, __LINE__, "Gui::setMenuItemState");
        throw kit::WindowsError("CheckMenuItem() failed");
    }
}

// ---- the folder link and exit -------------------------------------------------------------

void Gui::openFolderLink() {
    FW_TRACE("WM_NCLBUTTONDBLCLK");
    if (state != RecordingState::Idle) {
        // The link belongs to a finished recording; during the next one it is gone.
    } else if (isMainWindowVisible()) {
        if (linkPending) {
            linkPending = false;
            backToLogo();
            gui_platform::runCommand(openFolderCommand.c_str(), SW_SHOWNORMAL);
        }
    } else {
        int mode = kit::kPlainMode;
        notification->getSizeAndMode(nullptr, &mode);
        if (mode == kit::kLinkMode) {
            gui_platform::runCommand(openFolderCommand.c_str(), SW_SHOWNORMAL);
            notification->hide();
        }
    }
    linkPending = false;
}

void Gui::exit() {
    FW_TRACE("Exit selected...");
    if (isEndingRecord()) return;
    if (recordingUnderWay()) {
        if (::MessageBoxA(mainWindowHandle(), gui_rules::kExitWhileRecording, "Sonotape",
                          MB_YESNO | MB_ICONWARNING | MB_TOPMOST) != IDYES)
            return;
        if (isEndingRecord()) return;  // the recording ended by itself while the question was open
        abortRecord();
    }
    ::PostQuitMessage(0);
}
