// Scope helpers for painting: BeginPaint/EndPaint, a window's device context
// and a selected GDI object, so that a failure while drawing never leaves a
// window unvalidated, a context held or an object selected.
#pragma once

#include <windows.h>

namespace kit {

class PaintScope {
public:
    explicit PaintScope(HWND hwnd_) : hwnd(hwnd_), dc(::BeginPaint(hwnd_, &ps)) {}
    ~PaintScope() { ::EndPaint(hwnd, &ps); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC get() const noexcept { return dc; }

private:
    PAINTSTRUCT ps{};
    HWND hwnd;
    HDC dc;
};

// The window's client-area device context (GetDC), released on scope exit.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd_) : hwnd(hwnd_), dc(::GetDC(hwnd_)) {}
    ~WindowDC() {
        if (dc) ::ReleaseDC(hwnd, dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const noexcept { return dc; }

private:
    HWND hwnd;
    HDC dc;
};

class SelectedObject {
public:
    SelectedObject(HDC dc_, HGDIOBJ object) : dc(dc_), old(object ? ::SelectObject(dc_, object) : nullptr) {}
    ~SelectedObject() {
        if (old) ::SelectObject(dc, old);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc;
    HGDIOBJ old;
};

// A "Verdana" font of the given points for the device, as the skinned windows use it.
HFONT createVerdana(HDC dc, int points, int weight, bool underline = false);

}  // namespace kit
