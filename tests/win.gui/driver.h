// A small driver that uses a program as a person would: it finds the
// program's windows by class and title, clicks with real mouse input, presses
// keys on menus and dialogs, types text into edit boxes and reads what
// windows and message boxes say. It works on the windows of another process
// (the real sonotape.exe) as well as on this process's own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

// The top-level windows of a process (visible ones only, unless asked).
std::vector<HWND> windowsOf(DWORD processId, bool visibleOnly = true);
// A top-level window of the process with that class and title (null: any);
// null when there is none.
HWND findWindow(DWORD processId, const char* className, const char* title, bool visibleOnly = true);
// Waits (pumping this thread's messages) for such a window; null on time-out.
HWND waitWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs = 10000);
// Waits until the window is gone or hidden.
bool waitGone(HWND window, DWORD timeoutMs = 10000);

std::string className(HWND window);
std::string windowText(HWND window);
// The first child window of a class, or null.
HWND childOf(HWND parent, const char* className);

// Dialog controls, through the messages a person's actions make.
std::string itemText(HWND dialog, int id);
bool isChecked(HWND dialog, int id);
bool isEnabled(HWND dialog, int id);
// A click on a push button, radio button or check box.
void clickItem(HWND dialog, int id);
// The keyboard focus to the control, everything in it selected, then the text typed.
void typeInto(HWND dialog, int id, const std::string& text);
// The text of a message box.
std::string messageBoxText(HWND box);

// Real mouse input at the centre of a window (or at a point).
void click(HWND window, bool rightButton = false);
void doubleClick(HWND window);

// Keys pressed while a window has the keyboard (a menu, a dialog).
void pressKey(HWND window, UINT virtualKey);
void typeChar(HWND window, char c);

// The open popup menu ("#32768"), or null when none appears in time.
HWND visibleMenu();
HWND waitMenu(DWORD timeoutMs = 5000);
bool waitMenuClosed(DWORD timeoutMs = 5000);

// The icon windows of the stand-alone tray that Wine's explorer shows
// without a desktop shell.
std::vector<HWND> trayIconWindows();

}  // namespace driver
