#include "win.dialogs/hotkey_dialog.h"

#include <commctrl.h>

#include "resource.h"

std::string hotkeyText(int32_t code) {
    if (code == 0) return "none";
    const int32_t modifiers = code / 256;
    const UINT key = static_cast<UINT>(code & 0xFF);
    std::string text = std::string((modifiers & MOD_CONTROL) ? "Ctrl+" : "") + ((modifiers & MOD_ALT) ? "Alt+" : "") +
                       ((modifiers & MOD_SHIFT) ? "Shift+" : "");
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return text + static_cast<char>(key);
    if (key >= VK_F1 && key <= VK_F24) return text + "F" + std::to_string(key - VK_F1 + 1);
    char name[64] = {};
    LONG scan = static_cast<LONG>(::MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
    if (::GetKeyNameTextA(scan, name, sizeof name) > 0) return text + name;
    return text + "key " + std::to_string(key);
}

std::string hotkeyTakenMessage(int32_t code) {
    return "Another program holds the hotkey " + hotkeyText(code) +
           ", so it does not start a recording. Choose another one in the menu: Recording hotkey...";
}

int32_t hotkeyCodeFromControl(WORD word) noexcept {
    const BYTE flags = HIBYTE(word);
    int32_t modifiers = ((flags & HOTKEYF_ALT) ? MOD_ALT : 0) | ((flags & HOTKEYF_CONTROL) ? MOD_CONTROL : 0) |
                        ((flags & HOTKEYF_SHIFT) ? MOD_SHIFT : 0);
    return LOBYTE(word) == 0 ? 0 : modifiers * 256 + LOBYTE(word);
}

WORD hotkeyControlFromCode(int32_t code) noexcept {
    const int32_t modifiers = code / 256;
    BYTE flags = static_cast<BYTE>(((modifiers & MOD_ALT) ? HOTKEYF_ALT : 0) |
                                   ((modifiers & MOD_CONTROL) ? HOTKEYF_CONTROL : 0) |
                                   ((modifiers & MOD_SHIFT) ? HOTKEYF_SHIFT : 0));
    return MAKEWORD(static_cast<BYTE>(code & 0xFF), flags);
}

HotkeyDialog::HotkeyDialog(HINSTANCE instance_, int32_t code_)
    : DialogWindow(instance_, IDD_HOTKEY, nullptr), code(code_) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_HOTKEY_CLASS};
    ::InitCommonControlsEx(&controls);
}

void HotkeyDialog::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result, bool&) {
    if (message == WM_INITDIALOG) {
        ::SendDlgItemMessageA(hDlg, IDC_HOTKEY, HKM_SETHOTKEY, hotkeyControlFromCode(code), 0);
        result = TRUE;
    } else if (message == WM_COMMAND) {
        WORD id = LOWORD(wParam);
        if (id == IDOK)
            code =
                hotkeyCodeFromControl(static_cast<WORD>(::SendDlgItemMessageA(hDlg, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0)));
        if (id == IDOK || id == IDCANCEL) endDialog(id);
    }
}
