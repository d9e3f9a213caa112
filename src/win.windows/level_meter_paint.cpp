#include "win.windows/level_meter_paint.h"

#include "kit/scoped.h"
#include "win.windows/paint_scope.h"

namespace kit {
namespace {

void fill(HDC dc, const RECT& r, COLORREF colour) {
    ScopedGdiObject brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

}  // namespace

MeterLayout meterLayout(int width, int height) noexcept {
    int clipWidth = height;  // a square as high as both bars
    int barsRight = width - clipWidth - 2;
    int barHeight = (height - 1) / 2;
    MeterLayout layout{};
    layout.bars[0] = {0, 0, barsRight, barHeight};
    layout.bars[1] = {0, height - barHeight, barsRight, height};
    layout.clip = {width - clipWidth, 0, width, height};
    return layout;
}

void paintLevelMeter(HDC dc, const RECT& box, const MeterLevels& levels, COLORREF background) {
    int width = box.right - box.left, height = box.bottom - box.top;
    if (width <= 0 || height <= 0) return;
    ScopedMemoryDC memory(::CreateCompatibleDC(dc));
    ScopedBitmap bitmap(::CreateCompatibleBitmap(dc, width, height));
    if (!memory || !bitmap) return;
    SelectedObject selected(memory.get(), bitmap.get());
    HDC m = memory.get();
    RECT all{0, 0, width, height};
    fill(m, all, background);
    MeterLayout layout = meterLayout(width, height);
    bool clipped = false;
    for (int c = 0; c < 2; ++c) {
        const RECT& bar = layout.bars[c];
        const ChannelLevel& level = levels.channels[c];
        int barWidth = bar.right - bar.left;
        fill(m, bar, kMeterTrack);
        int lit = meterPixels(level.peak, barWidth);
        if (lit > 0) fill(m, {bar.left, bar.top, bar.left + lit, bar.bottom}, kMeterLevel);
        int held = meterPixels(level.hold.peak, barWidth);
        if (held > 0) {
            int left = bar.left + (held > 2 ? held - 2 : 0);
            fill(m, {left, bar.top, bar.left + held, bar.bottom}, kMeterHold);
        }
        clipped = clipped || isClipPeak(level.hold.peak);
    }
    fill(m, layout.clip, clipped ? kMeterClip : kMeterTrack);
    ::BitBlt(dc, box.left, box.top, width, height, m, 0, 0, SRCCOPY);
}

}  // namespace kit
