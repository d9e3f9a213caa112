// The program's smaller dialogs: the two please-wait boxes (modeless), the
// welcome dialog, a message with changeable text and the About box.
#pragma once

#include <windows.h>

#include "kit/shared_string.h"
#include "win.dialogs/dialog_window.h"

// A modeless please-wait box (template 101: calibration, 105: end of recording).
class WaitDialog : public kit::DialogWindow {
public:
    WaitDialog(HINSTANCE instance, int templateId);
    ~WaitDialog() override;

    // Modeless: creates the dialog window and shows it; returns 0.
    INT_PTR ShowDialog() override;
    // Hides and destroys the dialog window when there is one.
    void hide();
};

// The welcome dialog (template 109) with its "Show this on startup" box.
class StartUpDialog : public kit::DialogWindow {
public:
    explicit StartUpDialog(HINSTANCE instance);
    bool showOnStartup() const noexcept { return showAtStart; }
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    bool showAtStart = true;
};

// A message whose text can be changed (template 113).
class VarTextDialog : public kit::DialogWindow {
public:
    explicit VarTextDialog(HINSTANCE instance);
    // Stores the text and shows it when the dialog window exists.
    void setText(const kit::shared_string& newText);
    const kit::shared_string& getText() const noexcept { return text; }
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    kit::shared_string text{"<no text>"};
};

// The About box (template 107). Only OK closes it.
class AboutDialog : public kit::DialogWindow {
public:
    AboutDialog(HINSTANCE instance, int templateId, HWND owner = nullptr);
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;
};
