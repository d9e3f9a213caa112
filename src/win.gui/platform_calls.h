// The user interface's calls that leave the program: shutting the computer
// down after a timed recording, opening a folder or page with the shell,
// starting the folder browser, asking the system not to sleep while a
// recording runs, and the warning after a recording that lost sound (a
// message box the user must dismiss). The program goes straight to the platform;
// a test program that runs the user interface in its own process installs
// its own calls here, so that it observes them instead of ending the
// session or opening windows. Nothing outside the process can change them:
// no switch, no setting, no environment variable.
#pragma once

#include <windows.h>

#include "kit/clock.h"

namespace gui_platform {

using ShutdownCall = void (*)();
// The shell and the command line take wide text: the program's text is
// converted (kit::widen) before the call.
using ShellOpenCall = void (*)(HWND owner, const wchar_t* target, int show);
using RunCommandCall = void (*)(const wchar_t* commandLine, int show);
using ExecutionStateCall = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE state);
using NoticeCall = void (*)(HWND owner, const char* text);

// Shuts the computer down through the installed call.
void shutdownComputer();
// ShellExecuteW with no verb, no parameters and no directory.
void shellOpen(HWND owner, const char* target, int show);
// A new process of the command line, its window shown as `show` (as WinExec does).
void runCommand(const char* commandLine, int show);
// While `awake`, the system does not sleep (the display may still turn off):
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) on the calling
// thread, which owns the request; ES_CONTINUOUS alone releases it.
void keepSystemAwake(bool awake);
// A message box "Sonotape" with the warning icon.
void showNotice(HWND owner, const char* text);

// The clock of the recording's time (its limit): the system's tick count.
kit::TickSource recordingClock() noexcept;

// The platform's own shutdown: the shutdown privilege for this process, then
// ExitWindowsEx(EWX_SHUTDOWN). A failing step throws WindowsError named after
// the platform call.
void platformShutdown();

namespace testing {
// A null call restores the platform's.
void setShutdownCall(ShutdownCall call) noexcept;
void setShellOpenCall(ShellOpenCall call) noexcept;
void setRunCommandCall(RunCommandCall call) noexcept;
void setExecutionStateCall(ExecutionStateCall call) noexcept;
void setNoticeCall(NoticeCall call) noexcept;
// For a Gui made from now on; null: the system's.
void setRecordingClock(kit::TickSource clock) noexcept;
}  // namespace testing

}  // namespace gui_platform
