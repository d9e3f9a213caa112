// What the Gui shows: the skinned main window with its record button, the
// tray icon and the menu's check marks, messages and the main window's text,
// the timers; the settings it stores; the console's way to the main window.
// Calls nothing of the other two Gui files.
#include <algorithm>
#include <atomic>

#include "diagnostics/eventlog.h"
#include "kit/clock.h"
#include "kit/exceptions.h"
#include "kit/sound_level.h"
#include "resource.h"
#include "win.gui/mailbox.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"

namespace {
// The events file has always named this source so.
constexpr const char* kTraceSource = "win.gui/gui_shell";

// The main window, for the console's handler, which runs on a thread of its own.
std::atomic<HWND> sessionWindow{nullptr};

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

void Gui::setMenuItemState(UINT id, bool checked) {
    if (::CheckMenuItem(resources.contextMenu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)) ==
        static_cast<DWORD>(-1)) {
        kit::setOrigin(kTraceSource, __LINE__, "Gui::setMenuItemState");
        throw kit::WindowsError("CheckMenuItem() failed");
    }
}

// The source of the recording under way, or the one the next would try.
void Gui::showSource() {
    engine::CaptureSource source = recordingEngine->captureSource();
    trayIcon->setTip(gui_rules::trayTip(source).c_str());
    if (trayIcon->isShown()) trayIcon->show();
    if (!resources.contextMenu) return;
    std::string item = "Records: " + gui_rules::sourceText(source);
    if (!sourceItemAdded) {      // last, under a separator: the items above keep their places
        sourceItemAdded = true;  // once: a failure is traced, not tried again
        if (!::AppendMenuA(resources.contextMenu, MF_SEPARATOR, 0, nullptr) ||
            !::AppendMenuA(resources.contextMenu, MF_STRING | MF_GRAYED, kSourceItem, item.c_str()))
            FW_TRACE("AppendMenu() failed: %lu", ::GetLastError());
    } else if (!::ModifyMenuA(resources.contextMenu, kSourceItem, MF_BYCOMMAND | MF_STRING | MF_GRAYED, kSourceItem,
                              item.c_str())) {
        FW_TRACE("ModifyMenu() failed: %lu", ::GetLastError());
    }
}

// ---- the level meters -----------------------------------------------------------------------

// What the capture published, with the peaks held, on both windows (each
// repaints its meter alone, and only when it changed); a new silence of two
// minutes is said in the notification window when the program is in the
// tray (the main window says it in place of the time).
void Gui::meterTick() {
    if (!recordingUnderWay()) return;
    engine::CaptureLevels levels = recordingEngine->captureLevels();
    uint32_t now = kit::systemTicks();
    int peaks[2] = {levels.left, levels.right};
    for (int c = 0; c < 2; ++c) {
        meters.channels[c].peak = peaks[c];
        meters.channels[c].hold = kit::holdPeak(meters.channels[c].hold, peaks[c], now);
    }
    mainWindow->setMeter(meters, true);
    notification->setMeter(meters, true);
    if (levels.silences == silencesShown) return;
    silencesShown = levels.silences;
    FW_TRACE("Nothing heard for two minutes: said (silence %u)", static_cast<unsigned>(silencesShown));
    if (!isMainWindowVisible()) notification->ReminderOn(gui_rules::nothingHeardText().c_str());
    showText(recordingText().c_str());  // the main window says it at once
}

void Gui::hideMeters() {
    meters = {};
    silencesShown = 0;
    if (mainWindow) mainWindow->setMeter(meters, false);
    if (notification) notification->setMeter(meters, false);
}

// ---- the settings, timers, messages and the main window's text ------------------------------

void Gui::noteSessionWindow(HWND window) noexcept { sessionWindow.store(window); }

void Gui::storeSettings(const Settings& changed) { recordingEngine->storeSettings(changed); }

void Gui::saveWindowPosition() {
    if (!mainWindow) return;
    Settings copy = currentSettings();
    WINDOWINFO info{};
    info.cbSize = sizeof info;
    if (!::GetWindowInfo(mainWindow->getHandle(), &info)) return;
    copy.xPos = info.rcWindow.left;
    copy.yPos = info.rcWindow.top;
    storeSettings(copy);
}

void Gui::setTimerOrThrow(HWND window, UINT_PTR id, UINT ms, const char* function) {
    if (!::SetTimer(window, id, ms, nullptr)) {
        FW_TRACE("Can't create timer. SetTimer() error.");
        kit::setOrigin(kTraceSource, __LINE__, function);
        throw kit::WindowsError("SetTimer() error");
    }
}

void Gui::killTimer(HWND window, UINT_PTR id) {
    if (!::KillTimer(window, id)) FW_TRACE("Can't kill timer. KillTimer() error.");
}

void Gui::showProblem(const char* text) {
    if (!text || !*text) return;  // nothing beyond the problem report
    if (quiet()) {
        FW_TRACE("Not shown while the program or the session ends: %s", text);
        return;
    }
    ::MessageBoxA(isMainWindowVisible() ? mainWindow->getHandle() : nullptr, text, "Sonotape", MB_OK | MB_ICONERROR);
}

void Gui::showMessage(const kit::shared_string& text) {
    if (quiet()) {
        FW_TRACE("Not shown while the program or the session ends: %s", text.c_str());
        return;
    }
    kit::smartptr<VarTextDialog> dialog(new VarTextDialog(programInstance));
    dialog->setText(text);
    dialog->ShowDialog();
}

void Gui::showText(const char* text) {
    if (!mainWindow) return;
    mainWindow->setTextVisible(true);
    mainWindow->setOverlayVisible(false);
    mainWindow->setText(text);
    mainWindow->redraw();
}

void Gui::backToLogo() {
    if (!mainWindow) return;
    mainWindow->setTextVisible(false);
    mainWindow->setOverlayVisible(true);
    mainWindow->redraw();
}

void Gui::enableCalibration(bool enable) {
    if (resources.contextMenu)
        ::EnableMenuItem(resources.contextMenu, IDM_CALIBRATE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

// ---- the console's events -----------------------------------------------------------------

BOOL WINAPI endSessionOnConsoleEvent(DWORD event) {
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) return FALSE;
    HWND window = sessionWindow.load();
    if (!window) return FALSE;  // no window: nothing is recording
    // Sent, not posted: the user-interface thread handles them (also inside a
    // dialog's loop) and this thread returns once the recording is complete.
    LPARAM reason = event == CTRL_LOGOFF_EVENT ? ENDSESSION_LOGOFF : 0;
    ::SendMessageA(window, WM_QUERYENDSESSION, 0, reason);
    ::SendMessageA(window, WM_ENDSESSION, TRUE, reason);
    return TRUE;
}
