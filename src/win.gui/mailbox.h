// The worker-to-UI mailbox: how the engine's worker threads reach the user
// interface.
//
// The engine calls four plain functions on its worker threads: the capture
// thread when the output is too slow, the finalizer when a recording's file
// is complete, the 30-minute reminder and the disk-space watcher. None of
// them touches a window, a timer or the Gui: each puts a letter into the
// mailbox, a queue inside this process, and wakes the user-interface thread
// with a message to the mailbox's message-only window. The message carries
// nothing; the letters never leave the process. So a message that another
// program sends or posts to the window (it can find it with FindWindowEx)
// only makes the mailbox look into its own queue.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>

#include "diagnostics/window_procedure.h"
#include "engine/engine.h"
#include "kit/threads.h"

// What a worker thread reports.
struct Letter {
    enum Kind {
        RecordingDone,  // the finalizer has completed the recording
        CrashStop,      // the output is too slow: the recording must stop; `text` says why
        TimeReminder,   // 30 minutes are over
        SpaceWarning,   // the disk of the output file runs low
        SpaceStop,      // the disk of the output file is full: the recording must stop
        Command,        // the command pipe holds a request (win.gui/command_channel.h)
    };
    Kind kind;
    std::string text;
};

// Takes the letters, on the user-interface thread.
class LetterReceiver {
public:
    virtual void receive(const Letter& letter) = 0;

protected:
    ~LetterReceiver() = default;
};

class Mailbox {
public:
    static constexpr const char* kClassName = "Sonotape.Mailbox";
    // The wake-up. Posted by this process only; from anywhere else it does no harm.
    static constexpr UINT kWake = WM_APP + 1;

    // Made on the user-interface thread; letters posted from now on reach `receiver`.
    Mailbox(HINSTANCE instance, LetterReceiver& receiver);
    // Letters still waiting are dropped; later ones are refused.
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    HWND window() const noexcept { return hWnd; }

    // Any thread: puts the letter into the open mailbox and wakes its thread.
    // False when there is no mailbox (the letter is dropped).
    static bool post(Letter letter);

    // User-interface thread: hands every waiting letter to the receiver, in
    // the order they were posted.
    void deliver();
    // Waits until a letter is posted (or was posted since the last wait).
    bool waitForLetter(DWORD milliseconds);

    // What the window procedure needs: the window answers only its wake-up.
    static constexpr fw::CatchSite kCatchSite = origins::kMailboxCatch;
    static Mailbox* attach(HWND, void* creationParameter) noexcept { return static_cast<Mailbox*>(creationParameter); }
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled);
    void detach(HWND) noexcept {}

private:
    bool take(Letter& letter);

    LetterReceiver& receiver;
    std::deque<Letter> letters;  // guarded by the process's mailbox lock
    kit::WCondition posted;
    HWND hWnd = nullptr;
};

// What the engine's worker threads report, each as a letter to the mailbox.
class MailboxEngineEvents : public engine::EngineEvents {
public:
    void mustStop(const std::string& reason) override;
    void halfHourRecorded() override;
    void diskSpaceLow(bool mustStop) override;
    void recordingFinished() override;
};
