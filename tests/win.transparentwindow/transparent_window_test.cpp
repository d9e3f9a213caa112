#include <gmock/gmock.h>

#include <string>

#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.transparentwindow/transparent_window.h"

namespace {

using kit::TransparentWindow;
using ::testing::HasSubstr;
using testsupport::Capture;

bool dark(uint32_t p) { return Capture::red(p) < 110 && Capture::green(p) < 110 && Capture::blue(p) < 110; }
bool blackish(uint32_t p) { return dark(p) && Capture::blue(p) < Capture::red(p) + 25; }
bool blue(uint32_t p) { return Capture::blue(p) > 110 && Capture::red(p) < 100 && Capture::green(p) < 100; }

struct SizeCase {
    RECT old;
    int width, height;
    RECT now;
};

class BottomRight : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BottomRight, ASizeChangeKeepsTheBottomRightCorner) {
    const SizeCase& c = GetParam();
    RECT r = kit::keepBottomRight(c.old, c.width, c.height);
    EXPECT_EQ(r.left, c.now.left);
    EXPECT_EQ(r.top, c.now.top);
    EXPECT_EQ(r.right, c.now.right);
    EXPECT_EQ(r.bottom, c.now.bottom);
}

INSTANTIATE_TEST_SUITE_P(Notification, BottomRight,
                         ::testing::Values(SizeCase{{894, 698, 1024, 738}, 250, 50, {774, 688, 1024, 738}},
                                           SizeCase{{774, 688, 1024, 738}, 130, 40, {894, 698, 1024, 738}},
                                           SizeCase{{10, 10, 140, 50}, 130, 40, {10, 10, 140, 50}}));

TEST(NotificationSizes, SmallShowsTheTimeLargeTheMessages) {
    kit::TransparentWindowSize s{};
    ASSERT_TRUE(kit::transparentWindowSize(0, s));
    EXPECT_EQ(s.width, 130);
    EXPECT_EQ(s.height, 40);
    EXPECT_EQ(s.fontPoints, 15);
    EXPECT_EQ(s.fontWeight, 400);
    ASSERT_TRUE(kit::transparentWindowSize(1, s));
    EXPECT_EQ(s.width, 250);
    EXPECT_EQ(s.height, 50);
    EXPECT_EQ(s.fontPoints, 10);
    EXPECT_EQ(s.fontWeight, 700);
    EXPECT_FALSE(kit::transparentWindowSize(2, s));
    EXPECT_FALSE(kit::transparentWindowSize(-1, s));
}

struct Recorder : kit::IMessageHandler {
    void handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&, bool&) override {
        if (message == WM_TIMER && wParam == TransparentWindow::kMessageTimer && !timerAt) timerAt = ::GetTickCount();
        if (message == WM_NCLBUTTONDBLCLK) ++doubleClicks;
    }
    DWORD timerAt = 0;
    int doubleClicks = 0;
};

class Notification : public ::testing::Test {
protected:
    void SetUp() override {
        window = kit::smartptr<TransparentWindow>(new TransparentWindow(::GetModuleHandleA(nullptr), "Sonotape"));
        hwnd = window->getHandle();
        ASSERT_TRUE(::IsWindow(hwnd));
    }
    RECT rect() const {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        return r;
    }
    Capture paintAndCapture() {
        window->redraw();
        ::UpdateWindow(hwnd);
        testsupport::pumpFor(150);
        return testsupport::captureWindow(hwnd);
    }
    int size() const {
        int s = -1;
        window->getSizeAndMode(&s, nullptr);
        return s;
    }
    int mode() const {
        int m = -1;
        window->getSizeAndMode(nullptr, &m);
        return m;
    }

    kit::smartptr<TransparentWindow> window;
    HWND hwnd = nullptr;
};

TEST_F(Notification, StartsHiddenAndSmallInTheBottomRightCornerAboveTheTaskBar) {
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    RECT r = rect(), desktop{}, work{};
    ::GetClientRect(::GetDesktopWindow(), &desktop);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(r.right, desktop.right);
    EXPECT_EQ(r.bottom, work.bottom);
    EXPECT_EQ(r.right - r.left, 130);
    EXPECT_EQ(r.bottom - r.top, 40);
    EXPECT_EQ(size(), 0);
    EXPECT_EQ(mode(), 0);

    LONG ex = ::GetWindowLongA(hwnd, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    EXPECT_TRUE(::GetWindowLongA(hwnd, GWL_STYLE) & WS_BORDER);
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(hwnd, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 208);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    char cls[128] = {}, title[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    ::GetWindowTextA(hwnd, title, sizeof title);
    EXPECT_STREQ(cls, "popkit.win.tranparentwindow.transparent_window_class");
    EXPECT_STREQ(title, "Sonotape");
}

TEST_F(Notification, SizeChangesKeepTheBottomRightCorner) {
    RECT small = rect();
    window->setSizeAndMode(1, 0);
    RECT large = rect();
    EXPECT_EQ(large.right, small.right);
    EXPECT_EQ(large.bottom, small.bottom);
    EXPECT_EQ(large.right - large.left, 250);
    EXPECT_EQ(large.bottom - large.top, 50);

    window->setSizeAndMode(0, 0);
    RECT back = rect();
    EXPECT_EQ(back.left - large.left, 120);
    EXPECT_EQ(back.top - large.top, 10);
    EXPECT_EQ(back.right, large.right);
    EXPECT_EQ(back.bottom, large.bottom);
}

TEST_F(Notification, AnUnknownSizeIsOnlyTraced) {
    RECT before = rect();
    testsupport::EventsFile events;
    window->setSizeAndMode(2, 1);
    RECT after = rect();
    EXPECT_EQ(size(), 0);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("Warning: Unknown TRANSPARENT_WIN_SIZE constant!"));
    EXPECT_THAT(added, ::testing::Not(HasSubstr("Call SetWindowPos")));
}

TEST_F(Notification, LinkAndReminderShowAFrozenMessageInTheLargeSize) {
    window->setText("00:00:05");
    window->LinkOn("To open folder with saved file,\n double click on this window.");
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    EXPECT_EQ(size(), 1);
    EXPECT_EQ(mode(), 1);
    EXPECT_TRUE(window->isTextFrozen());
    window->setText("00:00:06");  // the recording tick must not overwrite the message
    EXPECT_EQ(window->getText(), "To open folder with saved file,\n double click on this window.");

    window->unfreezeText();
    window->setSizeAndMode(0, 0);
    window->ReminderOn("WARNING!\nLow free disk space!");
    EXPECT_EQ(size(), 1);
    EXPECT_EQ(mode(), 0);
    EXPECT_EQ(window->getText(), "WARNING!\nLow free disk space!");
    window->hide();
    EXPECT_FALSE(::IsWindowVisible(hwnd));
}

TEST_F(Notification, ASecondLinkOnRestartsTimer2) {
    Recorder recorder;
    window->setMessageHandler(WM_TIMER, &recorder);
    DWORD first = ::GetTickCount();
    window->LinkOn("first");
    testsupport::pumpFor(3000);
    DWORD second = ::GetTickCount();
    window->LinkOn("second");
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.timerAt != 0; }, 9000));
    // Without the restart the timer would have fired 6 s after the first call.
    EXPECT_GE(recorder.timerAt - first, 8500u);
    EXPECT_GE(recorder.timerAt - second, 5500u);
    EXPECT_LE(recorder.timerAt - second, 7500u);
}

TEST_F(Notification, ADoubleClickAnywhereReachesTheRegisteredHandler) {
    Recorder recorder;
    window->setMessageHandler(WM_NCLBUTTONDBLCLK, &recorder);
    window->setText("00:00:05");
    window->show();
    RECT r = rect();
    EXPECT_EQ(::SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(r.left + 10, r.top + 10)), HTCAPTION);
    testsupport::mouseDoubleClick(testsupport::centreOf(hwnd));
    EXPECT_TRUE(testsupport::waitUntil([&] { return recorder.doubleClicks == 1; }, 2000));
}

TEST_F(Notification, TheTimeIsOneCentredBlackLine) {
    window->setText("00:12:34");
    window->show();
    Capture c = paintAndCapture();
    RECT ink = testsupport::inkBox(c, {0, 0, c.width, c.height}, dark);
    ASSERT_GT(ink.right, ink.left);
    // Drawn in the outer size's coordinates inside a one-pixel border.
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 1 + 65.0, 4.0);
    EXPECT_GE(ink.bottom - ink.top, 12);  // 15-point digits
    EXPECT_EQ(testsupport::countPixels(c, {1, 1, c.width - 1, c.height - 1}, blue), 0);
}

TEST_F(Notification, TwoLinesSitAboveAndBelowTheMiddle) {
    window->ReminderOn("WARNING!\nLow free disk space!");
    Capture c = paintAndCapture();
    RECT inner{1, 1, c.width - 1, c.height - 1};
    RECT upper = testsupport::inkBox(c, {1, 1, c.width - 1, 25}, blackish);
    RECT lower = testsupport::inkBox(c, {1, 26, c.width - 1, c.height - 1}, blackish);
    EXPECT_GT(upper.right - upper.left, 40);
    EXPECT_GT(lower.right - lower.left, upper.right - upper.left);  // the longer line is below
    EXPECT_EQ(testsupport::countPixels(c, inner, blue), 0);
}

TEST_F(Notification, TheLinkIsBlueAndUnderlined) {
    window->LinkOn("To open folder with saved file,\n double click on this window.");
    Capture c = paintAndCapture();
    RECT inner{1, 1, c.width - 1, c.height - 1};
    EXPECT_GT(testsupport::countPixels(c, inner, blue), 100);
    EXPECT_EQ(testsupport::countPixels(c, inner, blackish), 0);
    // An underline: a row of blue far longer than any stroke of a letter.
    int longestRun = 0;
    for (int y = 1; y < c.height - 1; ++y) {
        int run = 0;
        for (int x = 1; x < c.width - 1; ++x) {
            run = blue(c.at(x, y)) ? run + 1 : 0;
            longestRun = std::max(longestRun, run);
        }
    }
    EXPECT_GT(longestRun, 100);
}

TEST_F(Notification, Screenshots) {
    window->setText("00:12:34");
    window->show();
    paintAndCapture();
    testsupport::screenshotWindow(hwnd, "notification_small");

    window->LinkOn("To open folder with saved file,\n double click on this window.");
    paintAndCapture();
    testsupport::screenshotWindow(hwnd, "notification_large");
    EXPECT_TRUE(testsupport::fileExists(testsupport::screenshotPath("notification_small")));
    EXPECT_TRUE(testsupport::fileExists(testsupport::screenshotPath("notification_large")));
}

}  // namespace
