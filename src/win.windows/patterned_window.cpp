#include "win.windows/patterned_window.h"

#include <string>
#include <string_view>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/text_code.h"
#include "kit/scoped.h"
#include "win.windows/bitmaps.h"
#include "win.windows/level_meter_paint.h"
#include "win.windows/paint_scope.h"
#include "win.windows/text_layout.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kit_window";
constexpr const char* kPaintFunction = "kit::PatternedWindow::handleMessage";
constexpr int kProgramIcon = 115;

void measure(HDC dc, std::string_view line, SIZE& extent, origins::Site origin) {
    // As UTF-16 from the process's code page: Wine's "A" calls read the font's code page instead.
    std::wstring wide = widen(line);
    if (!::GetTextExtentPoint32W(dc, wide.data(), static_cast<int>(wide.size()), &extent)) {
        setOrigin(origin, kPaintFunction);
        throw WindowsError("GetTextExtentPoint32() error");
    }
}

void draw(HDC dc, POINT at, std::string_view line, origins::Site origin) {
    std::wstring wide = widen(line);
    if (!::TextOutW(dc, at.x, at.y, wide.data(), static_cast<int>(wide.size()))) {
        setOrigin(origin, kPaintFunction);
        throw WindowsError("TextOut() error");
    }
}
}  // namespace

HFONT createVerdana(HDC dc, int points, int weight, bool underline) {
    return ::CreateFontA(layout::fontHeight(points, ::GetDeviceCaps(dc, LOGPIXELSY)), 0, 0, 0, weight, FALSE,
                         underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Verdana");
}

PatternedWindow::PatternedWindow(HINSTANCE instance, shared_string name_, HBITMAP skin_, HBITMAP overlay_)
    : CustomWindow(std::move(name_)), skin(skin_), overlay(overlay_), height(0), width(0) {
    FW_TRACE("PatternedWindow()");
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CustomWindow::windowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszClassName = kClassName;
    registerClass(wc);
    FW_TRACE("wnd class registered");
    FW_TRACE("creating the window: class = %s", kClassName);

    int w = bitmapWidth(skin_), h = bitmapHeight(skin_);
    HWND created =
        ::CreateWindowExA(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, getName().c_str(), WS_POPUP, 20,
                          20, w, h, nullptr, nullptr, instance, static_cast<CustomWindow*>(this));
    if (!created) {
        FW_TRACE("CreateWindowEx() failed");
        throw WindowsError("CreateWindowEx() failed");
    }
    hWnd = created;
    width = w;
    height = h;
    setDefaultHandler(this);

    if (!::SetLayeredWindowAttributes(hWnd, pixelAt(skin_, 0, 0), kAlpha, LWA_COLORKEY | LWA_ALPHA)) {
        DWORD error = ::GetLastError();
        FW_TRACE("SetLayeredWindowAttributes() failed. GetLastError() says:%lx", error);
        ::SetLastError(error);
        setOrigin(origins::kPatternedWindowCreate, "kit::PatternedWindow::PatternedWindow");
        throw WindowsError("SetLayeredWindowAttributes() failed");
    }
    FW_TRACE("Window created, hWnd = %p", static_cast<void*>(hWnd));
}

void PatternedWindow::redraw() {
    if (hWnd) ::InvalidateRect(hWnd, nullptr, TRUE);
}

void PatternedWindow::setMeter(const MeterLevels& levels, bool visible) {
    if (levels == meter && visible == meterVisible) return;
    meter = levels;
    meterVisible = visible;
    if (hWnd) ::InvalidateRect(hWnd, &kMeterBox, FALSE);
}

void PatternedWindow::handleMessage(UINT message, WPARAM, LPARAM, LRESULT& result, bool& handled) {
    switch (message) {
    case WM_DESTROY:
        FW_TRACE("WM_DESTROY");
        ::PostQuitMessage(0);
        result = 0;
        handled = true;
        break;
    case WM_SIZE:
        FW_TRACE("WM_SIZE");
        result = 0;
        handled = true;
        break;
    case WM_NCHITTEST:
        result = HTCAPTION;  // a drag anywhere moves the window
        handled = true;
        break;
    case WM_PAINT:
        paint();
        result = 0;
        handled = true;
        break;
    case WM_CTLCOLORBTN:
        // A bitmap button draws its own face: its background is not erased
        // over the skin.
        result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        handled = true;
        break;
    default: break;
    }
}

void PatternedWindow::paint() {
    PaintScope paint(hWnd);
    HDC dc = paint.get();
    shared_string shown = text;

    drawBitmap(dc, skin, 0, 0);
    if (overlayVisible) drawBitmap(dc, overlay, kOverlayAt.x, kOverlayAt.y);
    if (meterVisible) paintLevelMeter(dc, kMeterBox, meter, RGB(255, 255, 255));
    if (!textVisible) return;

    ScopedGdiObject font(createVerdana(dc, layout::mainTextPoints(shown.length()), FW_NORMAL));
    SelectedObject selected(dc, font.get());
    TEXTMETRICA metrics;
    ::GetTextMetricsA(dc, &metrics);
    ::SetBkMode(dc, TRANSPARENT);
    if (shown.empty()) return;

    const layout::TextBox& box = layout::kMainTextBox;
    layout::Lines lines = layout::splitAtFirstLineFeed(shown.view());
    SIZE extent{};
    if (!lines.twoLines) {
        measure(dc, lines.first, extent, origins::kMeasureSingleLine);
        draw(dc, layout::singleLine(box, extent), lines.first, origins::kDrawSingleLine);
        return;
    }
    bool offersClick = shown.view().find("click") != std::string_view::npos;
    if (offersClick) ::SetTextColor(dc, kLinkColour);
    measure(dc, lines.first, extent, origins::kMeasureFirstLine);
    draw(dc, layout::firstOfTwoLines(box, extent), lines.first, origins::kDrawFirstLine);
    measure(dc, lines.second, extent, origins::kMeasureSecondLine);
    draw(dc, layout::secondOfTwoLines(box, extent), lines.second, origins::kDrawSecondLine);
    if (offersClick) ::SetTextColor(dc, RGB(0, 0, 0));
}

}  // namespace kit
