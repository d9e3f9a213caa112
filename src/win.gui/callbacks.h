// What reaches the user interface from other threads.
//
// The engine calls four plain functions on its worker threads: the capture
// thread when the output is too slow, the finalizer when a recording's file
// is complete, the 30-minute reminder and the disk-space watcher. None of
// them touches a window, a timer or the Gui: each posts a private message to
// the Gui's mailbox, a hidden window of the user-interface thread, whose
// queue keeps the order in which the events happened. The Gui carries them
// out when its thread takes the message.
#pragma once

#include <windows.h>

#include <cstdint>

class Gui;

namespace gui_process {

// The program's instance handle, set once by the entry point.
HINSTANCE instance() noexcept;
void setInstance(HINSTANCE instance) noexcept;

// The one Gui, set by the entry point right after it is made.
Gui* theGui() noexcept;
void setTheGui(Gui* gui) noexcept;

// The window the callbacks post to; null while there is none (messages are
// then dropped).
void setMailbox(HWND window) noexcept;
HWND mailbox() noexcept;

// The private messages.
constexpr UINT kRecordingDone = WM_APP + 1;     // the finalizer is done
constexpr UINT kCrashStop = WM_APP + 2;         // lParam: a new std::string with the message, the receiver deletes it
constexpr UINT kTimeReminder = WM_APP + 3;      // 30 minutes are over
constexpr UINT kSpaceReminder = WM_APP + 4;     // wParam: 1 the recording must stop, 0 a warning

}  // namespace gui_process

// The engine's callbacks (they run on worker threads).
void CrashStop_Reminder_Func(const char* message);
void finishNotifier(void* unused);
void timeReminderProc(int unused);
void spaceReminderProc(uint64_t* freeBytes);
