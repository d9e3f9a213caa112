#include "win.dialogs/small_dialogs.h"

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "resource.h"

namespace {
constexpr const char* kTraceSource = "win.dialogs/small_dialogs";
}  // namespace

// ---- WaitDialog ---------------------------------------------------------------------------

WaitDialog::WaitDialog(HINSTANCE instance_, int templateId_) : DialogWindow(instance_, templateId_, nullptr) {}

WaitDialog::~WaitDialog() { FW_TRACE("~WaitDialog"); }

INT_PTR WaitDialog::ShowDialog() {
    FW_TRACE("ShowDialog()");
    if (hDlg && ::IsWindow(hDlg)) {
        // Already there: a second window would orphan the first.
        ::ShowWindow(hDlg, SW_SHOWNORMAL);
        return 0;
    }
    hDlg = ::CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), owner, CustomDialogWindow::dialogProc,
                                reinterpret_cast<LPARAM>(static_cast<CustomDialogWindow*>(this)));
    if (!hDlg) {
        FW_TRACE("ShowDialog() fault.");
        kit::setOrigin(kTraceSource, __LINE__, "WaitDialog::ShowDialog");
        throw kit::WindowsError("Dialog box error.");
    }
    shown = true;
    ::ShowWindow(hDlg, SW_SHOWNORMAL);
    return 0;
}

void WaitDialog::hide() {
    if (hDlg && ::IsWindow(hDlg)) {
        ::ShowWindow(hDlg, SW_HIDE);
        ::DestroyWindow(hDlg);
        hDlg = nullptr;
        shown = false;
        FW_TRACE("hidden");
    } else {
        FW_TRACE("Try to hide invalid dialog!");
    }
}

// ---- StartUpDialog ------------------------------------------------------------------------

StartUpDialog::StartUpDialog(HINSTANCE instance_) : DialogWindow(instance_, IDD_STARTUP, nullptr) {}

void StartUpDialog::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result, bool&) {
    if (message == WM_INITDIALOG) {
        ::CheckDlgButton(hDlg, IDC_SHOW_ON_STARTUP, showAtStart ? BST_CHECKED : BST_UNCHECKED);
        result = TRUE;
    } else if (message == WM_COMMAND) {
        WORD id = LOWORD(wParam);
        if (id == IDC_SHOW_ON_STARTUP)
            showAtStart = ::IsDlgButtonChecked(hDlg, IDC_SHOW_ON_STARTUP) == BST_CHECKED;
        else if (id == IDOK || id == IDCANCEL)
            endDialog(id);
    }
}

// ---- VarTextDialog ------------------------------------------------------------------------

VarTextDialog::VarTextDialog(HINSTANCE instance_) : DialogWindow(instance_, IDD_VAR_TEXT, nullptr) {}

void VarTextDialog::setText(const kit::shared_string& newText) {
    text = newText;
    if (hDlg && ::IsWindow(hDlg)) ::SetDlgItemTextA(hDlg, IDC_MESSAGE_TEXT, text.c_str());
}

void VarTextDialog::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result, bool&) {
    if (message == WM_INITDIALOG) {
        ::SetDlgItemTextA(hDlg, IDC_MESSAGE_TEXT, text.c_str());
        result = TRUE;
    } else if (message == WM_COMMAND) {
        WORD id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL) endDialog(id);
    }
}

// ---- AboutDialog --------------------------------------------------------------------------

AboutDialog::AboutDialog(HINSTANCE instance_, int templateId_, HWND owner_)
    : DialogWindow(instance_, templateId_, owner_) {}

void AboutDialog::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result, bool&) {
    if (message == WM_INITDIALOG) result = TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) endDialog(IDOK);
}
