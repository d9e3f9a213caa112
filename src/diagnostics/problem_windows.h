// The problem notice and the problem windows that show it.
//
// An ERR event raises the program's problem notice: a small window slides in
// at the right edge of the screen with the problem text and two links, "Send
// problem report" (opens the events file) and "Hide this message". Notices
// with the same owner window share one problem window, stacked in its panel.
// The windows live on the diagnostics thread; other threads only post
// requests to it and wait until it has handled them.
#pragma once

#include <windows.h>

#include <atomic>

namespace fw {

namespace detail {
struct ProblemSlot;
class ProblemWindows;
}  // namespace detail

// A text that can be shown in a problem window or hidden.
class ProblemNotice {
public:
    // Without an owner the notice is shown free-standing at the screen's
    // edge, otherwise under the owner. With a delivery window, show and hide
    // requests are sent to that window (WM_USER+1, WM_USER+2, the notice in
    // lParam) instead of the diagnostics thread.
    explicit ProblemNotice(HWND owner = nullptr, HWND delivery = nullptr) noexcept;
    // The text is string `textId` of `instance`, loaded on first use.
    ProblemNotice(HINSTANCE instance, UINT textId, HWND owner = nullptr, HWND delivery = nullptr) noexcept;
    ~ProblemNotice();
    ProblemNotice(const ProblemNotice&) = delete;
    ProblemNotice& operator=(const ProblemNotice&) = delete;

    // Sets the text, once: only while there is neither a string id nor a text.
    bool setText(const char* text);
    // The text ("" when there is none).
    const char* text();

    HWND owner() const noexcept { return ownerWindow; }
    bool isShown() const noexcept { return shown.load(); }
    // The user hid it; show requests do nothing until it has been hidden by a request.
    bool isDismissed() const noexcept { return dismissed.load(); }

private:
    friend class detail::ProblemWindows;

    HWND deliveryWindow;
    HWND ownerWindow;
    detail::ProblemSlot* slot = nullptr;
    HINSTANCE textInstance;
    UINT textId;
    char* textBlock = nullptr;
    std::atomic<bool> shown{false};
    std::atomic<bool> dismissed{false};
    std::atomic<long> requests{0};
    std::atomic<long> handled{0};
};

// The program's one notice (no delivery window, no owner window). Its text is
// the event log's problem text.
ProblemNotice& programNotice();

// Initialisation of the event log calls this; false ends the program.
bool initialiseProblemWindows();

// Shows or hides a notice and returns when that has been done. Showing a
// notice that is shown, or that the user has hidden, does nothing. A request
// that the diagnostics thread does not take within two seconds (it is held
// up) is dropped: the caller never waits longer.
void requestNotice(ProblemNotice& notice, bool show);

// Hides (animated) and destroys every problem window.
void closeAllProblemWindows();

// The end of a fatal boundary: opens the events file for the user, closes the
// problem windows and ends the process with exit code 13.
[[noreturn]] void terminateAfterReport();

// Diagnostics thread: thread message WM_USER+1 carries the number of a
// waiting show or hide request; WM_USER+3 closes every problem window and
// sets the event in lParam.
void handleNoticeThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The window classes and their private messages.
namespace problem_window {
constexpr const char* kFrameClass = "FWWindow";
constexpr const char* kPanelClass = "FWControl";

// Frame (FWWindow).
constexpr UINT kReposition = WM_USER + 1;
constexpr UINT kGetPanel = WM_USER + 2;  // answers the panel's window handle
constexpr UINT kShowAnimated = WM_USER + 4;
constexpr UINT kHideAnimated = WM_USER + 5;

// Panel (FWControl).
constexpr UINT kAddNotice = WM_USER + 1;     // lParam: the notice
constexpr UINT kRemoveNotice = WM_USER + 2;  // lParam: the notice
constexpr UINT kNeededHeight = WM_USER + 4;  // wParam: the panel width to measure at (0: its own)
constexpr UINT kEntryCount = WM_USER + 5;

// Panel style bits.
constexpr DWORD kShowTitle = 1;
constexpr DWORD kShowHideLink = 2;
constexpr DWORD kFrameShowsPanel = 4;  // the frame shows and hides the panel

// Child identifiers inside the panel, and the panel's inside the frame.
constexpr int kSendReportId = 1;
constexpr int kHideMessageId = 2;
constexpr int kTitleId = 3;
constexpr int kFirstEntryId = 10;
constexpr int kPanelId = 100;

// A slide takes this long, in this many moves.
constexpr DWORD kSlideMs = 200;
constexpr int kSlideSteps = 16;
}  // namespace problem_window

}  // namespace fw
