// Internal: what the notice registry, the frame and the panel share.
#pragma once

#include <windows.h>

#include <new>

#include "diagnostics/problem_windows.h"

namespace fw::detail {

// One problem window: the owner window it belongs to, the frame, and the
// number of notices it shows. A slot with count 0 is free.
struct ProblemSlot {
    HWND owner = nullptr;
    HWND window = nullptr;
    int count = 0;
};

// What fw::windowProcedure needs from the object of a problem window (frame
// or panel): the window makes it at creation and hands every message to its
// handle(); the object deletes itself at WM_DESTROY. The object befriends
// this base for its constructor from the window and its handle().
template <class Object>
class WindowObject {
public:
    static Object* attach(HWND hwnd, void*) noexcept { return new (std::nothrow) Object(hwnd); }
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) {
        result = static_cast<Object*>(this)->handle(message, wParam, lParam);
        handled = true;
    }
    void detach(HWND) noexcept {}
};

// Made at initialisation and kept for the life of the process.
struct ProblemResources {
    HICON warning = nullptr;
    HFONT normalFont = nullptr;
    HFONT boldFont = nullptr;
};
const ProblemResources& problemResources() noexcept;

// The requests and the slots. Slot operations run under the windows lock.
class ProblemWindows {
public:
    static void request(ProblemNotice& notice, bool show);
    // Diagnostics thread.
    static void showHere(ProblemNotice& notice);
    static void hideHere(ProblemNotice& notice);
    static void closeAllHere();
    // The panel, after the user chose "Hide this message" and the notice's
    // entry is gone: marks the notice dismissed and releases it from its
    // slot. True when that destroyed the frame (and the panel with it).
    static bool dismiss(ProblemNotice& notice);
    static const char* text(ProblemNotice& notice) { return notice.text(); }
};

bool registerFrameClass(HINSTANCE instance) noexcept;
bool registerPanelClass(HINSTANCE instance) noexcept;
// Diagnostics thread: a new, hidden frame under `parent` for notices of `owner`.
HWND createFrame(HWND parent, HWND owner) noexcept;

}  // namespace fw::detail
