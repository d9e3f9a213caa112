// The notification window: a small, always-on-top, semi-transparent window in
// the bottom-right corner of the screen, just above the task bar. In its small
// size it shows the recording time; for a few seconds it can grow and show a
// two-line reminder or a link text. In its small size it can also show the
// level meter under the time. Whoever owns it decides what it shows; it
// sizes, positions and paints, and passes its timer and double clicks to the
// handlers registered for WM_TIMER and WM_NCLBUTTONDBLCLK.
#pragma once

#include <windows.h>

#include "kit/scoped.h"
#include "kit/sound_level.h"
#include "win.windows/custom_window.h"

namespace kit {

enum TRANSPARENT_WIN_SIZE { TWS_SMALL = 0, TWS_LARGE = 1 };

// Mode: 0 plain (black text), 1 link (blue, underlined).
constexpr int kPlainMode = 0;
constexpr int kLinkMode = 1;

struct TransparentWindowSize {
    int width;
    int height;
    int fontPoints;
    int fontWeight;
};
// The measures of a size, or false for an unknown size.
bool transparentWindowSize(int size, TransparentWindowSize& out) noexcept;
// The window rectangle after a size change that keeps the bottom-right corner.
RECT keepBottomRight(const RECT& old, int newWidth, int newHeight) noexcept;

class TransparentWindow : public CustomWindow, public IMessageHandler, public TextWindow {
public:
    static constexpr const char* kClassName = "popkit.win.tranparentwindow.transparent_window_class";
    static constexpr BYTE kAlpha = 208;
    static constexpr UINT_PTR kMessageTimer = 2;
    static constexpr UINT kLinkMs = 6000;
    static constexpr UINT kReminderMs = 5000;
    static constexpr COLORREF kLinkColour = 0xCC0000;
    // The level meter of the small size: under the time.
    static constexpr RECT kMeterBox{9, 30, 119, 36};

    TransparentWindow(HINSTANCE instance, shared_string title);

    void setSizeAndMode(int size, int mode);
    void getSizeAndMode(int* size, int* mode) const noexcept;
    void show();
    void hide();
    // Repaints the whole window (after setText).
    void redraw();
    // Two-line messages shown for a while in the large size: the text is
    // frozen and timer 2 set (6 s for the link, 5 s for the reminder).
    void LinkOn(const shared_string& message);
    void ReminderOn(const shared_string& message);
    // The meter shows `levels` in the small size (hidden: not drawn); only its
    // box is repainted, and only when what it shows changes.
    void setMeter(const MeterLevels& levels, bool visible);
    bool isMeterShown() const noexcept { return meterVisible && size == TWS_SMALL; }
    const MeterLevels& meterLevels() const noexcept { return meter; }

    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    void applySize(int newSize);
    void timedMessage(const shared_string& message, int mode, UINT ms, const char* function);
    void paint();

    int height = 0;
    int width = 0;
    int fontPoints = 0;
    int fontWeight = 0;
    ScopedFont messageFont;
    ScopedFont linkFont;
    ScopedFont timeFont;
    bool fontsPending = true;
    int size = -1;  // none until the constructor applies the small size
    int mode = kPlainMode;
    bool meterVisible = false;
    MeterLevels meter;
};

}  // namespace kit
