// What a window looks like on the screen: GDI capture of a screen area into
// pixels that tests can examine, and PNG files left under build/screenshots.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top-down

    uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    static int red(uint32_t p) { return (p >> 16) & 0xFF; }
    static int green(uint32_t p) { return (p >> 8) & 0xFF; }
    static int blue(uint32_t p) { return p & 0xFF; }
};

// The screen's pixels in `area` (screen coordinates).
Capture captureScreen(const RECT& area);
// The window's rectangle on the screen, as the user sees it (other windows in
// front of it included).
Capture captureWindow(HWND window);

// Bounding box of the pixels in `area` (capture coordinates) that satisfy `ink`;
// empty (right <= left) when there are none.
RECT inkBox(const Capture& capture, const RECT& area, const std::function<bool(uint32_t)>& ink);
int countPixels(const Capture& capture, const RECT& area, const std::function<bool(uint32_t)>& ink);

// Writes the capture as a PNG file (24-bit RGB, stored deflate blocks).
bool savePng(const Capture& capture, const std::string& path);
// <build>/screenshots/<name>.png, the folder created when missing.
std::string screenshotPath(const std::string& name);
// Captures the window and saves it as screenshotPath(name); returns the capture.
Capture screenshotWindow(HWND window, const std::string& name);

}  // namespace testsupport
