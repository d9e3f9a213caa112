// Dialog boxes made from templates in the program's resources.
//
// CustomDialogWindow connects a platform dialog to an object: the program's one
// dialog procedure (diagnostics/window_procedure.h) takes the object from the
// creation parameter and passes every message to the object's dispatch,
// inside the catch-and-report frame. DialogWindow adds the template, the owner and modal
// display, and is its own default handler.
#pragma once

#include <windows.h>

#include "diagnostics/window_procedure.h"
#include "kit/refcounted.h"
#include "win.windows/message_handler.h"

namespace kit {

class CustomDialogWindow : public refcounted {
public:
    CustomDialogWindow() = default;
    ~CustomDialogWindow() override;  // a dialog window still open is destroyed with its object
    CustomDialogWindow(const CustomDialogWindow&) = delete;
    CustomDialogWindow& operator=(const CustomDialogWindow&) = delete;

    void setDefaultHandler(IMessageHandler* handler) noexcept { handlers.setDefault(handler); }
    void setMessageHandler(UINT message, IMessageHandler* handler) { handlers.set(message, handler); }
    HWND getHandle() const noexcept { return hDlg; }

    // The table's handler for the message first, then the default handler.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled);

    // The one dialog procedure of every dialog of the program.
    static constexpr auto dialogProc = &fw::dialogProcedure<CustomDialogWindow>;

    // What the dialog procedure needs.
    static constexpr fw::CatchSite kCatchSite = origins::kDialogWindowCatch;
    static CustomDialogWindow* attach(HWND hwnd, void* creationParameter) noexcept;
    void detach(HWND hwnd) noexcept;

protected:
    HWND hDlg = nullptr;

private:
    HandlerTable handlers;
};

class DialogWindow : public CustomDialogWindow, public IMessageHandler {
public:
    // `owner` null means the desktop window.
    DialogWindow(HINSTANCE instance, int templateId, HWND owner = nullptr);

    // Modal display; returns the dialog's result (1 OK, 2 Cancel).
    virtual INT_PTR ShowDialog();
    // Ends a modal dialog with Cancel.
    virtual void close();
    bool isShown() const noexcept { return shown; }

    // OK and Cancel end the dialog with 1 and 2.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

protected:
    // shown = false; the dialog ends with `code`.
    void endDialog(INT_PTR code);

    int templateId;
    HINSTANCE instance;
    HWND owner;
    bool shown = false;
    // Made with Unicode windows, so that its edit boxes keep every character
    // typed (an ANSI edit box turns what the code page lacks into "?").
    bool unicodeWindows = false;
};

}  // namespace kit
