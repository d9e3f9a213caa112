#include "driver.h"

#include <iterator>

#include "kit/text_code.h"

#include "support/support.h"
#include "support/ui.h"

namespace driver {
namespace {

constexpr UINT kSendTimeoutMs = 5000;

LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

struct Search {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == s->processId && (!s->visibleOnly || ::IsWindowVisible(window))) s->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> windowsOf(DWORD processId, bool visibleOnly) {
    Search s{processId, visibleOnly, {}};
    ::EnumWindows(&collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string className(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string windowText(HWND window) {
    char text[2048] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND findWindow(DWORD processId, const char* cls, const char* title, bool visibleOnly) {
    for (HWND w : windowsOf(processId, visibleOnly)) {
        if (cls && className(w) != cls) continue;
        if (title && windowText(w) != title) continue;
        return w;
    }
    return nullptr;
}

HWND waitWindow(DWORD processId, const char* cls, const char* title, DWORD timeoutMs) {
    HWND found = nullptr;
    testsupport::waitUntil([&] { return (found = findWindow(processId, cls, title)) != nullptr; }, timeoutMs);
    return found;
}

bool waitGone(HWND window, DWORD timeoutMs) {
    return testsupport::waitUntil([&] { return !::IsWindow(window) || !::IsWindowVisible(window); }, timeoutMs);
}

HWND childOf(HWND parent, const char* cls) {
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
        if (className(c) == cls) return c;
    return nullptr;
}

std::string itemText(HWND dialog, int id) {
    // WM_GETTEXT reaches the control itself; GetWindowText would answer the
    // title kept for a window of another process. Wide text, in this
    // program's code page.
    wchar_t text[2048] = {};
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(::GetDlgItem(dialog, id), WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                          SMTO_NORMAL, kSendTimeoutMs, &result);
    return kit::narrow(text);
}

bool isChecked(HWND dialog, int id) { return send(::GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED; }

bool isEnabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

void clickItem(HWND dialog, int id) { send(::GetDlgItem(dialog, id), BM_CLICK); }

void typeInto(HWND dialog, int id, const std::string& text) {
    HWND edit = ::GetDlgItem(dialog, id);
    send(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    send(edit, EM_SETSEL, 0, -1);
    // One character message per UTF-16 unit (a surrogate pair as two), as
    // the keyboard sends them to a Unicode edit box.
    for (wchar_t c : kit::widen(text)) {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(edit, WM_CHAR, c, 1, SMTO_NORMAL, kSendTimeoutMs, &result);
    }
}

std::string messageBoxText(HWND box) { return itemText(box, 0xFFFF); }

void click(HWND window, bool rightButton) { testsupport::mouseClick(testsupport::centreOf(window), rightButton); }

void doubleClick(HWND window) { testsupport::mouseDoubleClick(testsupport::centreOf(window)); }

void pressKey(HWND window, UINT vk) {
    UINT scan = ::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    ::PostMessageA(window, WM_KEYDOWN, vk, 1 | (scan << 16));
    ::PostMessageA(window, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
    testsupport::pumpFor(100);
}

void typeChar(HWND window, char c) {
    ::PostMessageA(window, WM_CHAR, static_cast<unsigned char>(c), 1);
    testsupport::pumpFor(100);
}

// Menus are top-level windows of the class "#32768"; hidden ones of menus
// closed earlier may come first.
HWND visibleMenu() {
    HWND found = nullptr;
    for (HWND w = ::FindWindowExA(nullptr, nullptr, "#32768", nullptr); w;
         w = ::FindWindowExA(nullptr, w, "#32768", nullptr))
        if (::IsWindowVisible(w)) found = w;
    return found;
}

HWND waitMenu(DWORD timeoutMs) {
    HWND menu = nullptr;
    testsupport::waitUntil([&] { return (menu = visibleMenu()) != nullptr; }, timeoutMs);
    return menu;
}

bool waitMenuClosed(DWORD timeoutMs) {
    return testsupport::waitUntil([] { return visibleMenu() == nullptr; }, timeoutMs);
}

std::vector<HWND> trayIconWindows() { return testsupport::trayIconWindows(); }

}  // namespace driver
