// The level meter of the skinned windows: two thin bars (left channel above,
// right below) on the white display, lit from the left as far as the peak
// reaches on the meter's dB scale, a dark tick at the held peak, and a clip
// mark at the right end that turns red while the held peak is at full scale.
#pragma once

#include <windows.h>

#include "kit/sound_level.h"

namespace kit {

// The colours of the skin (res/make_art.py): its slate body for the level,
// its outline for the held peak, the record button's red for the clip mark,
// a light grey track on the white display.
constexpr COLORREF kMeterTrack = RGB(226, 229, 233);
constexpr COLORREF kMeterLevel = RGB(78, 84, 94);
constexpr COLORREF kMeterHold = RGB(16, 18, 22);
constexpr COLORREF kMeterClip = RGB(214, 36, 36);

// Where the parts of a meter drawn in `box` go (box-relative: 0, 0 is its top
// left corner): the clip mark takes the right end, the bars the rest.
struct MeterLayout {
    RECT bars[2];
    RECT clip;
};
MeterLayout meterLayout(int width, int height) noexcept;

// Draws the meter in `box` of `dc` on `background`, built in a memory bitmap
// and copied in one blit, so that a repaint never shows a half-drawn meter.
void paintLevelMeter(HDC dc, const RECT& box, const MeterLevels& levels, COLORREF background);

}  // namespace kit
