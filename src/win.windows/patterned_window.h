// The skinned main window: a layered popup shaped by its skin bitmap's colour
// key (the colour of the top-left pixel), drawn at constant alpha 208, that can
// be dragged by any point of its body. On the skin it draws either an overlay
// bitmap (the logo) or one or two lines of centred text, and, while it is
// shown, the level meter under the text.
#pragma once

#include <windows.h>

#include "kit/sound_level.h"
#include "win.windows/custom_window.h"

namespace kit {

class PatternedWindow : public CustomWindow, public IMessageHandler, public TextWindow {
public:
    static constexpr const char* kClassName = "winkit.win.windows.patterned_window_class";
    static constexpr BYTE kAlpha = 208;
    static constexpr POINT kOverlayAt{123, 33};
    // Colour of two-line texts that offer a click: blue of intensity 0xCC (0x00BBGGRR).
    static constexpr COLORREF kLinkColour = 0xCC0000;
    // The level meter: along the bottom of the white display, under the text.
    static constexpr RECT kMeterBox{122, 67, 336, 76};

    // The bitmaps stay the caller's. The window is created hidden at (20, 20).
    PatternedWindow(HINSTANCE instance, shared_string name, HBITMAP skin, HBITMAP overlay);

    void setOverlayVisible(bool visible) noexcept { overlayVisible = visible; }
    void setTextVisible(bool visible) noexcept { textVisible = visible; }
    bool isOverlayVisible() const noexcept { return overlayVisible; }
    // The meter shows `levels` (hidden: not drawn); only its box is repainted,
    // and only when what it shows changes.
    void setMeter(const MeterLevels& levels, bool visible);
    bool isMeterVisible() const noexcept { return meterVisible; }
    const MeterLevels& meterLevels() const noexcept { return meter; }
    // Invalidates the whole client area (background erased).
    void redraw();

    // Its own handler: WM_DESTROY, WM_SIZE, WM_NCHITTEST and WM_PAINT.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    void paint();

    HBITMAP skin;
    HBITMAP overlay;
    bool overlayVisible = false;
    bool textVisible = false;
    bool meterVisible = false;
    MeterLevels meter;
    int height;
    int width;
};

}  // namespace kit
