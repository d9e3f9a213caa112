// The main controller: start-up, the recording control, the timers, the
// calibration flow and what the worker threads report.
#include "win.gui/gui.h"

#include <atomic>
#include <memory>

#include "diagnostics/report.h"
#include "kit/exceptions.h"
#include "resource.h"
#include "win.gui/mailbox.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"
#include "win.log/log_place.h"

namespace {

constexpr const char* kTraceSource = "win.gui/gui";

// The welcome dialog is offered at most once per process.
bool startUpDialogOffered = false;

// The main window, for the console's handler, which runs on a thread of its own.
std::atomic<HWND> sessionWindow{nullptr};

}  // namespace

Gui::Gui(HINSTANCE instance, engine::EngineSeams seams) : programInstance(instance), engineSeams(seams) {}

void Gui::noteSessionWindow(HWND window) noexcept { sessionWindow.store(window); }

Gui::~Gui() {
    FW_TRACE("~Gui");
    sessionWindow.store(nullptr);
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
    stopwatch = new kit::Timer();

    initialized = true;
    state = RecordingState::Idle;
    stopRequested = false;

    if (currentSettings().needCalibration) {
        if (::MessageBoxA(nullptr, gui_rules::kCalibrationPrompt, gui_rules::kCalibrationCaption,
                          MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
            calibrateSoundCard();
    } else {
        showStartUpDialog();
    }

    FW_TRACE("Cmdline:%s", commandLine.c_str());
    if (!gui_rules::startsInTray(commandLine) && !currentSettings().startInTray) showMainWindow(showState);
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
    }
    recordingEngine->setHalfHourReminder(settings.remind30min);
}

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

// ---- messages to the user ----------------------------------------------------------------

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

// ---- the main window's text ---------------------------------------------------------------

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

// From the start of a recording to its end, whichever way it ends, the
// computer does not go to sleep under it.
void Gui::keepAwake(bool awake) {
    if (awake == keepingAwake) return;
    keepingAwake = awake;
    gui_platform::keepSystemAwake(awake);
}

void Gui::enableCalibration(bool enable) {
    if (resources.contextMenu)
        ::EnableMenuItem(resources.contextMenu, IDM_CALIBRATE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
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
        default: break;
        }
        break;
    default: break;
    }
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
