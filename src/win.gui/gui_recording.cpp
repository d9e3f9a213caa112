// The recording's life: the states of a recording and their transitions, the
// recording tick, the end of the session, and what the worker threads report.
// Calls what the Gui shows (gui_windows.cpp), never the start-up and input file.
#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"
#include "win.log/log_place.h"

namespace {
constexpr const char* kTraceSource = "win.gui/gui_recording";
}  // namespace

const char* recordingStateName(RecordingState state) noexcept {
    switch (state) {
    case RecordingState::Idle: return "idle";
    case RecordingState::Choosing: return "choosing";
    case RecordingState::Recording: return "recording";
    case RecordingState::Completing: return "completing";
    case RecordingState::Completed: return "completed";
    }
    return "?";
}

// What each state shows: the button, the recording tick, the calibration
// menu item, the end wait box, the tray icon.
void Gui::enter(RecordingState next) {
    FW_TRACE("Recording state: %s -> %s", recordingStateName(state), recordingStateName(next));
    state = next;
    HWND main = mainWindow ? mainWindow->getHandle() : nullptr;
    switch (next) {
    case RecordingState::Idle:
        if (main) killTimer(main, kCompletionPause);
        endWait->hide();
        enableCalibration(true);
        keepAwake(false);
        stopRequested = false;
        if (!closing && !isMainWindowVisible()) updateTrayIcon();
        if (!closing) showSource();
        break;
    case RecordingState::Choosing:
        enableCalibration(false);
        keepAwake(true);
        recordButton->setBitmap(resources.darkButton.get());
        recordButton->setAlternate(true);
        setTimerOrThrow(main, kRecordingTick, 1000, "Gui::beginRecord");
        setTimerOrThrow(main, kMeterTick, kMeterTickMs, "Gui::beginRecord");
        stopRequested = false;
        break;
    case RecordingState::Recording: break;
    case RecordingState::Completing:
        recordButton->setBitmap(resources.idleButton.get());
        killTimer(main, kRecordingTick);
        killTimer(main, kMeterTick);
        hideMeters();
        recordButton->setAlternate(false);
        stopwatch->stop();
        break;
    case RecordingState::Completed:
        // The pause lets the wait text be read; the thread stays free meanwhile.
        setTimerOrThrow(main, kCompletionPause, kCompletionPauseMs, "Gui::recordingFinished");
        break;
    }
}

void Gui::toggleRecording() {
    switch (state) {
    case RecordingState::Idle: beginRecord(); break;
    case RecordingState::Choosing:
        if (saveDialog && saveDialog->isShown()) saveDialog->close();  // ends in abortRecord
        break;
    case RecordingState::Recording: endRecord(); break;
    case RecordingState::Completing:
    case RecordingState::Completed: FW_TRACE("A recording is being completed: the click is ignored"); break;
    }
}

void Gui::beginRecord() {
    if (state != RecordingState::Idle) {
        FW_TRACE("FileSaveDialog opened in this monent.");
        return;
    }
    if (startCapture()) chooseOutput();
}

// The capture starts and the recording runs, still without a file.
bool Gui::startCapture(bool tell) {
    if (!mainWindow) createMainWindow();
    dropFolderLink();
    FW_TRACE("Begin record!");
    stopwatch->reset();
    if (recordingEngine->start() != engine::StartResult::started) {
        FW_TRACE("Smt error with startRecording()");  // the engine has reported why
        if (tell) showProblem(recordingEngine->lastProblem().c_str());
        return false;
    }
    saveDialog = new FileSaveDialog(programInstance, recordingEngine->recordingRate());
    enter(RecordingState::Choosing);
    showSource();
    if (recordingEngine->captureSource().fellBack && !isMainWindowVisible())
        notification->ReminderOn(gui_rules::kLoopbackRefused);

    kit::shared_string time = recordingText();
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
    return true;
}

// The recording options dialog, shown while the recording runs.
void Gui::chooseOutput() {
    kit::smartptr<FileSaveDialog> dialog = saveDialog;  // it may be released while it is shown
    {
        const Settings& current = currentSettings();
        dialog->setFolder(current.storageDir.c_str());
        dialog->setFormat(current.lastFormat);
        dialog->setBitrate(current.lastBitrate);
        dialog->setBits(current.lastBits);
        dialog->offerDeepFiles(recordingEngine->offersDeepFiles());
        FW_TRACE("Last used format:%d", current.lastFormat);
    }
    INT_PTR result = 0;
    try {
        result = dialog->ShowDialog();
    } catch (...) {
        if (saveDialog.get() == dialog.get()) abortRecord();
        throw;
    }
    if (saveDialog.get() != dialog.get() || state != RecordingState::Choosing) return;  // ended meanwhile
    if (result != IDOK) {
        abortRecord();
        return;
    }
    adoptOutput(*dialog);
}

// The file chosen in the options dialog: what was recorded and what follows goes there.
bool Gui::adoptOutput(const FileSaveDialog& dialog, std::string* failure) {
    std::string path = dialog.getPath();
    FW_TRACE("Used format:%d", dialog.getFormat());
    if (!recordingEngine->setOutputFile(path, dialog.getFormat(), dialog.getBitrate(), dialog.getBits())) {
        // No file: the recording would run for nothing.
        FW_TRACE("setOutputFile() failed: the recording is aborted");
        abortRecord();
        std::string text = recordingEngine->outputFailureText();
        if (failure)
            *failure = text;
        else if (quiet())
            FW_TRACE("Not shown while the program or the session ends: %s", text.c_str());
        else
            ::MessageBoxA(mainWindowHandle(), text.c_str(), "Sonotape", MB_OK | MB_ICONERROR);
        return false;
    }
    Settings copy = currentSettings();
    copy.lastBitrate = dialog.getBitrate();
    copy.lastFormat = dialog.getFormat();
    copy.storageDir = dialog.getFolder().c_str();
    storeSettings(copy);
    openFolderCommand = gui_rules::openFolderCommand(dialog.getFolder());
    enter(RecordingState::Recording);
    return true;
}

// The options dialog, still open, ends with OK for what it shows; the
// recording goes into that file at once.
void Gui::takeShownOptions() {
    kit::smartptr<FileSaveDialog> dialog = saveDialog;
    if (state != RecordingState::Choosing || !dialog || !dialog->isShown()) return;
    dialog->acceptAsShown();  // chooseOutput finds the recording under way when the dialog's loop ends
    adoptOutput(*dialog);
}

// The last recording's folder link gives way to the new recording.
void Gui::dropFolderLink() {
    if (linkPending) {
        killTimer(mainWindow->getHandle(), kHintEnd);
        linkPending = false;
    }
    int mode = kit::kPlainMode;
    notification->getSizeAndMode(nullptr, &mode);
    if (mode == kit::kLinkMode) notificationRevert();
}

void Gui::endRecord() {
    if (state != RecordingState::Recording) return;
    FW_TRACE("Prepare to end record");
    enter(RecordingState::Completing);
    if (!isMainWindowVisible()) backToLogo();
    notification->hide();
    FW_TRACE("Begin of end record");
    if (!closing) {
        if (!isMainWindowVisible())
            endWait->ShowDialog();
        else
            showText(gui_rules::kEndingWait);
    }
    if (recordingEngine->finish() == engine::EndResult::finishing) return;  // the finalizer's letter comes
    if (recordingEngine->isRecording()) recordingEngine->abort();  // it could not be finished: the file is closed
    recordingFinished();
}

// The engine has completed the file.
void Gui::recordingFinished() {
    if (state != RecordingState::Completing) return;
    FW_TRACE("finishNotifier()");
    if (closing)
        completeRecording();
    else
        enter(RecordingState::Completed);
}

void Gui::completeRecording() {
    if (state != RecordingState::Completed && state != RecordingState::Completing) return;
    FW_TRACE("End of end record");
    std::string path = saveDialog->getPath();
    engine::RecordingOutcome outcome = recordingEngine->lastRecordingOutcome();
    uint32_t parts = outcome.parts;
    bool logged = true;
    for (const std::string& line :
         gui_rules::recordedLines(path, stopwatch->toString().c_str(), outcome.files, outcome.bits))
        logged = log->add("%s", line.c_str()) && logged;
    std::string notice = gui_rules::recordingNotice(outcome, path, parts);
    if (saveDialog->isShutdownWanted() && !stopRequested && !outcome.deviceLost && !sessionEnding) {
        // A failed shutdown is reported; the program goes on.
        fw::catchAndReport(kTraceSource, __LINE__, [] { gui_platform::shutdownComputer(); });
    }
    if (!closing) offerFolderLink(parts > 1 ? gui_rules::partsHint(path, parts) : std::string());
    saveDialog.reset();
    enter(RecordingState::Idle);
    // Last, so that the messages hold up neither a shutdown nor the rest of
    // the ending; not while the program closes (they would hold up a log-off).
    if (!logged && !quiet() && log->takeWarning())
        ::MessageBoxA(mainWindowHandle(), kit::logNotWrittenMessage(log->fileName(), log->lastError()).c_str(),
                      "Sonotape", MB_OK | MB_ICONWARNING);
    if (!notice.empty()) FW_TRACE("Recording notice: %s", notice.c_str());
    if (!notice.empty() && !quiet()) {  // a closing program does not wait for a click
        gui_platform::showNotice(isMainWindowVisible() ? mainWindow->getHandle() : nullptr, notice.c_str());
    }
}

// The hint on the main window, or the link in the notification window; a
// recording in several files names them instead of the usual text.
void Gui::offerFolderLink(const std::string& partsText) {
    if (!isMainWindowVisible()) {
        notification->LinkOn(partsText.empty() ? gui_rules::kDoneLink : partsText.c_str());
        backToLogo();
    } else {
        showText(partsText.empty() ? gui_rules::kDoneHint : partsText.c_str());
        setTimerOrThrow(mainWindow->getHandle(), kHintEnd, 6000, "Gui::doneRecord");
        linkPending = true;
    }
}

void Gui::abortRecord() {
    if (!recordingUnderWay()) return;
    recordingEngine->abort();
    if (saveDialog && saveDialog->isShown()) saveDialog->close();
    saveDialog.reset();
    enter(RecordingState::Completing);
    notification->hide();
    backToLogo();
    enter(RecordingState::Idle);
}

void Gui::closeRecording() {
    closing = true;
    switch (state) {
    case RecordingState::Idle: return;
    case RecordingState::Choosing: abortRecord(); return;
    case RecordingState::Recording: endRecord(); break;
    case RecordingState::Completing:
    case RecordingState::Completed: break;
    }
    // The finalizer always sends its letter, also when finishing failed.
    while (state == RecordingState::Completing) {
        mailbox->deliver();
        if (state == RecordingState::Completing) mailbox->waitForLetter(1000);
    }
    completeRecording();
}

// ---- the end of the Windows session ------------------------------------------------------

bool Gui::queryEndSession() {
    FW_TRACE("Windows asks to end the session; the recording is %s", recordingStateName(state));
    if (state == RecordingState::Idle) return true;
    sessionEnding = true;
    // Windows says why it waits, should the recording take longer than it allows without a word.
    if (mainWindow && !::ShutdownBlockReasonCreate(mainWindow->getHandle(), gui_rules::kSavingRecording))
        FW_TRACE("ShutdownBlockReasonCreate() failed: %lu", ::GetLastError());
    // The file is written from now on, not only once the session ends.
    takeShownOptions();
    return true;
}

void Gui::endSession(bool ending) {
    if (!ending) {
        FW_TRACE("The end of the session was cancelled; the recording is %s", recordingStateName(state));
        sessionEnding = false;
        if (mainWindow) ::ShutdownBlockReasonDestroy(mainWindow->getHandle());
        return;
    }
    sessionEnding = true;
    const bool recording = state != RecordingState::Idle;
    const ULONGLONG begun = ::GetTickCount64();
    // Windows ends the process once this returns: the recording is complete before.
    fw::catchAndReport(kTraceSource, __LINE__, [this] {
        takeShownOptions();  // no question came before (the console's events)
        closeRecording();
    });
    const auto ms = static_cast<unsigned long long>(::GetTickCount64() - begun);
    FW_LOG(fw::LEVEL_NOTIFY, "SessionEnded", "the Windows session ends: %s (%llu ms)",
           recording ? "the recording is complete" : "nothing was recording", ms);
    fw::flush(1000);
    if (mainWindow) ::ShutdownBlockReasonDestroy(mainWindow->getHandle());
    ::PostQuitMessage(0);  // where the process is not ended for it
}

// ---- the recording tick and the notification's timers -------------------------------------

void Gui::recordingTick() {
    if (!recordingUnderWay()) return;
    kit::shared_string time = recordingText();
    showText(time.c_str());
    notification->setText(recordingEngine->isCaptureSearching() ? time : stopwatch->toString());
    recordButton->setAlternate(!recordButton->isAlternate());
    mainWindow->redraw();
    notification->redraw();

    kit::smartptr<FileSaveDialog> dialog = saveDialog;
    kit::ElapsedTime elapsed = stopwatch->elapsedTime();
    if (state == RecordingState::Choosing && dialog->isShown() && gui_rules::saveDialogExpired(elapsed)) {
        dialog->close();  // ends in abortRecord, after the dialog
    } else if (state == RecordingState::Recording && dialog->hasTimeLimit() &&
               gui_rules::timeLimitReached(elapsed, dialog->getHours(), dialog->getMinutes())) {
        endRecord();
    }
    // A device lost while the options dialog is open ends the recording once
    // it has its file (after OK); what was recorded is saved and the user told.
    if (state == RecordingState::Recording && recordingEngine->isCaptureDeviceLost()) {
        FW_TRACE("The recording device is lost: the recording ends");
        endRecord();
    }
    if (stopRequested) {
        stopRequested = false;
        endRecord();
        showMessage(stopMessage);
    }
}

// The main window's text while recording: the time, or in its place that no
// playback device is there, that loopback gave way to the line (for the first
// seconds), or that nothing has been heard for two minutes.
kit::shared_string Gui::recordingText() {
    if (recordingEngine->isCaptureSearching()) return gui_rules::kNoPlaybackDevice;
    kit::ElapsedTime elapsed = stopwatch->elapsedTime();
    bool early = elapsed.hours == 0 && elapsed.minutes == 0 &&
                 elapsed.seconds < static_cast<int>(gui_rules::kLoopbackRefusedSeconds);
    if (early && recordingEngine->captureSource().fellBack) return gui_rules::kLoopbackRefused;
    if (recordingEngine->captureLevels().silent) return gui_rules::nothingHeardText().c_str();
    return stopwatch->toString();
}

void Gui::hintEnd() {
    killTimer(mainWindow->getHandle(), kHintEnd);
    linkPending = false;
    backToLogo();
}

void Gui::notificationRevert() {
    notification->unfreezeText();
    if (isMainWindowVisible() || !recordingUnderWay()) notification->hide();
    killTimer(notification->getHandle(), kNotificationRevert);
    notification->setText(stopwatch->toString());
    notification->setSizeAndMode(kit::TWS_SMALL, kit::kPlainMode);
    notification->redraw();
}

// ---- what the worker threads report -------------------------------------------------------

void Gui::receive(const Letter& letter) {
    switch (letter.kind) {
    case Letter::RecordingDone: recordingFinished(); break;
    case Letter::CrashStop: CrashStopReminder(letter.text.c_str()); break;
    case Letter::TimeReminder: TimeReminder(); break;
    case Letter::SpaceWarning: SpaceReminder(false); break;
    case Letter::SpaceStop: SpaceReminder(true); break;
    case Letter::Command:
        if (commandServer) commandServer->serve();
        break;
    }
}

void Gui::CrashStopReminder(const kit::shared_string& message) {
    FW_TRACE("CrashStopReminder");
    // Ignored while the options dialog is open (there is no file yet). Once
    // the recording is being completed (a file that failed at its close), no
    // tick carries it any more: said at once.
    if ((state == RecordingState::Completing || state == RecordingState::Completed) && !closing) {
        showMessage(message);
        return;
    }
    if (state != RecordingState::Recording) return;
    if (stopRequested) return;
    stopRequested = true;
    stopMessage = message;
}

void Gui::TimeReminder() {
    FW_TRACE("TimeReminder");
    if (!recordingUnderWay()) return;
    showMessage(gui_rules::kStillRecording);
}

void Gui::SpaceReminder(bool stop) {
    FW_TRACE("SpaceReminder");
    if (state != RecordingState::Recording) return;  // only a recording into a file watches a disk
    if (stop) {
        endRecord();
        showMessage(gui_rules::kNoSpace);
        updateTrayIcon();
        saveWindowPosition();
        if (mainWindow) {
            ::ShowWindow(mainWindow->getHandle(), SW_HIDE);
            ::UpdateWindow(mainWindow->getHandle());
        }
    } else if (currentSettings().remindOutOfSpace) {
        notification->ReminderOn(gui_rules::kLowSpace);
    }
}

// ---- the computer stays awake --------------------------------------------------------------

// From the start of a recording to its end, whichever way it ends, the
// computer does not go to sleep under it.
void Gui::keepAwake(bool awake) {
    if (awake == keepingAwake) return;
    keepingAwake = awake;
    gui_platform::keepSystemAwake(awake);
}
