// The problem windows on the display, driven as a user would: errors are
// reported through the catch-and-report boundary, the windows are found by
// class and watched with GetWindowRect while they slide, and the links are
// clicked with the mouse.
//
// The cases run in order in one process: once the user has hidden the
// program's notice it stays hidden for the rest of the process.
#include <gmock/gmock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/diag_thread.h"
#include "diagnostics/eventlog.h"
#include "diagnostics/problem_windows.h"
#include "diagnostics/report.h"
#include "diagnostics/shell_open.h"
#include "kit/exceptions.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

constexpr const char* kTraceSource = "tests/problem_window_test";
namespace pw = fw::problem_window;

// ---- observing the windows ---------------------------------------------------------

struct FrameSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collectFrame(HWND hwnd, LPARAM p) {
    auto& search = *reinterpret_cast<FrameSearch*>(p);
    char name[32] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search.process && std::strcmp(name, pw::kFrameClass) == 0) search.found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> problemFrames(DWORD process = ::GetCurrentProcessId()) {
    FrameSearch search{process, {}};
    ::EnumWindows(&collectFrame, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND onlyFrame() {
    auto frames = problemFrames();
    return frames.size() == 1 ? frames[0] : nullptr;
}

RECT rectOf(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    return r;
}

// A child's rectangle in its parent's client coordinates.
RECT childRect(HWND child) {
    RECT r = rectOf(child);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string textOf(HWND hwnd) {
    char text[2048] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

HWND panelOf(HWND frame) { return reinterpret_cast<HWND>(::SendMessageA(frame, pw::kGetPanel, 0, 0)); }

// The height a text line needs to show all of its text, wrapped at its width.
int neededTextHeight(HWND line) {
    RECT client{};
    ::GetClientRect(line, &client);
    HDC dc = ::GetDC(line);
    HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(line, WM_GETFONT, 0, 0)));
    RECT r{0, 0, client.right, 0};
    ::DrawTextA(dc, textOf(line).c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    ::SelectObject(dc, previous);
    ::ReleaseDC(line, dc);
    return r.bottom;
}

// The program's notice: its text line is as high as the text needs (at least 42).
int programEntryHeight(HWND frame) {
    return std::max(42, neededTextHeight(::GetDlgItem(panelOf(frame), pw::kFirstEntryId)));
}
int entriesOf(HWND frame) { return static_cast<int>(::SendMessageA(panelOf(frame), pw::kEntryCount, 0, 0)); }

// The free-standing frame for `panelHeight`, by the rule: a third of the
// screen wide, at the right edge, its top at two thirds of the height.
RECT expectedAtScreenEdge(int panelHeight) {
    int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    int left = w - w / 3, top = 2 * h / 3;
    return {left, top, left + w / 3, top + panelHeight + 20};
}

bool sameRect(const RECT& a, const RECT& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string show(const RECT& r) {
    char text[80];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
    return text;
}

// Runs `work` on another thread (requests block until the diagnostics thread
// has handled them) and calls `watch` on this thread until it has finished.
void whileRunning(const std::function<void()>& work, const std::function<void()>& watch) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    while (!done) {
        watch();
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::Sleep(0);
    }
    worker.join();
    watch();
}

// The rectangles a window showed, in order, without repeats.
struct Track {
    std::vector<RECT> shown;
    void sample(HWND hwnd) {
        if (!hwnd || !::IsWindowVisible(hwnd)) return;
        RECT r = rectOf(hwnd);
        if (shown.empty() || !sameRect(shown.back(), r)) shown.push_back(r);
    }
};

void reportError(const char* what) {
    fw::catchAndReport(kTraceSource, __LINE__, [&] {
        kit::setOrigin(kTraceSource, __LINE__, "reportError");
        throw kit::ARuntimeError(what);
    });
}

// The mouse, as a user clicks: a real click where the link is what lies
// under the pointer; if a window of another program covers it, the click is
// given to the link directly.
void clickLink(HWND link) {
    RECT r = rectOf(link);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    if (::WindowFromPoint(centre) == link) {
        ::SetCursorPos(centre.x, centre.y);
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        ASSERT_EQ(::SendInput(2, input, sizeof(INPUT)), 2u);
    } else {
        std::printf("note: link covered by another window, clicking it by message\n");
        POINT p = centre;
        ::ScreenToClient(link, &p);
        ::PostMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        ::PostMessageA(link, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    }
}

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// ---- the shell "open" seam and screenshots ------------------------------------------

std::atomic<int> opened{0};
std::string openedPath;

void recordOpen(const char* path) {
    openedPath = path;
    ++opened;
}

std::string screenshotFolder() { return testsupport::programFolder() + "\\..\\screenshots"; }

// Saves the display as build/screenshots/NAME.png for a person to look at.
bool screenshot(const std::string& name) {
    std::string png = screenshotFolder() + "\\" + name + ".png";
    ::CreateDirectoryA(screenshotFolder().c_str(), nullptr);
    ::DeleteFileA(png.c_str());
    std::string command = "/bin/bash \"" SONOTAPE_TOOLS_DIR "/screenshot.sh\" " + name + " \"" +
                          testsupport::unixPath(screenshotFolder()) + "\"";
    if (!testsupport::startNative(command)) return false;
    return testsupport::waitUntil([&] { return testsupport::fileSize(png) > 1000; }, 20000);
}

class ProblemWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fw::ensureDiagnostics();
        fw::setShellOpen(&recordOpen);
    }
};

// ---- the program's notice, in order --------------------------------------------------

TEST_F(ProblemWindow, FirstErrorSlidesTheWindowInFromTheRight) {
    ASSERT_TRUE(problemFrames().empty());
    Track track;
    HWND frame = nullptr;
    whileRunning([] { reportError("the first problem"); },
                 [&] {
                     if (!frame) frame = onlyFrame();
                     track.sample(frame);
                 });
    ASSERT_NE(frame, nullptr);
    // The default text takes more than three lines at a third of the screen;
    // the window is as high as it needs to show all of it.
    const int entry = programEntryHeight(frame);
    EXPECT_GT(entry, 42);
    const RECT expected = expectedAtScreenEdge(24 + entry + 2 + 16);
    EXPECT_TRUE(fw::programNotice().isShown());
    ASSERT_TRUE(::IsWindowVisible(frame));
    EXPECT_EQ(show(rectOf(frame)), show(expected));
    EXPECT_EQ(entriesOf(frame), 1);

    // It came from beyond the right edge, moving only leftwards, in steps.
    ASSERT_GE(track.shown.size(), 3u) << "the slide was not seen";
    EXPECT_GT(track.shown.front().left, expected.left);
    for (std::size_t i = 1; i < track.shown.size(); ++i) {
        EXPECT_LT(track.shown[i].left, track.shown[i - 1].left) << "step " << i;
        EXPECT_EQ(track.shown[i].top, expected.top);
        EXPECT_EQ(track.shown[i].right - track.shown[i].left, expected.right - expected.left);
        EXPECT_EQ(track.shown[i].bottom - track.shown[i].top, expected.bottom - expected.top);
    }
    EXPECT_TRUE(sameRect(track.shown.back(), expected));

    // It lives on the diagnostics thread, under a hidden parent.
    EXPECT_EQ(::GetWindowThreadProcessId(frame, nullptr), fw::detail::diagnosticsThreadId());
    HWND parent = ::GetWindow(frame, GW_OWNER);
    ASSERT_NE(parent, nullptr);
    EXPECT_FALSE(::IsWindowVisible(parent));

    EXPECT_TRUE(screenshot("problem_window")) << "no screenshot under " << screenshotFolder();
}

TEST_F(ProblemWindow, PanelShowsTitleTextAndTwoLinks) {
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    HWND panel = panelOf(frame);
    RECT client;
    ::GetClientRect(panel, &client);
    const int width = client.right;

    HWND title = ::GetDlgItem(panel, pw::kTitleId);
    EXPECT_EQ(textOf(title), fw::libraryName());
    EXPECT_EQ(show(childRect(title)), show({0, 0, width + 1, 24}));

    HWND line = ::GetDlgItem(panel, pw::kFirstEntryId);
    EXPECT_EQ(textOf(line), fw::problemText());
    const int entry = programEntryHeight(frame);
    EXPECT_EQ(show(childRect(line)), show({48, 24, width + 1, 24 + entry}));
    EXPECT_GE(childRect(line).bottom - childRect(line).top, neededTextHeight(line)) << "the whole text shows";

    HWND hide = ::GetDlgItem(panel, pw::kHideMessageId);
    HWND send = ::GetDlgItem(panel, pw::kSendReportId);
    EXPECT_EQ(textOf(hide), "Hide this message");
    EXPECT_EQ(textOf(send), "Send problem report");
    EXPECT_TRUE(::IsWindowVisible(hide));
    EXPECT_TRUE(::IsWindowVisible(send));
    RECT h = childRect(hide), s = childRect(send);
    EXPECT_EQ(h.left, 0);
    EXPECT_EQ(h.top, 24 + entry + 2);
    EXPECT_EQ(h.bottom - h.top, 16);
    EXPECT_EQ(s.top, 24 + entry + 2);
    EXPECT_EQ(s.bottom - s.top, 16);
    EXPECT_EQ(s.right, width + 1);  // right-aligned, one pixel beyond
    EXPECT_GT(s.left, h.right);

    // Laying out again moves nothing.
    ::SendMessageA(panel, WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
    EXPECT_EQ(show(childRect(send)), show(s));
    EXPECT_EQ(show(childRect(hide)), show(h));
}

TEST_F(ProblemWindow, SecondErrorChangesNothing) {
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    RECT before = rectOf(frame);
    reportError("the second problem");
    EXPECT_EQ(problemFrames(), std::vector<HWND>{frame});
    EXPECT_EQ(show(rectOf(frame)), show(before));
    EXPECT_EQ(entriesOf(frame), 1);
}

TEST_F(ProblemWindow, NoticesWithoutOwnerStackInOneWindow) {
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    fw::ProblemNotice second;
    ASSERT_TRUE(second.setText("A second notice shares the window."));
    whileRunning([&] { fw::requestNotice(second, true); }, [] {});
    EXPECT_TRUE(second.isShown());
    EXPECT_EQ(problemFrames(), std::vector<HWND>{frame});
    EXPECT_EQ(entriesOf(frame), 2);
    const int entry = programEntryHeight(frame);
    EXPECT_EQ(show(rectOf(frame)), show(expectedAtScreenEdge(24 + entry + 2 + 44 + 16)));
    HWND panel = panelOf(frame);
    EXPECT_EQ(childRect(::GetDlgItem(panel, pw::kFirstEntryId + 1)).top, 24 + entry + 2);
    EXPECT_TRUE(screenshot("problem_window_two_notices"));

    whileRunning([&] { fw::requestNotice(second, false); }, [] {});
    EXPECT_FALSE(second.isShown());
    EXPECT_EQ(entriesOf(frame), 1);
    EXPECT_EQ(::GetDlgItem(panel, pw::kFirstEntryId + 1), nullptr);
    EXPECT_EQ(show(rectOf(frame)), show(expectedAtScreenEdge(24 + entry + 2 + 16)));
    EXPECT_TRUE(::IsWindowVisible(frame));
}

TEST_F(ProblemWindow, SendProblemReportOpensTheEventsFileOnce) {
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    HWND send = ::GetDlgItem(panelOf(frame), pw::kSendReportId);
    testsupport::EventsFile events;
    const std::string asked = "the user asked to send the problem report";

    clickLink(send);
    ASSERT_TRUE(testsupport::waitUntil([] { return opened.load() == 1; }, 10000));
    EXPECT_EQ(openedPath, fw::eventsFilePath());

    clickLink(send);
    ASSERT_TRUE(testsupport::waitUntil([&] { return occurrences(events.added(), asked) == 2; }, 10000))
        << "the second click did not arrive";
    EXPECT_EQ(opened.load(), 1);
    EXPECT_TRUE(::IsWindowVisible(frame));
}

TEST_F(ProblemWindow, HideThisMessageSlidesItOutForTheRestOfTheRun) {
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    const RECT home = rectOf(frame);
    HWND hide = ::GetDlgItem(panelOf(frame), pw::kHideMessageId);
    Track track;
    clickLink(hide);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            track.sample(frame);
            return !::IsWindow(frame);
        },
        10000));
    EXPECT_TRUE(fw::programNotice().isDismissed());
    EXPECT_TRUE(problemFrames().empty());

    // It went out to the right.
    ASSERT_GE(track.shown.size(), 2u) << "the slide was not seen";
    for (std::size_t i = 1; i < track.shown.size(); ++i)
        EXPECT_GT(track.shown[i].left, track.shown[i - 1].left) << "step " << i;
    EXPECT_GT(track.shown.back().left, home.left);
    EXPECT_EQ(track.shown.back().top, home.top);

    // Later errors of this run do not bring it back.
    reportError("a problem after the user hid the window");
    EXPECT_TRUE(problemFrames().empty());
    ::Sleep(300);
    EXPECT_TRUE(problemFrames().empty());
}

// ---- other notices ---------------------------------------------------------------------

LRESULT CALLBACK plainProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND makeOwner(int x, int y, int width, int height) {
    static ATOM atom = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &plainProcedure;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = "ProblemWindowTestOwner";
        return ::RegisterClassA(&wc);
    }();
    EXPECT_NE(atom, 0);
    HWND owner = ::CreateWindowExA(0, "ProblemWindowTestOwner", "owner", WS_POPUP | WS_BORDER, x, y, width, height,
                                   nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    // Not activated: without a window manager, Wine waits two seconds for
    // every activated window that is hidden or destroyed.
    ::ShowWindow(owner, SW_SHOWNOACTIVATE);
    return owner;
}

RECT expectedUnder(HWND owner, int panelHeight) {
    RECT o = rectOf(owner);
    int left = o.left + 50, top = o.bottom - 1;
    return {left, top, left + (o.right - o.left) - 99, top + panelHeight + 20};
}

TEST_F(ProblemWindow, OwnedNoticeRollsDownUnderItsOwnerAndFollowsIt) {
    HWND owner = makeOwner(100, 100, 500, 300);
    ASSERT_NE(owner, nullptr);
    LONG_PTR ownProcedure = ::GetWindowLongPtrA(owner, GWLP_WNDPROC);
    fw::ProblemNotice notice(owner);
    notice.setText("A notice under its owner.");

    const RECT expected = expectedUnder(owner, 84);
    Track track;
    HWND frame = nullptr;
    whileRunning([&] { fw::requestNotice(notice, true); },
                 [&] {
                     if (!frame) frame = onlyFrame();
                     track.sample(frame);
                 });
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(show(rectOf(frame)), show(expected));
    ASSERT_GE(track.shown.size(), 3u);
    EXPECT_LT(track.shown.front().top, expected.top);
    for (std::size_t i = 1; i < track.shown.size(); ++i) {
        EXPECT_GT(track.shown[i].top, track.shown[i - 1].top) << "step " << i;
        EXPECT_EQ(track.shown[i].left, expected.left);
    }

    // Moving and sizing the owner takes the frame along.
    ::SetWindowPos(owner, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(show(rectOf(frame)), show(expectedUnder(owner, 84)));
    ::SetWindowPos(owner, nullptr, 0, 0, 600, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(show(rectOf(frame)), show(expectedUnder(owner, 84)));

    Track out;
    whileRunning([&] { fw::requestNotice(notice, false); }, [&] { out.sample(frame); });
    EXPECT_FALSE(::IsWindow(frame));
    EXPECT_FALSE(notice.isShown());
    ASSERT_GE(out.shown.size(), 2u);
    EXPECT_LT(out.shown.back().top, out.shown.front().top);  // rolled up
    EXPECT_EQ(::GetWindowLongPtrA(owner, GWLP_WNDPROC), ownProcedure);
    EXPECT_EQ(::GetPropA(owner, "FW.Ptr"), nullptr);
    ::DestroyWindow(owner);
}

TEST_F(ProblemWindow, FrameWhoseOwnerIsDestroyedMovesToTheScreenEdge) {
    HWND owner = makeOwner(50, 50, 400, 200);
    fw::ProblemNotice notice(owner);
    notice.setText("Its owner goes away.");
    whileRunning([&] { fw::requestNotice(notice, true); }, [] {});
    HWND frame = onlyFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(show(rectOf(frame)), show(expectedUnder(owner, 84)));

    ::DestroyWindow(owner);
    EXPECT_EQ(show(rectOf(frame)), show(expectedAtScreenEdge(84)));
    whileRunning([&] { fw::requestNotice(notice, false); }, [] {});
    EXPECT_FALSE(::IsWindow(frame));
}

TEST_F(ProblemWindow, CloseAllHidesAndDestroysEveryWindow) {
    HWND ownerA = makeOwner(40, 40, 300, 150), ownerB = makeOwner(400, 40, 300, 150);
    fw::ProblemNotice a(ownerA), b(ownerB);
    a.setText("a");
    b.setText("b");
    whileRunning(
        [&] {
            fw::requestNotice(a, true);
            fw::requestNotice(b, true);
        },
        [] {});
    ASSERT_EQ(problemFrames().size(), 2u);
    whileRunning([] { fw::closeAllProblemWindows(); }, [] {});
    EXPECT_TRUE(problemFrames().empty());
    ::DestroyWindow(ownerA);
    ::DestroyWindow(ownerB);
}

TEST_F(ProblemWindow, NoticeThatGoesAwayTakesItsWindowAlong) {
    HWND frame = nullptr;
    whileRunning(
        [&] {
            fw::ProblemNotice passing;
            passing.setText("Shown, then destroyed.");
            fw::requestNotice(passing, true);
            frame = onlyFrame();
        },
        [] {});
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(::IsWindow(frame));
    EXPECT_TRUE(problemFrames().empty());
}

std::vector<std::pair<UINT, LPARAM>> delivered;

LRESULT CALLBACK deliveryProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 1 || message == WM_USER + 2) {
        delivered.emplace_back(message, lParam);
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(ProblemWindow, DeliveryWindowHandlesTheRequestsItself) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &deliveryProcedure;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "ProblemWindowTestDelivery";
    ::RegisterClassA(&wc);
    HWND delivery =
        ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    fw::ProblemNotice notice(nullptr, delivery);
    notice.setText("delivered");
    const auto address = reinterpret_cast<LPARAM>(&notice);

    fw::requestNotice(notice, true);
    fw::requestNotice(notice, true);
    fw::requestNotice(notice, false);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0], std::make_pair(static_cast<UINT>(WM_USER + 1), address));
    EXPECT_EQ(delivered[1], std::make_pair(static_cast<UINT>(WM_USER + 2), address));
    EXPECT_FALSE(notice.isShown());
    EXPECT_TRUE(problemFrames().empty());
    ::DestroyWindow(delivery);
}

TEST(ProblemNotice, TakesItsTextFromTheStringTableOrOnceDirectly) {
    fw::ProblemNotice table(::GetModuleHandleA(nullptr), 4711);
    EXPECT_STREQ(table.text(), "A problem text from the string table");
    EXPECT_FALSE(table.setText("other"));

    fw::ProblemNotice missing(::GetModuleHandleA(nullptr), 4712);
    EXPECT_STREQ(missing.text(), "");
    EXPECT_TRUE(missing.setText("set once"));  // the missing id was forgotten
    EXPECT_FALSE(missing.setText("set twice"));
    EXPECT_STREQ(missing.text(), "set once");

    fw::ProblemNotice program;
    EXPECT_STREQ(program.text(), "");
    EXPECT_STREQ(fw::programNotice().text(), fw::problemText());
}

// ---- the fatal end, in a child process -------------------------------------------------

std::string markerPath;

// Notes what was opened and whether the report was in it at that moment.
void recordOpenToFile(const char* path) {
    bool reported = testsupport::readFile(path).find("the disk caught fire") != std::string::npos;
    testsupport::writeFile(markerPath, std::string(path) + (reported ? "\nwith the report" : "\nwithout the report"));
}

int fatalChild(const std::vector<std::string>& args) {
    markerPath = args.at(0);
    fw::ensureDiagnostics();
    fw::setShellOpen(&recordOpenToFile);
    fw::catchAndReportFatal(kTraceSource, __LINE__, [] {
        kit::setOrigin(kTraceSource, __LINE__, "fatalChild");
        throw kit::ARuntimeError("the disk caught fire");
    });
    return 0;  // not reached: the boundary ends the process
}
testsupport::ChildMain fatal("fatal", &fatalChild);

TEST_F(ProblemWindow, FatalBoundaryOpensTheEventsFileClosesTheWindowAndExitsWith13) {
    testsupport::TempDir dir;
    const std::string marker = dir.file("opened.txt");
    testsupport::EventsFile events;
    testsupport::ChildProcess child("fatal", {marker});
    const DWORD process = ::GetProcessId(child.handle());

    HWND frame = nullptr;
    Track track;
    bool openedBeforeLeaving = false, sawLeaving = false;
    LONG settled = LONG_MAX;
    while (!child.wait(0)) {
        if (!frame) {
            auto frames = problemFrames(process);
            if (!frames.empty()) frame = frames[0];
        }
        std::size_t before = track.shown.size();
        track.sample(frame);
        if (track.shown.size() > before && before > 0) {
            LONG x = track.shown.back().left, previous = track.shown[before - 1].left;
            if (x < previous) settled = x;
            if (x > previous && x > settled && !sawLeaving) {
                sawLeaving = true;
                openedBeforeLeaving = testsupport::fileExists(marker);
            }
        }
        ::Sleep(0);
    }
    EXPECT_EQ(child.exitCode(), 13u);
    ASSERT_NE(frame, nullptr) << "the child showed no problem window";
    EXPECT_TRUE(sawLeaving) << "the window did not slide out before the end";
    EXPECT_TRUE(openedBeforeLeaving) << "the events file was not opened before the windows closed";
    EXPECT_EQ(testsupport::readFile(marker), fw::eventsFilePath() + "\nwith the report");
    std::string added = events.added();
    EXPECT_THAT(added, ::testing::HasSubstr("CaughtKitException"));
    EXPECT_THAT(added, ::testing::HasSubstr("the disk caught fire"));
}

}  // namespace

// ---- a held-up diagnostics thread, in a child process -----------------------------------

namespace heldUp {

HANDLE shellEntered = nullptr;
HANDLE shellRelease = nullptr;

// A shell call that does not come back, as a slow or modal one does.
void holdingShell(const char*) {
    ::SetEvent(shellEntered);
    ::WaitForSingleObject(shellRelease, 30000);
}

int heldUpChild(const std::vector<std::string>&) {
    fw::ensureDiagnostics();
    shellEntered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    shellRelease = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fw::setShellOpen(&holdingShell);
    reportError("the first problem");
    HWND frame = nullptr;
    if (!testsupport::waitUntil([&] { return (frame = onlyFrame()) != nullptr; }, 10000)) return 3;
    clickLink(::GetDlgItem(panelOf(frame), pw::kSendReportId));
    if (::WaitForSingleObject(shellEntered, 10000) != WAIT_OBJECT_0) return 4;

    // The diagnostics thread is inside the shell call now.
    std::atomic<bool> returned{false};
    std::thread requester([&] {
        fw::ProblemNotice notice;
        notice.setText("a second problem");
        fw::requestNotice(notice, true);
        returned = true;
    });
    DWORD begun = ::GetTickCount();
    while (!returned && ::GetTickCount() - begun < 5000) ::Sleep(10);
    bool inTime = returned;
    ::SetEvent(shellRelease);
    requester.join();
    return inTime ? 0 : 1;
}
testsupport::ChildMain child("held-up", &heldUpChild);

TEST_F(ProblemWindow, ARequestTheHeldUpThreadCannotTakeIsDroppedInTime) {
    testsupport::ChildProcess process("held-up");
    ASSERT_TRUE(process.wait(60000));
    EXPECT_EQ(process.exitCode(), 0u) << "1: the caller waited for the held-up thread; 3, 4: no notice, no shell call";
}

}  // namespace heldUp
