// The frame of one problem window (class "FWWindow"): a popup that holds the
// panel, places itself at the screen's edge or under its owner window, and
// slides in and out.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "diagnostics/problem_internal.h"
#include "diagnostics/problem_layout.h"
#include "diagnostics/report.h"
#include "diagnostics/window_procedure.h"

namespace fw::detail {
namespace {

constexpr const char* kTraceSource = "diagnostics/problem_frame";
constexpr const char* kOwnerProperty = "FW.Ptr";

namespace pw = problem_window;

class ProblemFrame : public WindowObject<ProblemFrame> {
public:
    static constexpr fw::CatchSite kCatchSite = origins::kProblemFrameCatch;

private:
    friend class WindowObject<ProblemFrame>;
    explicit ProblemFrame(HWND hwnd_) : hwnd(hwnd_) {}

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate(const CREATESTRUCTA& create);
    void onDestroy();
    void onSize(int width, int height);
    void reposition();
    layout::Box placement();
    void slide(bool in);
    void moveDuringSlide(const RECT& home, int remaining, bool vertical);
    void attachOwner();
    void detachOwner();
    static LRESULT CALLBACK ownerProcedure(HWND owner, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd;
    HWND panel = nullptr;
    std::atomic<HWND> owner{nullptr};  // cleared from the owner's thread when the owner goes
    HFONT font = nullptr;
    WNDPROC ownersProcedure = nullptr;
};

LRESULT ProblemFrame::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: onCreate(*reinterpret_cast<const CREATESTRUCTA*>(lParam)); return 0;
    case WM_DESTROY:
        onDestroy();
        delete this;
        return 0;
    case WM_SIZE: onSize(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == pw::kPanelId && HIWORD(wParam) == 2) reposition();
        return 0;
    case pw::kReposition: reposition(); return 0;
    case pw::kGetPanel: return reinterpret_cast<LRESULT>(panel);
    // Slides are asked for on this thread only.
    case pw::kShowAnimated:
        if (!::InSendMessage() && !::IsWindowVisible(hwnd)) slide(true);
        return 0;
    case pw::kHideAnimated:
        if (!::InSendMessage() && ::IsWindowVisible(hwnd)) slide(false);
        return 0;
    case WM_USER + 3: return 0;
    default: return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

void ProblemFrame::onCreate(const CREATESTRUCTA& create) {
    font = problemResources().normalFont;
    owner = static_cast<HWND>(create.lpCreateParams);
    panel = ::CreateWindowExA(
        0, pw::kPanelClass, "", WS_CHILD | WS_VISIBLE | pw::kShowTitle | pw::kShowHideLink | pw::kFrameShowsPanel, 0, 0,
        0, 0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(pw::kPanelId)), create.hInstance, nullptr);
    if (panel) ::SendMessageA(panel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (owner) attachOwner();
    FW_TRACE("problem window %p created (panel %p, owner %p)", static_cast<void*>(hwnd), static_cast<void*>(panel),
             static_cast<void*>(owner.load()));
}

void ProblemFrame::onDestroy() {
    detachOwner();
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
}

void ProblemFrame::onSize(int width, int height) {
    if (!panel) return;
    layout::Box box = layout::panelInFrame(width, height);
    ::MoveWindow(panel, box.x, box.y, box.width, box.height, TRUE);
}

// The width comes from the owner or the screen; the height from what the
// panel needs at the width it will get there.
layout::Box ProblemFrame::placement() {
    RECT ownerRect;
    HWND current = owner;
    const bool underOwner = current && ::GetWindowRect(current, &ownerRect);
    auto at = [&](int panelHeight) {
        return underOwner ? layout::frameUnderOwner(ownerRect.left, ownerRect.top, ownerRect.right, ownerRect.bottom,
                                                    panelHeight)
                          : layout::frameAtScreenEdge(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                                                      panelHeight);
    };
    RECT frame, client;
    ::GetWindowRect(hwnd, &frame);
    ::GetClientRect(hwnd, &client);
    int borders = (frame.right - frame.left) - (client.right - client.left);
    int panelWidth = layout::panelInFrame(at(0).width - borders, 0).width;
    return at(
        static_cast<int>(::SendMessageA(panel, pw::kNeededHeight, static_cast<WPARAM>(std::max(panelWidth, 1)), 0)));
}

void ProblemFrame::reposition() {
    if (!panel || ::SendMessageA(panel, pw::kEntryCount, 0, 0) <= 0) {
        if (::IsWindowVisible(hwnd)) slide(false);
        return;
    }
    layout::Box box = placement();
    ::SetWindowPos(hwnd, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Free-standing frames slide horizontally from beyond the screen's right
// edge; frames under an owner roll down out of their top edge, clipped so
// that they never cover the owner.
void ProblemFrame::moveDuringSlide(const RECT& home, int remaining, bool vertical) {
    int width = home.right - home.left, height = home.bottom - home.top;
    if (vertical) {
        ::SetWindowRgn(hwnd, ::CreateRectRgn(0, remaining, width, height), FALSE);
        ::SetWindowPos(hwnd, nullptr, home.left, home.top - remaining, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SetWindowPos(hwnd, nullptr, home.left + remaining, home.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// Every step of the slide is shown (a busy machine makes it slower, never
// jumpier); the steps are spread over kSlideMs.
void ProblemFrame::slide(bool in) {
    RECT home;
    ::GetWindowRect(hwnd, &home);
    const bool vertical = owner.load() != nullptr;
    const int distance = vertical ? home.bottom - home.top : home.right - home.left;
    FW_TRACE("problem window %p slides %s", static_cast<void*>(hwnd), in ? "in" : "out");
    if (in) {
        moveDuringSlide(home, distance, vertical);
        ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    }
    DWORD start = ::GetTickCount();
    for (int step = 1; step <= pw::kSlideSteps; ++step) {
        DWORD due = pw::kSlideMs * static_cast<DWORD>(step) / pw::kSlideSteps;
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed < due) ::Sleep(due - elapsed);
        int remaining = layout::slideRemaining(step, pw::kSlideSteps, distance);
        moveDuringSlide(home, in ? remaining : distance - remaining, vertical);
    }
    if (!in) {
        ::ShowWindow(hwnd, SW_HIDE);
        ::SetWindowPos(hwnd, nullptr, home.left, home.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
    if (vertical) ::SetWindowRgn(hwnd, nullptr, TRUE);
}

// The owner's moves and size changes move the frame with it.
void ProblemFrame::attachOwner() {
    HWND current = owner;
    if (!::SetPropA(current, kOwnerProperty, this)) return;
    ownersProcedure = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(current, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProblemFrame::ownerProcedure)));
    if (!ownersProcedure) ::RemovePropA(current, kOwnerProperty);
}

void ProblemFrame::detachOwner() {
    HWND current = owner.exchange(nullptr);
    if (!current || !ownersProcedure) return;
    ::SetWindowLongPtrA(current, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ownersProcedure));
    ::RemovePropA(current, kOwnerProperty);
}

LRESULT CALLBACK ProblemFrame::ownerProcedure(HWND ownerWindow, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* frame = static_cast<ProblemFrame*>(::GetPropA(ownerWindow, kOwnerProperty));
    if (!frame) return ::DefWindowProcA(ownerWindow, message, wParam, lParam);
    WNDPROC previous = frame->ownersProcedure;
    HWND frameWindow = frame->hwnd;
    switch (message) {
    case WM_MOVE:
    case WM_SIZE: ::SendMessageA(frameWindow, pw::kReposition, 0, 0); break;
    case WM_DESTROY:
        frame->detachOwner();
        ::SendMessageA(frameWindow, pw::kReposition, 0, 0);
        break;
    default: break;
    }
    return ::CallWindowProcA(previous, ownerWindow, message, wParam, lParam);
}

}  // namespace

bool registerFrameClass(HINSTANCE instance) noexcept {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &fw::windowProcedure<ProblemFrame>;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = pw::kFrameClass;
    return fw::registerWindowClass(wc);
}

HWND createFrame(HWND parent, HWND owner) noexcept {
    return ::CreateWindowExA(WS_EX_STATICEDGE, pw::kFrameClass, "", WS_POPUP | WS_DLGFRAME, CW_USEDEFAULT, 0, 600, 300,
                             parent, nullptr, ::GetModuleHandleA(nullptr), owner);
}

}  // namespace fw::detail
