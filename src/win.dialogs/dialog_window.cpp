#include "win.dialogs/dialog_window.h"

#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "win.dialogs/dialog_window";
}  // namespace

CustomDialogWindow::~CustomDialogWindow() {
    FW_TRACE("~CustomDialogWindow");
    if (hDlg && ::IsWindow(hDlg) &&
        reinterpret_cast<CustomDialogWindow*>(::GetWindowLongPtrA(hDlg, GWLP_USERDATA)) == this) {
        ::SetWindowLongPtrA(hDlg, GWLP_USERDATA, 0);
        ::DestroyWindow(hDlg);
    }
}

void CustomDialogWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
    static constexpr HandlerTable::Origin kNullEntry{kTraceSource, __LINE__, "kit::CustomDialogWindow::handleMessage"};
    if (!handlers.dispatch(message, wParam, lParam, result, handled, kNullEntry)) FW_TRACE("CustomWindow: No handler!");
}

CustomDialogWindow* CustomDialogWindow::attach(HWND hwnd, void* creationParameter) noexcept {
    auto* self = static_cast<CustomDialogWindow*>(creationParameter);
    if (self) self->hDlg = hwnd;
    FW_TRACE("WM_INITDIALOG, wnd = %p", static_cast<void*>(self));
    FW_TRACE("WM_INITDIALOG, hWnd = %p", static_cast<void*>(hwnd));
    return self;
}

void CustomDialogWindow::detach(HWND hwnd) noexcept {
    if (hDlg == hwnd) hDlg = nullptr;
}

DialogWindow::DialogWindow(HINSTANCE instance_, int templateId_, HWND owner_)
    : templateId(templateId_), instance(instance_), owner(owner_ ? owner_ : ::GetDesktopWindow()) {
    setDefaultHandler(this);
}

INT_PTR DialogWindow::ShowDialog() {
    FW_TRACE("ShowDialog()");
    shown = true;
    auto self = reinterpret_cast<LPARAM>(static_cast<CustomDialogWindow*>(this));
    INT_PTR code =
        unicodeWindows
            ? ::DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, CustomDialogWindow::dialogProc, self)
            : ::DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, CustomDialogWindow::dialogProc, self);
    shown = false;
    if (code == -1) {
        FW_TRACE("ShowModalDialog() fault.");
        setOrigin(kTraceSource, __LINE__, "kit::DialogWindow::ShowDialog");
        throw WindowsError("Dialog box error.");
    }
    return code;
}

void DialogWindow::close() {
    shown = false;
    if (hDlg && ::IsWindow(hDlg)) ::EndDialog(hDlg, IDCANCEL);
}

void DialogWindow::endDialog(INT_PTR code) {
    shown = false;
    ::EndDialog(hDlg, code);
}

void DialogWindow::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&, bool&) {
    if (message != WM_COMMAND) return;
    WORD id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) endDialog(id);
}

}  // namespace kit
