// Drives a dialog as a user would: the dialog runs modally on a thread of its
// own, the test sends it what mouse and keyboard would make.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "win.dialogs/dialog_window.h"

class ModalRun {
public:
    // Shows the dialog modally on a new thread and waits until its window is visible.
    ModalRun(kit::DialogWindow& dialog, const char* title);
    ~ModalRun();  // ends a dialog that is still open
    ModalRun(const ModalRun&) = delete;
    ModalRun& operator=(const ModalRun&) = delete;

    HWND window() const { return dlg; }
    HWND item(int id) const { return ::GetDlgItem(dlg, id); }
    // The dialog's result once it has ended; -2 when it did not end in time.
    INT_PTR result(DWORD timeoutMs = 3000);
    bool ended() const { return done.load(); }

    // Keyboard focus to a control, as Tab would move it.
    void focus(int id) const;
    // Focus to the control, everything in it selected, then the characters typed.
    void type(int id, const std::string& text) const;
    // A click on a button (push, radio or check box).
    void click(int id) const;
    bool checked(int id) const;
    std::string text(int id) const;

private:
    kit::DialogWindow& dialog;
    std::atomic<bool> done{false};
    INT_PTR code = -2;
    std::thread thread;
    HWND dlg = nullptr;
};

// The text of the first static control of a window that holds `part`, or "".
std::string staticTextContaining(HWND dialog, const char* part);
