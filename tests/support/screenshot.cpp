#include "support/screenshot.h"

#include <algorithm>
#include <cstdio>

#include "support/support.h"

namespace testsupport {

Capture captureScreen(const RECT& area) {
    Capture c;
    c.width = area.right - area.left;
    c.height = area.bottom - area.top;
    if (c.width <= 0 || c.height <= 0) return Capture{};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c.width;
    info.bmiHeader.biHeight = -c.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, dib);
    ::BitBlt(memory, 0, 0, c.width, c.height, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    const auto* src = static_cast<const uint32_t*>(bits);
    c.pixels.assign(src, src + static_cast<std::size_t>(c.width) * c.height);
    for (auto& p : c.pixels) p &= 0x00FFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(dib);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return c;
}

Capture captureWindow(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    return captureScreen(r);
}

RECT inkBox(const Capture& c, const RECT& area, const std::function<bool(uint32_t)>& ink) {
    RECT box{area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom && y < c.height; ++y)
        for (int x = area.left; x < area.right && x < c.width; ++x)
            if (ink(c.at(x, y))) {
                if (x < box.left) box.left = x;
                if (y < box.top) box.top = y;
                if (x + 1 > box.right) box.right = x + 1;
                if (y + 1 > box.bottom) box.bottom = y + 1;
            }
    return box;
}

int countPixels(const Capture& c, const RECT& area, const std::function<bool(uint32_t)>& ink) {
    int n = 0;
    for (int y = area.top; y < area.bottom && y < c.height; ++y)
        for (int x = area.left; x < area.right && x < c.width; ++x)
            if (ink(c.at(x, y))) ++n;
    return n;
}

namespace {

uint32_t crc32(const unsigned char* data, std::size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    put32(out, crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

}  // namespace

bool savePng(const Capture& c, const std::string& path) {
    if (c.width <= 0 || c.height <= 0) return false;
    std::string raw;  // filter byte 0, then RGB, per row
    raw.reserve(static_cast<std::size_t>(c.height) * (1 + 3 * c.width));
    for (int y = 0; y < c.height; ++y) {
        raw += '\0';
        for (int x = 0; x < c.width; ++x) {
            uint32_t p = c.at(x, y);
            raw += static_cast<char>(Capture::red(p));
            raw += static_cast<char>(Capture::green(p));
            raw += static_cast<char>(Capture::blue(p));
        }
    }
    // zlib stream of stored blocks.
    std::string z = "\x78\x01";
    for (std::size_t at = 0; at < raw.size() || at == 0;) {
        std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        bool last = at + n >= raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, at, n);
        at += n;
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char ch : raw) {
        a = (a + ch) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put32(header, static_cast<uint32_t>(c.width));
    put32(header, static_cast<uint32_t>(c.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter choice, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    writeFile(path, png);
    return fileSize(path) == static_cast<int64_t>(png.size());
}

std::string screenshotPath(const std::string& name) {
    std::string folder = programFolder() + "\\..\\screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\" + name + ".png";
}

Capture screenshotWindow(HWND window, const std::string& name) {
    Capture c = captureWindow(window);
    savePng(c, screenshotPath(name));
    return c;
}

}  // namespace testsupport
