// The problem notice and the problem windows that show it.
//
// An ERR event raises the program's problem notice: a small window slides in
// at the right edge of the screen with the problem text and two links, "Send
// problem report" (opens the events file) and "Hide this message". The windows
// live on the diagnostics thread; other threads only post requests to it.
#pragma once

#include <windows.h>

namespace fw {

struct ProblemNotice;

// The program's one notice (no delivery window, no owner window).
ProblemNotice& programNotice();

// Initialisation of the event log calls this; false ends the program.
bool initialiseProblemWindows();

// Any thread but the diagnostics thread: show or hide a notice and wait until
// the diagnostics thread has done it.
void requestNotice(ProblemNotice& notice, bool show);

// Hides (animated) and destroys every problem window.
void closeAllProblemWindows();

// The end of a fatal boundary: opens the events file for the user, closes the
// problem windows and ends the process with exit code 13.
[[noreturn]] void terminateAfterReport();

// Diagnostics thread: thread messages WM_USER+1 (show) and WM_USER+2 (hide)
// carry the notice in lParam.
void handleNoticeThreadMessage(UINT message, LPARAM lParam);

}  // namespace fw
