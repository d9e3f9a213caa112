#include <gmock/gmock.h>

#include <string>

#include "resource.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.windows/bitmaps.h"
#include "win.windows/patterned_button.h"
#include "win.windows/patterned_window.h"
#include "win.windows/text_layout.h"
#include "win.windows/timer.h"

namespace {

using testsupport::Capture;

HBITMAP programBitmap(int id) { return ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); }

bool dark(uint32_t p) { return Capture::red(p) < 110 && Capture::green(p) < 110 && Capture::blue(p) < 110; }
bool blackish(uint32_t p) {
    return dark(p) && Capture::blue(p) < Capture::red(p) + 25;  // grey to black, not blue
}
bool blue(uint32_t p) { return Capture::blue(p) > 110 && Capture::red(p) < 100 && Capture::green(p) < 100; }
bool key(uint32_t p) { return p == 0xFF00FF; }

constexpr RECT kTextArea{118, 11, 339, 76};

struct Counter : kit::IMessageHandler {
    explicit Counter(kit::IMessageHandler* next = nullptr) : next(next) {}
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override {
        ++count;
        last.message = message;
        last.wParam = wParam;
        last.lParam = lParam;
        if (next) next->handleMessage(message, wParam, lParam, result, handled);
    }
    kit::IMessageHandler* next;
    int count = 0;
    MSG last{};
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        skin = programBitmap(IDB_MAIN_SKIN);
        logo = programBitmap(IDB_SONOTAPE);
        idle = programBitmap(IDB_DARKNESS_BUTTON);
        lit = programBitmap(IDB_BLINK_ON_BUTTON);
        darkButton = programBitmap(IDB_BLINK_OFF_BUTTON);
        ASSERT_TRUE(skin && logo && idle && lit && darkButton);
        window = kit::smartptr<kit::PatternedWindow>(
            new kit::PatternedWindow(::GetModuleHandleA(nullptr), "Sonotape", skin, logo));
        ::SetWindowPos(window->getHandle(), nullptr, 60, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::ShowWindow(window->getHandle(), SW_SHOWNOACTIVATE);
    }
    void TearDown() override {
        button.reset();
        window.reset();
        for (HBITMAP b : {skin, logo, idle, lit, darkButton}) ::DeleteObject(b);
    }

    void showText(const char* text) {
        window->setOverlayVisible(false);
        window->setTextVisible(true);
        window->setText(text);
    }

    Capture paintAndCapture() {
        window->redraw();
        ::UpdateWindow(window->getHandle());
        testsupport::pumpFor(150);
        return testsupport::captureWindow(window->getHandle());
    }

    HBITMAP skin{}, logo{}, idle{}, lit{}, darkButton{};
    kit::smartptr<kit::PatternedWindow> window;
    kit::smartptr<kit::PatternedButton> button;
};

TEST_F(MainWindow, IsALayeredTopmostToolWindowOfTheSkinsSizeAtAlpha208) {
    HWND hwnd = window->getHandle();
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, kit::bitmapWidth(skin));
    EXPECT_EQ(r.bottom - r.top, kit::bitmapHeight(skin));
    LONG ex = ::GetWindowLongA(hwnd, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    COLORREF keyColour = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(hwnd, &keyColour, &alpha, &flags));
    EXPECT_EQ(keyColour, kit::pixelAt(skin, 0, 0));
    EXPECT_EQ(alpha, 208);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_COLORKEY | LWA_ALPHA));
    char cls[128] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    EXPECT_STREQ(cls, "winkit.win.windows.patterned_window_class");
}

TEST_F(MainWindow, AnswersCaptionEverywhereSoThatADragMovesTheWindow) {
    HWND hwnd = window->getHandle();
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    for (POINT p : {POINT{r.left + 5, r.top + 44}, POINT{r.left + 200, r.top + 40}, POINT{r.right - 3, r.bottom - 3}})
        EXPECT_EQ(::SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)), HTCAPTION);

    // Wine's caption move loop does not end on injected input without a window
    // manager, so the drag itself is left to the user; the answer is what makes it.
}

TEST_F(MainWindow, DrawsTheSkinWithItsKeyLeftOutAndTheLogoAt123_33) {
    window->setOverlayVisible(true);
    window->setTextVisible(false);
    Capture c = paintAndCapture();
    ASSERT_EQ(c.width, kit::bitmapWidth(skin));
    EXPECT_EQ(testsupport::countPixels(c, {0, 0, c.width, c.height}, key), 0);
    int logoW = kit::bitmapWidth(logo), logoH = kit::bitmapHeight(logo), differ = 0;
    for (int y = 0; y < logoH; ++y)
        for (int x = 0; x < logoW; ++x) {
            COLORREF want = kit::pixelAt(logo, x, y);
            uint32_t wantRgb = (GetRValue(want) << 16) | (GetGValue(want) << 8) | GetBValue(want);
            if (c.at(123 + x, 33 + y) != wantRgb) ++differ;
        }
    EXPECT_EQ(differ, 0);
    // The skin around the display is the skin's own.
    COLORREF want = kit::pixelAt(skin, 300, 84);
    EXPECT_EQ(c.at(300, 84), static_cast<uint32_t>((GetRValue(want) << 16) | (GetGValue(want) << 8) | GetBValue(want)));
}

TEST_F(MainWindow, TenCharactersAreDrawnAt28PointsElevenAt11Centred) {
    showText("0123456789");
    Capture big = paintAndCapture();
    RECT inkBig = testsupport::inkBox(big, kTextArea, dark);
    showText("01234567890");
    Capture small = paintAndCapture();
    RECT inkSmall = testsupport::inkBox(small, kTextArea, dark);

    int bigHeight = inkBig.bottom - inkBig.top, smallHeight = inkSmall.bottom - inkSmall.top;
    EXPECT_GE(bigHeight, 22) << "28-point digits";
    EXPECT_LE(smallHeight, 14) << "11-point digits";
    EXPECT_GE(smallHeight, 7);
    for (const RECT& ink : {inkBig, inkSmall}) EXPECT_NEAR((ink.left + ink.right) / 2.0, 118 + 221 / 2.0, 4.0);
}

TEST_F(MainWindow, ATwoLineTextWithClickIsBlueAndTheNextTextIsBlackAgain) {
    showText("To open folder with saved file\nuse double click on this window.");
    Capture hint = paintAndCapture();
    EXPECT_GT(testsupport::countPixels(hint, kTextArea, blue), 60);
    EXPECT_LT(testsupport::countPixels(hint, kTextArea, blackish), 5);
    // One line above the middle of the box, one below.
    RECT upper = testsupport::inkBox(hint, {118, 11, 339, 43}, blue);
    RECT lower = testsupport::inkBox(hint, {118, 44, 339, 76}, blue);
    EXPECT_GT(upper.right - upper.left, 100);
    EXPECT_GT(lower.right - lower.left, 100);

    showText("00:00:07");
    Capture time = paintAndCapture();
    EXPECT_GT(testsupport::countPixels(time, kTextArea, blackish), 60);
    EXPECT_EQ(testsupport::countPixels(time, kTextArea, blue), 0);

    showText("Please wait while application\nends recording...");
    Capture wait = paintAndCapture();
    EXPECT_GT(testsupport::countPixels(wait, kTextArea, blackish), 60);
    EXPECT_EQ(testsupport::countPixels(wait, kTextArea, blue), 0);
}

TEST_F(MainWindow, TheRoundButtonDrawsItsBitmapInAnEllipseAndClicksReachTheParent) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    button =
        kit::smartptr<kit::PatternedButton>(new kit::PatternedButton(instance, window->getHandle(), idle, lit, 15, 11));
    HWND hbutton = button->getHandle();
    window->setOverlayVisible(true);

    auto colourAtCentre = [&](HBITMAP bitmap) {
        COLORREF c = kit::pixelAt(bitmap, 33, 33);
        return static_cast<uint32_t>((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    };
    Capture c = paintAndCapture();
    EXPECT_EQ(c.at(15 + 33, 11 + 33), colourAtCentre(idle));
    EXPECT_EQ(testsupport::countPixels(c, {0, 0, c.width, c.height}, key), 0);

    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(hbutton, region), ERROR);
    EXPECT_TRUE(::PtInRegion(region, 33, 33));
    EXPECT_TRUE(::PtInRegion(region, 33, 1));
    EXPECT_FALSE(::PtInRegion(region, 2, 2));
    EXPECT_FALSE(::PtInRegion(region, 63, 63));
    ::DeleteObject(region);

    // The blink: lit, then dark.
    button->setAlternate(true);
    c = paintAndCapture();
    EXPECT_EQ(c.at(48, 44), colourAtCentre(lit));
    button->setBitmap(darkButton);
    button->setAlternate(false);
    c = paintAndCapture();
    EXPECT_EQ(c.at(48, 44), colourAtCentre(darkButton));

    Counter commands;
    window->setMessageHandler(WM_COMMAND, &commands);
    RECT r{};
    ::GetWindowRect(hbutton, &r);
    testsupport::mouseClick({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    testsupport::waitUntil([&] { return commands.count > 0; }, 2000);
    ASSERT_EQ(commands.count, 1);
    EXPECT_EQ(reinterpret_cast<HWND>(commands.last.lParam), hbutton);
    EXPECT_EQ(HIWORD(commands.last.wParam), BN_CLICKED);
    window->removeMessageHandler(WM_COMMAND, &commands);
}

TEST_F(MainWindow, AnIdleButtonIsNotDrawnOverAndOver) {
    button = kit::smartptr<kit::PatternedButton>(
        new kit::PatternedButton(::GetModuleHandleA(nullptr), window->getHandle(), idle, lit, 15, 11));
    Counter draws(window->getMessageHandler(WM_DRAWITEM));
    ASSERT_NE(draws.next, nullptr);
    window->setMessageHandler(WM_DRAWITEM, &draws);
    button->setAlternate(true);
    testsupport::pumpFor(600);
    EXPECT_GE(draws.count, 1);
    EXPECT_LE(draws.count, 4);
    window->setMessageHandler(WM_DRAWITEM, draws.next);
}

TEST_F(MainWindow, ReleasingTheButtonTakesItsDrawingHandlerAway) {
    button = kit::smartptr<kit::PatternedButton>(
        new kit::PatternedButton(::GetModuleHandleA(nullptr), window->getHandle(), idle, lit, 15, 11));
    HWND hbutton = button->getHandle();
    EXPECT_NE(window->getMessageHandler(WM_DRAWITEM), nullptr);
    button.reset();
    EXPECT_FALSE(::IsWindow(hbutton));
    EXPECT_EQ(window->getMessageHandler(WM_DRAWITEM), nullptr);
    window->setOverlayVisible(true);
    Capture c = paintAndCapture();  // no drawing through a dead button
    EXPECT_EQ(c.width, kit::bitmapWidth(skin));
}

TEST_F(MainWindow, ClosingTheWindowEndsTheMessageLoop) {
    ::PostMessageA(window->getHandle(), WM_CLOSE, 0, 0);
    bool quit = false;
    WPARAM code = 99;
    testsupport::waitUntil(
        [&] {
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;
                    code = msg.wParam;
                }
                ::DispatchMessageA(&msg);
            }
            return quit;
        },
        2000);
    EXPECT_TRUE(quit);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(window->getHandle(), nullptr);
}

// ---- screenshots ----------------------------------------------------------------------------

uint32_t scriptedNow = 0;
uint32_t scriptedTicks() { return scriptedNow; }

TEST_F(MainWindow, Screenshots) {
    button = kit::smartptr<kit::PatternedButton>(
        new kit::PatternedButton(::GetModuleHandleA(nullptr), window->getHandle(), idle, lit, 15, 11));
    window->setOverlayVisible(true);
    window->setTextVisible(false);
    paintAndCapture();
    testsupport::screenshotWindow(window->getHandle(), "main_window_logo");

    kit::Timer stopwatch(scriptedTicks);
    stopwatch.start();
    scriptedNow += (12 * 60 + 34) * 1000;
    button->setBitmap(darkButton);
    button->setAlternate(true);
    showText(stopwatch.toString().c_str());
    Capture recording = paintAndCapture();
    testsupport::screenshotWindow(window->getHandle(), "main_window_recording");
    EXPECT_GT(testsupport::countPixels(recording, kTextArea, dark), 60);

    button->setBitmap(idle);
    button->setAlternate(false);
    showText("To open folder with saved file\nuse double click on this window.");
    paintAndCapture();
    testsupport::Capture hint = testsupport::screenshotWindow(window->getHandle(), "main_window_hint");
    EXPECT_TRUE(testsupport::fileExists(testsupport::screenshotPath("main_window_hint")));
    EXPECT_GT(testsupport::countPixels(hint, kTextArea, blue), 60);
}

}  // namespace
