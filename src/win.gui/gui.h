// The one controller of the user interface: it owns every window, dialog and
// resource, drives the recording through its states, measures the recording
// time, reacts to the reminders and to a forced stop, runs the calibration,
// and reads and writes the settings through the engine.
//
// Everything here runs on the user-interface thread. What the engine's worker
// threads report arrives as letters in the Gui's mailbox (win.gui/mailbox.h)
// and is carried out from there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "kit/refcounted.h"
#include "kit/scoped.h"
#include "kit/shared_string.h"
#include "win.gui/command_channel.h"
#include "win.gui/mailbox.h"
#include "win.dialogs/file_save_dialog.h"
#include "win.dialogs/small_dialogs.h"
#include "win.log/win_log.h"
#include "win.transparentwindow/transparent_window.h"
#include "win.trayicon/tray_icon.h"
#include "win.windows/message_handler.h"
#include "win.windows/patterned_button.h"
#include "win.windows/patterned_window.h"
#include "win.windows/timer.h"

class Gui;

// The console's handler (SetConsoleCtrlHandler): its close, log-off and
// shutdown events end the session of the program's main window as
// WM_QUERYENDSESSION and WM_ENDSESSION do, and return once the recording is
// complete. Other events are left to the next handler.
BOOL WINAPI endSessionOnConsoleEvent(DWORD event);

// Carries the tray icon's notifications to the Gui.
class TrayIconHandler : public kit::refcounted {
public:
    explicit TrayIconHandler(Gui* gui_) noexcept : gui(gui_) {}

    void leftButtonUp(kit::TrayIconEvent event);     // toggles the recording
    void rightButtonDown(kit::TrayIconEvent event);  // the context menu
    void mouseMove(kit::TrayIconEvent event);
    void leftButtonDown(kit::TrayIconEvent event);
    void rightButtonUp(kit::TrayIconEvent event);
    void contextMenu(kit::TrayIconEvent event);
    void keySelect(kit::TrayIconEvent event);

private:
    Gui* gui;  // not owned
};

// The life of a recording, as the Gui sees it. Every change goes through
// Gui::enter, which also sets what each state shows.
enum class RecordingState {
    Idle,        // no recording; a click starts one
    Choosing,    // recording; the recording options dialog is open, no file yet
    Recording,   // recording into the chosen file
    Completing,  // the engine completes the file; clicks are ignored
    Completed,   // the file is complete; the wait text stays a moment, then the result is shown
};
const char* recordingStateName(RecordingState state) noexcept;

class Gui : public kit::IMessageHandler, public LetterReceiver {
public:
    // Window timers.
    static constexpr UINT_PTR kRecordingTick = 1;       // main window, every second while recording
    static constexpr UINT_PTR kNotificationRevert = 2;  // notification window
    static constexpr UINT_PTR kCalibrationStart = 3;    // main window, once, 55 ms
    static constexpr UINT_PTR kCompletionPause = 4;     // main window, once, 1.5 s
    static constexpr UINT_PTR kHintEnd = 13;            // main window, once, 6 s
    static constexpr UINT_PTR kMeterTick = 21;          // main window, every 50 ms while recording
    static constexpr UINT kCompletionPauseMs = 1500;
    static constexpr UINT kMeterTickMs = 50;
    // The menu's last item names what is recorded (greyed, no command).
    static constexpr UINT kSourceItem = 0x7E00;

    // `seams`: what tests put in place of the platform's capture device and mixer.
    explicit Gui(HINSTANCE instance = ::GetModuleHandleA(nullptr), engine::EngineSeams seams = {});
    ~Gui() override;
    Gui(const Gui&) = delete;
    Gui& operator=(const Gui&) = delete;

    void initialize(const char* commandLine, int32_t showState);
    // Before initialize: a start by a command shows no dialog, not even the
    // first run's (the capture is loopback where nothing was calibrated).
    void startQuietly() noexcept { quietStart = true; }

    // A command of the command line or the command pipe (gui_commands.cpp).
    command::Reply runCommand(const command::Command& order);
    // The recording hotkey, registered for the user-interface thread (its
    // WM_HOTKEY comes without a window, so no other program can post it to
    // one): starts a recording as --record without PATH does, or ends the
    // one under way. The menu's dialog changes it.
    static constexpr int kHotkeyId = 1;
    void hotkeyPressed();
    void chooseHotkey();

    // The recording control.
    void toggleRecording();
    void beginRecord();
    void endRecord();
    void abortRecord();
    // The program ends: a recording under way is completed (a file was
    // chosen) or dropped (none was), and a completed one gets its log line.
    void closeRecording();

    // The end of the Windows session (log-off, restart, an update), and the
    // console's close and log-off events, which come the same way. Asked
    // whether the session may end, the answer is yes: a recording under way
    // tells Windows why a moment is needed, and an open options dialog is
    // taken as OK with what it shows. When the session ends, the recording is
    // completed before the call returns, without a message box, and the
    // events file is written; then the program ends. A cancelled end changes
    // nothing.
    bool queryEndSession();
    void endSession(bool ending);

    void calibrateSoundCard();
    // The settings: the engine's record, read from the store once at the
    // start; a change goes through storeSettings. Reads no registry.
    // Valid once initialize has made the engine.
    const Settings& currentSettings() const { return recordingEngine->settings(); }
    void saveWindowPosition();

    // What the worker threads report, on this thread.
    void receive(const Letter& letter) override;
    void CrashStopReminder(const kit::shared_string& message);
    void TimeReminder();
    void SpaceReminder(bool stop);

    // Main window, tray icon and menu.
    void createMainWindow();
    void showMainWindow(int showState);
    void hideMainWindow() { showMainWindow(SW_HIDE); }
    bool isMainWindowVisible() const;
    HWND mainWindowHandle();
    void updateTrayIcon();
    void TrackPopup();
    void menuCommand(UINT id);
    void setMenuItemState(UINT id, bool checked);
    // The tray tip and the menu's last item name what is (or will be) recorded.
    void showSource();
    void openFolderLink();
    void exit();

    // Messages of the main window and the notification window.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

    // For tests that look inside.
    kit::PatternedWindow* getMainWindow() const noexcept { return mainWindow.get(); }
    kit::PatternedButton* getRecordButton() const noexcept { return recordButton.get(); }
    kit::TransparentWindow* getNotificationWindow() const noexcept { return notification.get(); }
    kit::TrayIcon* getTrayIcon() const noexcept { return trayIcon.get(); }
    FileSaveDialog* getSaveDialog() const noexcept { return saveDialog.get(); }
    HMENU getContextMenu() const noexcept { return resources.contextMenu; }
    HWND getMailbox() const noexcept { return mailbox ? mailbox->window() : nullptr; }
    WaitDialog* getEndWait() const noexcept { return endWait.get(); }
    bool isLinkPending() const noexcept { return linkPending; }
    RecordingState recordingState() const noexcept { return state; }
    bool isEndingRecord() const noexcept {
        return state == RecordingState::Completing || state == RecordingState::Completed;
    }
    const std::string& getOpenFolderCommand() const noexcept { return openFolderCommand; }
    engine::Engine& engineForTests() noexcept { return *recordingEngine; }

private:
    struct Resources {
        kit::ScopedBitmap skin;
        kit::ScopedBitmap idleButton;
        kit::ScopedBitmap litButton;
        kit::ScopedBitmap darkButton;
        kit::ScopedBitmap logo;
        HICON recordingIcon = nullptr;  // shared icons of the module: never destroyed
        HICON idleIcon = nullptr;
        kit::ScopedMenu menu;
        HMENU contextMenu = nullptr;  // part of `menu`
    };

    void loadResources();
    void loadBitmaps();
    void loadIconsAndMenu();
    void applySettings();
    void initTray();
    void enter(RecordingState next);
    bool recordingUnderWay() const noexcept {
        return state == RecordingState::Choosing || state == RecordingState::Recording;
    }
    bool startCapture(bool tell = true);  // `tell`: a failure is said in a message box
    void chooseOutput();
    // `failure`: where the reason goes when the file cannot be made; null: a message box says it.
    bool adoptOutput(const FileSaveDialog& dialog, std::string* failure = nullptr);
    command::Reply commandRecord(const command::Command& order);
    command::Reply commandStop();
    command::Reply commandStatus();
    void openCommandChannel();
    bool registerHotkey(int32_t code);  // false: another program holds it; the old one stays
    void takeShownOptions();
    static void noteSessionWindow(HWND window) noexcept;  // the console's events go there
    // Nothing is shown that waits for a click: the program or the session ends.
    bool quiet() const noexcept { return closing || sessionEnding; }
    void recordingFinished();
    void completeRecording();
    void offerFolderLink(const std::string& partsText);
    void dropFolderLink();
    void recordingTick();
    kit::shared_string recordingText();  // the time, or what the recording needs said instead
    void meterTick();
    void hideMeters();
    void hintEnd();
    void notificationRevert();
    void finishCalibration();
    void showStartUpDialog();
    void showMessage(const kit::shared_string& text);
    void showProblem(const char* text);  // the engine's words for a failure, when it has any
    void showText(const char* text);
    void backToLogo();
    void enableCalibration(bool enable);
    void keepAwake(bool awake);
    void killTimer(HWND window, UINT_PTR id);
    void setTimerOrThrow(HWND window, UINT_PTR id, UINT ms, const char* function);
    void storeSettings(const Settings& changed);

    Resources resources;  // before the windows that show them: they go after them
    kit::smartptr<kit::PatternedWindow> mainWindow;
    kit::smartptr<kit::PatternedButton> recordButton;
    kit::smartptr<WaitDialog> calibrationWait;
    kit::smartptr<WaitDialog> endWait;
    kit::smartptr<FileSaveDialog> saveDialog;
    kit::smartptr<kit::TransparentWindow> notification;
    kit::smartptr<kit::Timer> stopwatch;
    kit::smartptr<kit::WinLog> log;
    bool initialized = false;
    RecordingState state = RecordingState::Idle;
    bool closing = false;        // the program ends: nothing new is shown
    bool sessionEnding = false;  // Windows has asked to end the session: no message box
    bool stopRequested = false;
    bool linkPending = false;
    kit::shared_string stopMessage;
    kit::smartptr<kit::TrayIcon> trayIcon;
    std::string openFolderCommand;
    kit::smartptr<TrayIconHandler> trayHandler;
    std::string commandLine;
    int32_t showState = SW_SHOWNORMAL;

    HINSTANCE programInstance;
    std::unique_ptr<Mailbox> mailbox;  // what the worker threads report
    MailboxEngineEvents engineEvents;
    engine::EngineSeams engineSeams;
    std::unique_ptr<engine::Engine> recordingEngine;  // after the mailbox: it ends first
    bool keepingAwake = false;                        // the system is asked not to sleep
    kit::MeterLevels meters;                          // what the meters show
    uint32_t silencesShown = 0;                       // silences of the recording said so far
    bool sourceItemAdded = false;
    bool quietStart = false;
    kit::smartptr<command::Server> commandServer;  // the command pipe
    int32_t hotkeyHeld = 0;                        // the hotkey registered (settings' code), 0: none
};
