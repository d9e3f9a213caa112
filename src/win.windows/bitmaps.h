// Small drawing operations on device-dependent bitmaps.
#pragma once

#include <windows.h>

namespace kit {

// Copies the whole bitmap to (x, y) of `dc`.
void drawBitmap(HDC dc, HBITMAP bitmap, int x, int y);
// Copies the bitmap to (0, 0) of `dc`, leaving out the pixels of colour `key`.
void drawBitmapTransparent(HDC dc, HBITMAP bitmap, COLORREF key);
int bitmapWidth(HBITMAP bitmap);
int bitmapHeight(HBITMAP bitmap);
// The colour of one pixel; CLR_INVALID outside the bitmap.
COLORREF pixelAt(HBITMAP bitmap, int x, int y);
// The ellipse that fills the bitmap's rectangle (0, 0, width, height). The caller owns the region.
HRGN ellipticRegionOf(HBITMAP bitmap);

}  // namespace kit
