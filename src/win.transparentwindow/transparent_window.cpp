#include "win.transparentwindow/transparent_window.h"

#include <string>
#include <string_view>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/text_code.h"
#include "win.windows/level_meter_paint.h"
#include "win.windows/paint_scope.h"
#include "win.windows/text_layout.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "popkit_win_tranparentwindow";
constexpr const char* kPaintFunction = "kit::TransparentWindow::handleMessage";
constexpr int kProgramIcon = 115;

void measure(HDC dc, std::string_view line, SIZE& extent) {
    // As UTF-16 from the process's code page: Wine's "A" calls read the font's code page instead.
    std::wstring wide = widen(line);
    if (!::GetTextExtentPoint32W(dc, wide.data(), static_cast<int>(wide.size()), &extent)) {
        setOrigin(kTraceSource, __LINE__, kPaintFunction);
        throw WindowsError("GetTextExtentPoint32() error");
    }
}

void draw(HDC dc, POINT at, std::string_view line) {
    std::wstring wide = widen(line);
    if (!::TextOutW(dc, at.x, at.y, wide.data(), static_cast<int>(wide.size()))) {
        setOrigin(kTraceSource, __LINE__, kPaintFunction);
        throw WindowsError("TextOut() error");
    }
}
}  // namespace

bool transparentWindowSize(int size, TransparentWindowSize& out) noexcept {
    switch (size) {
    case TWS_SMALL: out = {130, 40, 15, 400}; return true;
    case TWS_LARGE: out = {250, 50, 10, 700}; return true;
    default: return false;
    }
}

RECT keepBottomRight(const RECT& old, int newWidth, int newHeight) noexcept {
    int oldWidth = old.right - old.left, oldHeight = old.bottom - old.top;
    LONG left = old.left + oldWidth - newWidth, top = old.top + oldHeight - newHeight;
    return {left, top, left + newWidth, top + newHeight};
}

TransparentWindow::TransparentWindow(HINSTANCE instance, shared_string title) : CustomWindow(std::move(title)) {
    FW_TRACE("TransparentWindow()");
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CustomWindow::windowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClassName;
    registerClass(wc);
    FW_TRACE("wnd class registered");
    FW_TRACE("creating the window: class = %s", kClassName);

    applySize(TWS_SMALL);
    RECT desktop{}, work{};
    ::GetClientRect(::GetDesktopWindow(), &desktop);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int x = desktop.right - width, y = work.bottom - height;

    HWND created = ::CreateWindowExA(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, getName().c_str(),
                                     WS_POPUP | WS_BORDER, x, y, width, height, nullptr, nullptr, instance,
                                     static_cast<CustomWindow*>(this));
    if (!created) {
        FW_TRACE("CreateWindowEx() failed");
        throw WindowsError("CreateWindowEx() failed");
    }
    hWnd = created;
    setDefaultHandler(this);

    if (!::SetLayeredWindowAttributes(hWnd, RGB(255, 255, 255), kAlpha, LWA_ALPHA)) {
        DWORD error = ::GetLastError();
        FW_TRACE("SetLayeredWindowAttributes() failed. GetLastError() says:%lx", error);
        ::SetLastError(error);
        setOrigin(kTraceSource, __LINE__, "kit::TransparentWindow::TransparentWindow");
        throw WindowsError("SetLayeredWindowAttributes() failed");
    }
    FW_TRACE("Window created, hWnd = %p", static_cast<void*>(hWnd));
}

void TransparentWindow::applySize(int newSize) {
    if (newSize == size) return;
    TransparentWindowSize measures;
    if (!transparentWindowSize(newSize, measures)) {
        FW_TRACE("Warning: Unknown TRANSPARENT_WIN_SIZE constant!");
        return;
    }
    width = measures.width;
    height = measures.height;
    fontPoints = measures.fontPoints;
    fontWeight = measures.fontWeight;
    size = newSize;
    if (!hWnd) return;
    RECT old{};
    ::GetWindowRect(hWnd, &old);
    RECT now = keepBottomRight(old, width, height);
    FW_TRACE("Call SetWindowPos");
    if (!::SetWindowPos(hWnd, nullptr, now.left, now.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE))
        FW_TRACE("SetWindowPos error! GetLastError=%lu", ::GetLastError());
}

void TransparentWindow::setSizeAndMode(int newSize, int newMode) {
    applySize(newSize);
    mode = newMode;
}

void TransparentWindow::getSizeAndMode(int* sizeOut, int* modeOut) const noexcept {
    if (sizeOut) *sizeOut = size;
    if (modeOut) *modeOut = mode;
}

void TransparentWindow::show() {
    ::UpdateWindow(hWnd);
    // A notification must not take the keyboard from what the user is doing.
    ::ShowWindow(hWnd, SW_SHOWNOACTIVATE);
}

void TransparentWindow::hide() { ::ShowWindow(hWnd, SW_HIDE); }

void TransparentWindow::redraw() {
    if (hWnd) ::InvalidateRect(hWnd, nullptr, TRUE);
}

void TransparentWindow::timedMessage(const shared_string& message, int newMode, UINT ms, const char* function) {
    freezeText();
    text = message;  // the frozen flag does not apply here
    setSizeAndMode(TWS_LARGE, newMode);
    redraw();
    show();
    if (!::SetTimer(hWnd, kMessageTimer, ms, nullptr)) {
        FW_TRACE("Can't create timer. SetTimer() error.");
        setOrigin(kTraceSource, __LINE__, function);
        throw WindowsError("SetTimer() error");
    }
}

void TransparentWindow::LinkOn(const shared_string& message) {
    timedMessage(message, kLinkMode, kLinkMs, "kit::TransparentWindow::LinkOn");
}

void TransparentWindow::ReminderOn(const shared_string& message) {
    timedMessage(message, kPlainMode, kReminderMs, "kit::TransparentWindow::ReminderOn");
}

void TransparentWindow::setMeter(const MeterLevels& levels, bool visible) {
    if (levels == meter && visible == meterVisible) return;
    meter = levels;
    meterVisible = visible;
    if (hWnd && size == TWS_SMALL) ::InvalidateRect(hWnd, &kMeterBox, FALSE);
}

void TransparentWindow::handleMessage(UINT message, WPARAM, LPARAM, LRESULT& result, bool& handled) {
    switch (message) {
    case WM_DESTROY: FW_TRACE("WM_DESTROY"); break;
    case WM_SIZE: FW_TRACE("WM_SIZE"); break;
    case WM_PAINT: paint(); break;
    case WM_NCHITTEST:
        // The whole window is a caption: it can be dragged, and double clicks
        // arrive as WM_NCLBUTTONDBLCLK.
        result = HTCAPTION;
        handled = true;
        return;
    default: return;
    }
    result = 0;
    handled = true;
}

void TransparentWindow::paint() {
    shared_string shown = text;
    PaintScope paint(hWnd);
    HDC dc = paint.get();
    if (isMeterShown()) paintLevelMeter(dc, kMeterBox, meter, RGB(255, 255, 255));
    ::SetTextColor(dc, mode == kLinkMode ? kLinkColour : RGB(0, 0, 0));
    ::SetBkMode(dc, TRANSPARENT);
    if (fontsPending) {
        messageFont.reset(createVerdana(dc, 10, FW_BOLD));
        linkFont.reset(createVerdana(dc, 10, FW_BOLD, true));
        timeFont.reset(createVerdana(dc, 15, FW_NORMAL));
        fontsPending = false;
    }
    HFONT font = (mode == kLinkMode ? linkFont : fontPoints == 10 ? messageFont : timeFont).get();
    SelectedObject selected(dc, font);
    if (shown.empty()) return;

    const layout::TextBox box{0, 0, width, height};
    layout::Lines lines = layout::splitAtFirstLineFeed(shown.view());
    SIZE extent{};
    if (!lines.twoLines) {
        measure(dc, lines.first, extent);
        draw(dc, layout::singleLine(box, extent), lines.first);
        return;
    }
    measure(dc, lines.first, extent);
    draw(dc, layout::firstOfTwoLines(box, extent), lines.first);
    measure(dc, lines.second, extent);
    draw(dc, layout::secondOfTwoLines(box, extent), lines.second);
}

}  // namespace kit
