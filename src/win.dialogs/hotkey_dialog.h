// The recording hotkey's dialog (template IDD_HOTKEY): a hotkey control that
// shows the current key and takes the new one. The code is the settings'
// (MOD_* * 256 + virtual key).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win.dialogs/dialog_window.h"

class HotkeyDialog : public kit::DialogWindow {
public:
    HotkeyDialog(HINSTANCE instance, int32_t code);
    int32_t getCode() const noexcept { return code; }
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    int32_t code;
};

// The settings' code and the hotkey control's word (HOTKEYF_* * 256 + virtual key), both ways.
int32_t hotkeyCodeFromControl(WORD word) noexcept;
WORD hotkeyControlFromCode(int32_t code) noexcept;

// The hotkey as people read it: "Ctrl+Alt+R", "Shift+F9"; "none" for 0.
std::string hotkeyText(int32_t code);
// What is said when another program holds the hotkey.
std::string hotkeyTakenMessage(int32_t code);
