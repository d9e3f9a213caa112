// The Gui's start-up and its input: the windows' messages, the tray icon's
// notifications, the context menu's commands, the calibration flow. It calls
// into the recording's life (gui_recording.cpp) and what the Gui shows
// (gui_windows.cpp); neither calls back here.
#include "win.gui/gui.h"

#include <atomic>
#include <memory>

#include "diagnostics/report.h"
#include "kit/exceptions.h"
#include "resource.h"
#include "win.gui/mailbox.h"
#include "win.dialogs/hotkey_dialog.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"
#include "win.log/log_place.h"

namespace {

constexpr const char* kTraceSource = "win.gui/gui";

// The welcome dialog is offered at most once per process.
bool startUpDialogOffered = false;

}  // namespace

Gui::Gui(HINSTANCE instance, engine::EngineSeams seams) : programInstance(instance), engineSeams(seams) {}

Gui::~Gui() {
    FW_TRACE("~Gui");
    noteSessionWindow(nullptr);
    if (commandServer) commandServer->close();  // no command while the program ends
    if (hotkeyHeld) ::UnregisterHotKey(nullptr, kHotkeyId);
    if (initialized) {
        fw::catchAndReport(kTraceSource, __LINE__, [this] { closeRecording(); });
        fw::catchAndReport(kTraceSource, __LINE__, [this] { saveWindowPosition(); });
    }
    keepAwake(false);
    recordingEngine.reset();  // a failure there is reported and ends the program
    mailbox.reset();
}

// ---- start-up -----------------------------------------------------------------------------

void Gui::initialize(const char* line, int32_t show) {
    FW_TRACE("Initialization of Gui");
    commandLine = line ? line : "";
    showState = show;

    mailbox = std::make_unique<Mailbox>(programInstance, *this);

    recordingEngine = std::make_unique<engine::Engine>(engineEvents, engineSeams);

    loadResources();
    initTray();

    calibrationWait = new WaitDialog(programInstance, IDD_CALIBRATION_WAIT);
    endWait = new WaitDialog(programInstance, IDD_END_WAIT);
    log = new kit::WinLog(kit::applicationLogPath().c_str(), 1000);
    notification = new kit::TransparentWindow(programInstance, "Sonotape");
    notification->setMessageHandler(WM_TIMER, this);
    notification->setMessageHandler(WM_NCLBUTTONDBLCLK, this);
    stopwatch = new kit::Timer(gui_platform::recordingClock());

    initialized = true;
    state = RecordingState::Idle;
    stopRequested = false;

    if (quietStart) {
        startUpDialogOffered = true;
        if (currentSettings().needCalibration) {  // asked again at the next start without a command
            Settings copy = currentSettings();
            copy.captureSource = Settings::kSourceLoopback;
            storeSettings(copy);
        }
    } else if (currentSettings().needCalibration) {
        if (::MessageBoxA(nullptr, gui_rules::kCalibrationPrompt, gui_rules::kCalibrationCaption,
                          MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
            calibrateSoundCard();
    } else {
        showStartUpDialog();
    }

    // Commands and the hotkey are taken from now on; the window shows once they are.
    openCommandChannel();
    if (!registerHotkey(currentSettings().hotkey)) {
        std::string text = hotkeyTakenMessage(currentSettings().hotkey);
        FW_TRACE("%s", text.c_str());
        if (!quietStart) ::MessageBoxA(nullptr, text.c_str(), "Sonotape", MB_OK | MB_ICONWARNING);
    }
    FW_TRACE("Cmdline:%s", commandLine.c_str());
    if (!gui_rules::startsInTray(commandLine) && !currentSettings().startInTray) showMainWindow(showState);
    showSource();
    if (!isMainWindowVisible()) updateTrayIcon();
}

void Gui::loadResources() {
    loadBitmaps();
    loadIconsAndMenu();
    applySettings();
    FW_TRACE("Recources loaded.");
}

void Gui::loadBitmaps() {
    FW_TRACE("Loading bitmaps...");
    struct Bitmap {
        int id;
        kit::ScopedBitmap* slot;
        const char* failure;
    };
    const Bitmap bitmaps[] = {
        {IDB_MAIN_SKIN, &resources.skin, "IDB_MAIN_SKIN Recource not loaded!"},
        {IDB_DARKNESS_BUTTON, &resources.idleButton, "IDB_DARKNESS_BUTTON Recource not loaded!"},
        {IDB_BLINK_OFF_BUTTON, &resources.darkButton, "IDB_BLINK_OFF_BUTTON Recource not loaded!"},
        {IDB_BLINK_ON_BUTTON, &resources.litButton, "IDB_BLINK_ON_BUTTON Recource not loaded!"},
        {IDB_SONOTAPE, &resources.logo, "IDB_SONOTAPE Recource not loaded!"},
    };
    bool missing = false;
    for (const Bitmap& b : bitmaps) {
        b.slot->reset(::LoadBitmapA(programInstance, MAKEINTRESOURCEA(b.id)));
        if (!*b.slot) {
            FW_TRACE("%s", b.failure);
            missing = true;
        }
    }
    if (missing) FW_LOG(fw::LEVEL_ERR, "BitmapsNotLoaded", "%s", "");
}

void Gui::loadIconsAndMenu() {
    FW_TRACE("Loading icons...");
    resources.recordingIcon = ::LoadIconA(programInstance, MAKEINTRESOURCEA(IDI_RECORDING));
    resources.idleIcon = ::LoadIconA(programInstance, MAKEINTRESOURCEA(IDI_IDLE));
    if (!resources.recordingIcon || !resources.idleIcon) FW_LOG(fw::LEVEL_ERR, "IconsNotLoaded", "%s", "");

    FW_TRACE("Loading menu...");
    resources.menu.reset(::LoadMenuA(programInstance, MAKEINTRESOURCEA(IDR_CONTEXT_MENU)));
    if (!resources.menu) FW_LOG(fw::LEVEL_ERR, "LoadMenu_failed", "%s", "");
    resources.contextMenu = resources.menu ? ::GetSubMenu(resources.menu.get(), 0) : nullptr;
    if (!resources.contextMenu) FW_LOG(fw::LEVEL_ERR, "GetSubMenu_failed", "%s", "");
}

// The settings the engine read at its start (on the first run, the defaults
// it stored): the menu's check marks and the reminders follow them.
void Gui::applySettings() {
    const Settings& settings = currentSettings();
    if (resources.contextMenu) {
        setMenuItemState(IDM_REMIND_30MIN, settings.remind30min);
        setMenuItemState(IDM_OUT_OF_SPACE, settings.remindOutOfSpace);
        setMenuItemState(IDM_START_WITH_WINDOWS, settings.startWithWindows);
        setMenuItemState(IDM_SILENCE_START, settings.silenceStart);
        ::ModifyMenuA(resources.contextMenu, IDM_SILENCE_STOP, MF_BYCOMMAND | MF_STRING, IDM_SILENCE_STOP,
                      gui_rules::silenceStopItem(settings.silenceStopMinutes).c_str());
        ::ModifyMenuA(resources.contextMenu, IDM_SILENCE_SPLIT, MF_BYCOMMAND | MF_STRING, IDM_SILENCE_SPLIT,
                      gui_rules::silenceSplitItem(settings.silenceSplitSeconds).c_str());
        setMenuItemState(IDM_SILENCE_STOP, settings.silenceStop);  // ModifyMenu clears the mark
        setMenuItemState(IDM_SILENCE_SPLIT, settings.silenceSplit);
    }
    recordingEngine->setHalfHourReminder(settings.remind30min);
}

// ---- calibration and the welcome dialog ---------------------------------------------------

void Gui::calibrateSoundCard() {
    if (state != RecordingState::Idle) return;  // the menu item is greyed meanwhile
    if (!isMainWindowVisible()) calibrationWait->ShowDialog();
    if (mainWindow) showText(gui_rules::kCalibrationWait);
    // The short timer lets the wait text be painted before the calibration blocks.
    setTimerOrThrow(mainWindowHandle(), kCalibrationStart, 55, "Gui::calibrateSoundCard");
}

void Gui::finishCalibration() {
    killTimer(mainWindow->getHandle(), kCalibrationStart);
    bool calibrated = recordingEngine->calibrate();
    calibrationWait->hide();
    if (mainWindow) backToLogo();
    if (calibrated)
        ::MessageBoxA(nullptr, gui_rules::kCalibrationDone, "Done", MB_ICONINFORMATION);
    else
        showProblem(recordingEngine->lastProblem().c_str());
    FW_TRACE("coefffff = %lf", currentSettings().volumeCoeff);
    showStartUpDialog();
}

void Gui::showStartUpDialog() {
    if (startUpDialogOffered) return;
    startUpDialogOffered = true;
    if (!currentSettings().startUpDialog) return;
    kit::smartptr<StartUpDialog> dialog(new StartUpDialog(programInstance));
    dialog->ShowDialog();
    Settings copy = currentSettings();
    copy.startUpDialog = dialog->showOnStartup();
    FW_TRACE("PLACE: writeConfig() call");
    storeSettings(copy);
}

// ---- messages -----------------------------------------------------------------------------

void Gui::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    switch (message) {
    case WM_NCLBUTTONDBLCLK:
        result = 0;
        handled = true;
        openFolderLink();
        break;
    case WM_NCRBUTTONDOWN:
        // Taken here so that the default procedure does not start its own
        // right-button loop on the caption, which would swallow the release.
        result = 0;
        handled = true;
        break;
    case WM_NCRBUTTONUP:
        result = 0;
        handled = true;
        FW_TRACE("WM_NCRBUTTONUP");
        TrackPopup();
        break;
    case WM_COMMAND:
        result = 0;
        handled = true;
        FW_TRACE("WM_COMMAND");
        if (recordButton && reinterpret_cast<HWND>(lParam) == recordButton->getHandle() &&
            HIWORD(wParam) == BN_CLICKED) {
            FW_TRACE("Big red button click");
            toggleRecording();
            FW_TRACE("Big red button click complete");
        }
        break;
    case WM_QUERYENDSESSION:
        handled = true;
        result = queryEndSession() ? TRUE : FALSE;
        break;
    case WM_ENDSESSION:
        result = 0;
        handled = true;
        endSession(wParam != FALSE);
        break;
    case WM_TIMER:
        result = 0;
        handled = true;
        switch (wParam) {
        case kRecordingTick: recordingTick(); break;
        case kNotificationRevert: notificationRevert(); break;
        case kCalibrationStart: finishCalibration(); break;
        case kCompletionPause: completeRecording(); break;
        case kHintEnd: hintEnd(); break;
        case kMeterTick: meterTick(); break;
        default: break;
        }
        break;
    default: break;
    }
}

// ---- the tray icon's notifications ----------------------------------------------------------

void TrayIconHandler::leftButtonUp(kit::TrayIconEvent) { gui->toggleRecording(); }
void TrayIconHandler::rightButtonDown(kit::TrayIconEvent) { gui->TrackPopup(); }
void TrayIconHandler::mouseMove(kit::TrayIconEvent) {}
void TrayIconHandler::leftButtonDown(kit::TrayIconEvent) {}
void TrayIconHandler::rightButtonUp(kit::TrayIconEvent) {}
void TrayIconHandler::contextMenu(kit::TrayIconEvent) {}
void TrayIconHandler::keySelect(kit::TrayIconEvent) {}

void Gui::TrackPopup() {
    POINT at{};
    ::GetCursorPos(&at);
    HWND owner = trayIcon->getWindow();  // owns the menu, whichever window was clicked
    showSource();
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
    case IDM_HOTKEY: chooseHotkey(); break;
    case IDM_REMIND_30MIN:
    case IDM_OUT_OF_SPACE:
    case IDM_START_WITH_WINDOWS:
    case IDM_SILENCE_START:
    case IDM_SILENCE_STOP:
    case IDM_SILENCE_SPLIT: {  // the silence rules take effect with the next file chosen
        Settings copy = currentSettings();
        bool& setting = id == IDM_REMIND_30MIN    ? copy.remind30min
                        : id == IDM_OUT_OF_SPACE  ? copy.remindOutOfSpace
                        : id == IDM_SILENCE_START ? copy.silenceStart
                        : id == IDM_SILENCE_STOP  ? copy.silenceStop
                        : id == IDM_SILENCE_SPLIT ? copy.silenceSplit
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
