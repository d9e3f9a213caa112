// The main controller: start-up, the recording control, the timers, the
// calibration flow and what the worker threads report.
#include "win.gui/gui.h"

#include <cstring>
#include <memory>

#include "diagnostics/report.h"
#include "kit/exceptions.h"
#include "kit/oslib.h"
#include "resource.h"
#include "win.gui/callbacks.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"

namespace {

constexpr const char* kTraceSource = "win.gui/gui";

// The welcome dialog is offered at most once per process.
bool startUpDialogOffered = false;

HINSTANCE instance() { return gui_process::instance(); }

// A settings record's folder, owned by the caller's string.
void pointFolderAt(backend::EngineSettings& settings, std::string& folder) { settings.storageFolder = folder.data(); }

}  // namespace

Gui::Gui() = default;

Gui::~Gui() {
    FW_TRACE("~Gui");
    if (initialized) {
        // A recording still under way when the program ends: a chosen file is
        // completed (the engine's end waits for it), a recording without file
        // is dropped.
        fw::catchAndReport(kTraceSource, __LINE__, [this] {
            if (backend::isRecording()) {
                if (outputChosen)
                    backend::finishRecording(nullptr);
                else
                    backend::abortRecording();
            }
        });
        fw::takeExceptionReported();
        fw::catchAndReport(kTraceSource, __LINE__, [this] { saveWindowPosition(); });
        fw::takeExceptionReported();
    }
    if (engineStarted) backend::destroy();
    gui_process::setMailbox(nullptr);
    delete[] settings.storageFolder;
    settings.storageFolder = nullptr;
}

// ---- start-up -----------------------------------------------------------------------------

void Gui::initialize(const char* line, int32_t state) {
    FW_TRACE("Initialization of Gui");
    commandLine = line ? line : "";
    showState = state;

    mailbox = new kit::UtilityWindow(instance());
    mailbox->setHandler(this);
    gui_process::setMailbox(mailbox->getHandle());
    taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");

    backend::init();
    engineStarted = true;
    backend::setCrashStopReminder(&CrashStop_Reminder_Func);

    loadResources();
    initTray();

    calibrationWait = new WaitDialog(instance(), IDD_CALIBRATION_WAIT);
    endWait = new WaitDialog(instance(), IDD_END_WAIT);
    log = new kit::WinLog("log.txt", 1000);
    notification = new kit::TranparentWindow(instance(), "Sonotape");
    notification->setMessageHandler(WM_TIMER, this);
    notification->setMessageHandler(WM_NCLBUTTONDBLCLK, this);
    stopwatch = new kit::Timer();

    initialized = true;
    endingRecord = false;
    stopRequested = false;

    if (GetConfig().needCalibration) {
        if (::MessageBoxA(nullptr, gui_rules::kCalibrationPrompt, gui_rules::kCalibrationCaption,
                          MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
            calibrateSoundCard();
    } else {
        showStartUpDialog();
    }

    FW_TRACE("Cmdline:%s", commandLine.c_str());
    if (!gui_rules::startsInTray(commandLine) && !GetConfig().startInTray) showMainWindow(showState);
    if (!isMainWindowVisible()) updateTrayIcon();
}

void Gui::loadResources() {
    FW_TRACE("Loading bitmaps...");
    struct Bitmap {
        int id;
        HBITMAP* slot;
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
        *b.slot = ::LoadBitmapA(instance(), MAKEINTRESOURCEA(b.id));
        if (!*b.slot) {
            FW_TRACE("%s", b.failure);
            missing = true;
        }
    }
    if (missing) FW_LOG(fw::LEVEL_ERR, "BitmapsNotLoaded", "%s", "");

    FW_TRACE("Loading icons...");
    resources.recordingIcon = ::LoadIconA(instance(), MAKEINTRESOURCEA(IDI_RECORDING));
    resources.idleIcon = ::LoadIconA(instance(), MAKEINTRESOURCEA(IDI_IDLE));
    if (!resources.recordingIcon || !resources.idleIcon) FW_LOG(fw::LEVEL_ERR, "IconsNotLoaded", "%s", "");

    FW_TRACE("Loading menu...");
    resources.menu = ::LoadMenuA(instance(), MAKEINTRESOURCEA(IDR_CONTEXT_MENU));
    if (!resources.menu) FW_LOG(fw::LEVEL_ERR, "LoadMenu_failed", "%s", "");
    resources.contextMenu = resources.menu ? ::GetSubMenu(resources.menu, 0) : nullptr;
    if (!resources.contextMenu) FW_LOG(fw::LEVEL_ERR, "GetSubMenu_failed", "%s", "");

    FW_TRACE("Loading config...");
    if (!backend::loadConfig(&settings)) {
        // Nothing stored yet: the program's first settings.
        std::string folder = kit::getDefaultMusicFolder().c_str();
        settings.storageFolder = new char[folder.size() + 1];
        std::memcpy(settings.storageFolder, folder.c_str(), folder.size() + 1);
        settings.lastFormat = 0;
        settings.needCalibration = true;
        settings.remind30min = false;
        settings.remindOutOfSpace = false;
        settings.startWithWindows = false;
        settings.lastBitrate = 32;
        settings.startInTray = false;
        settings.xPos = 10;
        settings.yPos = 10;
        settings.volumeCoeff = 1.0;
        settings.volumeLevel = 32767;
        settings.startUpDialog = true;
        backend::writeConfig(&settings);
    }

    if (resources.contextMenu) {
        setMenuItemState(IDM_REMIND_30MIN, settings.remind30min);
        setMenuItemState(IDM_OUT_OF_SPACE, settings.remindOutOfSpace);
        setMenuItemState(IDM_START_WITH_WINDOWS, settings.startWithWindows);
    }

    backend::setOutOfSpaceReminderProc(&spaceReminderProc);
    backend::setPeriodicReminderProc(settings.remind30min ? &timeReminderProc : nullptr);
    FW_TRACE("Recources loaded.");
}

const backend::EngineSettings& Gui::GetConfig() {
    backend::EngineSettings fresh = settings;
    fresh.storageFolder = nullptr;
    if (!backend::loadConfig(&fresh)) {
        kit::setOrigin(kTraceSource, __LINE__, "Gui::GetConfig");
        throw kit::ALogicError("Can not load configuration");
    }
    delete[] settings.storageFolder;
    settings = fresh;
    return settings;
}

void Gui::writeSettings(backend::EngineSettings& copy, const std::string& folder) {
    std::string owned = folder;
    pointFolderAt(copy, owned);
    backend::writeConfig(&copy);
}

void Gui::saveWindowPosition() {
    if (!mainWindow) return;
    backend::EngineSettings copy = GetConfig();
    WINDOWINFO info{};
    info.cbSize = sizeof info;
    if (!::GetWindowInfo(mainWindow->getHandle(), &info)) return;
    copy.xPos = info.rcWindow.left;
    copy.yPos = info.rcWindow.top;
    backend::writeConfig(&copy);
}

// ---- the recording control ----------------------------------------------------------------

void Gui::toggleRecording() {
    if (saveDialog && saveDialog->isShown()) {
        saveDialog->close();
        return;
    }
    if (!backend::isRecording())
        beginRecord();
    else
        endRecord();
}

void Gui::beginRecord() {
    enableCalibration(false);
    if (backend::isRecording()) return;
    if (saveDialog) {
        FW_TRACE("FileSaveDialog opened in this monent.");
        return;
    }
    if (!mainWindow) createMainWindow();
    if (linkPending) {  // the last recording's hint gives way to the new one
        killTimer(mainWindow->getHandle(), kHintEnd);
        linkPending = false;
    }
    saveDialog = new FileSaveDialog(instance());
    FW_TRACE("Begin record!");

    recordButton->setBitmap(resources.darkButton);
    recordButton->setAlternate(true);
    setTimerOrThrow(mainWindow->getHandle(), kRecordingTick, 1000, "Gui::beginRecord");
    stopwatch->reset();
    endingRecord = false;
    stopRequested = false;
    outputChosen = false;

    if (backend::startRecording() != backend::SE_NO_ERROR || !backend::isRecording()) {
        // The engine has reported why; the button must not go on blinking
        // for a recording that does not run.
        FW_TRACE("Smt error with startRecording()");
        killTimer(mainWindow->getHandle(), kRecordingTick);
        recordButton->setBitmap(resources.idleButton);
        recordButton->setAlternate(false);
        saveDialog.reset();
        enableCalibration(true);
        backToLogo();
        return;
    }

    kit::shared_string time = stopwatch->toString();
    mainWindow->setOverlayVisible(false);
    mainWindow->setText(time);
    mainWindow->redraw();
    notification->setText(time);
    notification->redraw();
    if (!isMainWindowVisible()) {
        notification->show();
        updateTrayIcon();
    }
    stopwatch->start();
    mainWindow->setTextVisible(true);

    kit::smartptr<FileSaveDialog> dialog = saveDialog;  // it may be released while it is shown
    {
        const backend::EngineSettings& current = GetConfig();
        dialog->setFolder(current.storageFolder);
        dialog->setFormat(current.lastFormat);
        dialog->setBitrate(current.lastBitrate);
        FW_TRACE("Last used format:%d", current.lastFormat);
    }

    INT_PTR result = 0;
    try {
        result = dialog->ShowDialog();
    } catch (...) {
        if (backend::isRecording()) abortRecord();
        throw;
    }
    if (saveDialog.get() != dialog.get() || !backend::isRecording()) return;  // ended while the dialog was open

    if (result == IDOK) {
        std::string path = dialog->getPath();
        FW_TRACE("Used format:%d", dialog->getFormat());
        if (!backend::setOutputFile(path.c_str(), dialog->getFormat(), dialog->getBitrate())) {
            // No file: the recording would run for nothing.
            FW_TRACE("setOutputFile() failed: the recording is aborted");
            abortRecord();
            ::MessageBoxA(mainWindowHandle(), gui_rules::outputFailedMessage(path).c_str(), "Sonotape",
                          MB_OK | MB_ICONERROR);
            return;
        }
        outputChosen = true;
        backend::EngineSettings copy = GetConfig();
        copy.lastBitrate = dialog->getBitrate();
        copy.lastFormat = dialog->getFormat();
        writeSettings(copy, dialog->getFolder());
        openFolderCommand = gui_rules::openFolderCommand(dialog->getFolder());
    } else if (backend::isRecording()) {
        abortRecord();
    }
}

void Gui::endRecord() {
    endingRecord = true;
    FW_TRACE("Prepare to end record");
    if (recordButton) recordButton->setBitmap(resources.idleButton);
    if (mainWindow) killTimer(mainWindow->getHandle(), kRecordingTick);
    if (recordButton) recordButton->setAlternate(false);
    if (!isMainWindowVisible()) backToLogo();
    notification->hide();
    stopwatch->stop();
    FW_TRACE("Begin of end record");
    if (backend::isRecording()) {
        if (!isMainWindowVisible())
            endWait->ShowDialog();
        else
            showText(gui_rules::kEndingWait);
    }
    if (backend::finishRecording(&finishNotifier) != backend::FE_DELAYED) doneRecord();
}

void Gui::doneRecord() {
    enableCalibration(true);
    FW_TRACE("End of end record");
    if (!saveDialog || !outputChosen) {
        backToLogo();
        saveDialog.reset();
    } else {
        ::Sleep(1500);
        endWait->hide();
        log->add("Recorded: %s %s", saveDialog->getPath().c_str(), stopwatch->toString().c_str());
        if (saveDialog->isShutdownWanted() && !stopRequested) {
            // A failed shutdown is reported; the program goes on.
            fw::catchAndReport(kTraceSource, __LINE__, [] { gui_platform::shutdownComputer(); });
            fw::takeExceptionReported();
        }
        if (!isMainWindowVisible()) {
            notification->LinkOn(gui_rules::kDoneLink);
            backToLogo();
        } else {
            showText(gui_rules::kDoneHint);
            setTimerOrThrow(mainWindow->getHandle(), kHintEnd, 6000, "Gui::doneRecord");
            linkPending = true;
        }
        saveDialog.reset();
    }
    endingRecord = false;
    stopRequested = false;
    outputChosen = false;
    if (!isMainWindowVisible()) updateTrayIcon();
}

void Gui::abortRecord() {
    backend::abortRecording();
    if (saveDialog && saveDialog->isShown()) saveDialog->close();
    saveDialog.reset();
    endRecord();
    endingRecord = false;
    stopRequested = false;
}

// ---- timers -------------------------------------------------------------------------------

void Gui::recordingTick() {
    kit::shared_string time = stopwatch->toString();
    showText(time.c_str());
    notification->setText(time);
    recordButton->setAlternate(!recordButton->isAlternate());
    mainWindow->redraw();
    notification->redraw();

    if (saveDialog) {
        kit::smartptr<FileSaveDialog> dialog = saveDialog;
        kit::ElapsedTime elapsed = stopwatch->elapsedTime();
        if (dialog->isShown() && gui_rules::saveDialogExpired(elapsed)) {
            dialog->close();  // ends in abortRecord, after the dialog
        } else if (dialog->hasTimeLimit() && !dialog->isShown() &&
                   gui_rules::timeLimitReached(elapsed, dialog->getHours(), dialog->getMinutes())) {
            endRecord();
        }
    }
    if (stopRequested) {
        if (!endingRecord) endRecord();
        showMessage(stopMessage);
        stopRequested = false;
    }
}

void Gui::hintEnd() {
    killTimer(mainWindow->getHandle(), kHintEnd);
    linkPending = false;
    backToLogo();
}

void Gui::notificationRevert() {
    notification->unfreezeText();
    if (isMainWindowVisible() || !backend::isRecording()) notification->hide();
    killTimer(notification->getHandle(), kNotificationRevert);
    notification->setText(stopwatch->toString());
    notification->setSizeAndMode(kit::TWS_SMALL, kit::kPlainMode);
    notification->redraw();
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
    if (!isMainWindowVisible()) calibrationWait->ShowDialog();
    if (mainWindow) showText(gui_rules::kCalibrationWait);
    // The short timer lets the wait text be painted before the calibration blocks.
    setTimerOrThrow(mainWindowHandle(), kCalibrationStart, 55, "Gui::calibrateSoundCard");
}

void Gui::finishCalibration() {
    killTimer(mainWindow->getHandle(), kCalibrationStart);
    bool failed = backend::calibrate();
    calibrationWait->hide();
    if (mainWindow) backToLogo();
    if (!failed) ::MessageBoxA(nullptr, gui_rules::kCalibrationDone, "Done", MB_ICONINFORMATION);
    GetConfig();
    FW_TRACE("coefffff = %lf", settings.volumeCoeff);
    showStartUpDialog();
}

void Gui::showStartUpDialog() {
    if (startUpDialogOffered) return;
    startUpDialogOffered = true;
    if (!GetConfig().startUpDialog) return;
    kit::smartptr<StartUpDialog> dialog(new StartUpDialog(instance()));
    dialog->ShowDialog();
    backend::EngineSettings copy = GetConfig();
    copy.startUpDialog = dialog->showOnStartup();
    FW_TRACE("PLACE: writeConfig() call");
    backend::writeConfig(&copy);
}

// ---- what the worker threads report -------------------------------------------------------

void Gui::handleMailbox(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case gui_process::kRecordingDone:
        FW_TRACE("finishNotifier()");
        doneRecord();
        break;
    case gui_process::kCrashStop: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        CrashStopReminder(text ? text->c_str() : "");
        break;
    }
    case gui_process::kTimeReminder: TimeReminder(); break;
    case gui_process::kSpaceReminder: SpaceReminder(wParam != 0); break;
    default: break;
    }
}

void Gui::CrashStopReminder(const kit::shared_string& message) {
    FW_TRACE("CrashStopReminder");
    if (saveDialog && saveDialog->isShown()) return;
    if (stopRequested) return;
    stopRequested = true;
    stopMessage = message;
}

void Gui::TimeReminder() {
    FW_TRACE("TimeReminder");
    showMessage(gui_rules::kStillRecording);
}

void Gui::SpaceReminder(bool stop) {
    FW_TRACE("SpaceReminder");
    if (!backend::isRecording()) return;
    if (stop) {
        endRecord();
        showMessage(gui_rules::kNoSpace);
        updateTrayIcon();
        saveWindowPosition();
        if (mainWindow) {
            ::ShowWindow(mainWindow->getHandle(), SW_HIDE);
            ::UpdateWindow(mainWindow->getHandle());
        }
    } else if (GetConfig().remindOutOfSpace) {
        notification->ReminderOn(gui_rules::kLowSpace);
    }
}

void Gui::showMessage(const kit::shared_string& text) {
    kit::smartptr<VarTextDialog> dialog(new VarTextDialog(instance()));
    dialog->setText(text);
    dialog->ShowDialog();
}

void Gui::shellRestarted() {
    FW_TRACE("TaskbarCreated");
    if (trayIcon && trayIcon->isShown()) {
        trayIcon->shellForgot();
        trayIcon->show();
    }
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

void Gui::enableCalibration(bool enable) {
    if (resources.contextMenu)
        ::EnableMenuItem(resources.contextMenu, IDM_CALIBRATE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

// ---- messages -----------------------------------------------------------------------------

void Gui::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    if (taskbarCreated != 0 && message == taskbarCreated) {
        shellRestarted();
        return;  // other windows want to see it too
    }
    switch (message) {
    case gui_process::kRecordingDone:
    case gui_process::kCrashStop:
    case gui_process::kTimeReminder:
    case gui_process::kSpaceReminder:
        result = 0;
        handled = true;
        handleMailbox(message, wParam, lParam);
        break;
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
        if (recordButton && reinterpret_cast<HWND>(lParam) == recordButton->getHandle() && HIWORD(wParam) == 0) {
            FW_TRACE("Big red button click");
            toggleRecording();
            FW_TRACE("Big red button click complete");
        }
        break;
    case WM_TIMER:
        result = 0;
        handled = true;
        switch (wParam) {
        case kRecordingTick: recordingTick(); break;
        case kNotificationRevert: notificationRevert(); break;
        case kCalibrationStart: finishCalibration(); break;
        case kHintEnd: hintEnd(); break;
        default: break;
        }
        break;
    default: break;
    }
}
