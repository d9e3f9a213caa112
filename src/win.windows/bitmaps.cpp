#include "win.windows/bitmaps.h"

#include "kit/scoped.h"
#include "win.windows/paint_scope.h"

namespace kit {
namespace {

// A memory device context with the bitmap selected; the selection is undone
// before the context goes.
class BitmapDC {
public:
    explicit BitmapDC(HBITMAP bitmap, HDC compatibleTo = nullptr)
        : dc(::CreateCompatibleDC(compatibleTo)), selected(dc.get(), dc ? bitmap : nullptr) {}
    HDC get() const { return dc.get(); }

private:
    ScopedMemoryDC dc;
    SelectedObject selected;
};

BITMAP describe(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || !::GetObjectA(bitmap, sizeof info, &info)) return BITMAP{};
    return info;
}

}  // namespace

int bitmapWidth(HBITMAP bitmap) { return describe(bitmap).bmWidth; }

int bitmapHeight(HBITMAP bitmap) { return describe(bitmap).bmHeight; }

void drawBitmap(HDC dc, HBITMAP bitmap, int x, int y) {
    BitmapDC source(bitmap, dc);
    ::BitBlt(dc, x, y, bitmapWidth(bitmap), bitmapHeight(bitmap), source.get(), 0, 0, SRCCOPY);
}

void drawBitmapTransparent(HDC dc, HBITMAP bitmap, COLORREF key) {
    BitmapDC source(bitmap, dc);
    int w = bitmapWidth(bitmap), h = bitmapHeight(bitmap);
    ::TransparentBlt(dc, 0, 0, w, h, source.get(), 0, 0, w, h, key);
}

COLORREF pixelAt(HBITMAP bitmap, int x, int y) {
    BitmapDC source(bitmap);
    return ::GetPixel(source.get(), x, y);
}

HRGN ellipticRegionOf(HBITMAP bitmap) { return ::CreateEllipticRgn(0, 0, bitmapWidth(bitmap), bitmapHeight(bitmap)); }

}  // namespace kit
