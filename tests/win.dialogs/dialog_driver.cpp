#include "dialog_driver.h"

#include "support/support.h"
#include "support/ui.h"

ModalRun::ModalRun(kit::DialogWindow& dialog, const char* title) : dialog(dialog) {
    thread = std::thread([this] {
        try {
            code = this->dialog.ShowDialog();
        } catch (...) {
            code = -3;
        }
        done = true;
    });
    testsupport::waitUntil(
        [&] {
            HWND h = dialog.getHandle();
            if (h && ::IsWindowVisible(h)) {
                char caption[128] = {};
                ::GetWindowTextA(h, caption, sizeof caption);
                if (std::string(caption) == title) dlg = h;
            }
            return dlg != nullptr || done.load();
        },
        5000);
}

ModalRun::~ModalRun() {
    for (int attempt = 0; attempt < 50 && !done; ++attempt) {
        HWND h = dialog.getHandle();
        if (h) {
            ::PostMessageA(h, WM_COMMAND, IDOK, 0);
            ::PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
        }
        ::Sleep(50);
    }
    if (thread.joinable()) thread.join();
}

INT_PTR ModalRun::result(DWORD timeoutMs) {
    if (!testsupport::waitUntil([&] { return done.load(); }, timeoutMs)) return -2;
    thread.join();
    return code;
}

void ModalRun::focus(int id) const { ::SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(id)), TRUE); }

void ModalRun::type(int id, const std::string& text) const {
    focus(id);
    HWND edit = item(id);
    ::SendMessageA(edit, EM_SETSEL, 0, -1);
    for (char c : text) ::SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void ModalRun::click(int id) const { ::SendMessageA(item(id), BM_CLICK, 0, 0); }

bool ModalRun::checked(int id) const { return ::SendMessageA(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::string ModalRun::text(int id) const {
    char buffer[1100] = {};
    ::GetWindowTextA(item(id), buffer, sizeof buffer);
    return buffer;
}

std::string staticTextContaining(HWND dialog, const char* part) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {}, text[512] = {};
        ::GetClassNameA(child, cls, sizeof cls);
        ::GetWindowTextA(child, text, sizeof text);
        if (std::string(cls) == "Static" && std::string(text).find(part) != std::string::npos) return text;
    }
    return {};
}
