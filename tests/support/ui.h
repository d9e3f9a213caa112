// Driving windows as a user would: real mouse input through SendInput, and
// waiting for windows to appear.
#pragma once

#include <windows.h>

#include <vector>

namespace testsupport {

// Pumps this thread's messages for `ms` milliseconds.
void pumpFor(DWORD ms);

// Mouse input at screen positions (the cursor is moved there first).
void mouseClick(POINT at, bool rightButton = false);
void mouseDoubleClick(POINT at);

// The centre of a window's rectangle on the screen.
POINT centreOf(HWND window);

// Waits (pumping messages) for a top-level window of that class and title; null on time-out.
HWND waitForWindow(const char* className, const char* title, DWORD timeoutMs = 5000);

// The icons of Wine's notification area, one window each: in its task bar
// ("Shell_TrayWnd", Wine 10), else the shown ones of its stand-alone tray
// window (older Wine).
std::vector<HWND> trayIconWindows();

}  // namespace testsupport
