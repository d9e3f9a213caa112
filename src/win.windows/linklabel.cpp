#include "win.windows/linklabel.h"

#include <windowsx.h>
#include <shellapi.h>

#include <cstdio>
#include <new>
#include <optional>

#include "kit/scoped.h"
#include "win.windows/paint_scope.h"

namespace kit {
namespace {

constexpr const char* kDataProperty = "kit.LinkLabel";
constexpr int kMaxText = 260;

// Kept with the control (as a window property) from makeLinkLabel until its WM_NCDESTROY.
struct LinkData {
    char target[kMaxText + 1] = {};
    WNDPROC previous = nullptr;
    ScopedCursor cursor;
    ScopedFont font;  // underlined copy of the control's font
    COLORREF link = kLinkColour;
    COLORREF visited = kVisitedColour;
    bool pressed = false;
    unsigned flags = 0;
};

LinkData* dataOf(HWND control) noexcept { return static_cast<LinkData*>(::GetPropA(control, kDataProperty)); }

// Activation sends messages and starts programs; the control may be gone afterwards.
bool stillAttached(HWND control, const LinkData* data) noexcept {
    return ::IsWindow(control) && dataOf(control) == data;
}

int textOf(HWND control, char (&text)[kMaxText + 1]) noexcept {
    text[0] = '\0';
    return ::GetWindowTextA(control, text, sizeof text);
}

HGDIOBJ fontOf(const LinkData* data) noexcept {
    return data->font ? static_cast<HGDIOBJ>(data->font.get()) : ::GetStockObject(SYSTEM_FONT);
}

void draw(HWND control, const LinkData* data, HDC dc) {
    RECT area;
    ::GetClientRect(control, &area);
    int saved = ::SaveDC(dc);
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    if ((data->flags & LINK_FOCUSABLE) && ::GetFocus() == control) {
        ::DrawFocusRect(dc, &area);
        ::InflateRect(&area, -1, -1);
    }
    char text[kMaxText + 1];
    int length = textOf(control, text);
    ::SelectObject(dc, fontOf(data));
    ::SetTextColor(dc, (data->flags & LINK_VISITED) ? data->visited : data->link);
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextA(dc, text, length, &area, linkLabelTextFormat(data->flags));
    ::RestoreDC(dc, saved);
}

bool sizeToText(HWND control, const LinkData* data, bool redraw) {
    char text[kMaxText + 1];
    int length = textOf(control, text);
    RECT extent = {0, 0, 0, 0};
    {
        WindowDC dc(control);
        if (!dc.get()) return false;
        SelectedObject font(dc.get(), fontOf(data));
        ::DrawTextA(dc.get(), text, length, &extent, linkLabelTextFormat(data->flags) | DT_CALCRECT);
    }
    int width = extent.right - extent.left, height = extent.bottom - extent.top;
    if (data->flags & LINK_FOCUSABLE) {
        width += 2;
        height += 2;
    }
    UINT how = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | (redraw ? 0 : SWP_NOREDRAW);
    if (!::SetWindowPos(control, nullptr, 0, 0, width, height, how)) return false;
    if (redraw) ::InvalidateRect(control, nullptr, TRUE);
    return true;
}

void activate(HWND control, LinkData* data) {
    if (!(data->flags & LINK_NO_OPEN)) {
        char text[kMaxText + 1];
        const char* what = data->target;
        if (!*what) {
            textOf(control, text);
            what = text;
        }
        auto result =
            reinterpret_cast<INT_PTR>(::ShellExecuteA(control, "open", what, nullptr, nullptr, SW_SHOWNORMAL));
        if (!stillAttached(control, data)) return;
        if (result > 32) {
            data->flags |= LINK_VISITED;
            ::InvalidateRect(control, nullptr, TRUE);
        }
    }
    if (data->flags & LINK_NOTIFY_PARENT) {
        WPARAM command = MAKEWPARAM(::GetDlgCtrlID(control) & 0xFFFF, 0);
        ::SendMessageA(::GetParent(control), WM_COMMAND, command, reinterpret_cast<LPARAM>(control));
    }
}

bool releasedInside(HWND control, LPARAM position) noexcept {
    POINT p = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ::ClientToScreen(control, &p);
    RECT window;
    return ::GetWindowRect(control, &window) && ::PtInRect(&window, p);
}

void setFont(HWND control, LinkData* data, HFONT font) {
    LOGFONTA description;
    HGDIOBJ base = font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(SYSTEM_FONT);
    if (::GetObjectA(base, sizeof description, &description) == sizeof description) {
        description.lfUnderline = TRUE;
        if (HFONT underlined = ::CreateFontIndirectA(&description)) data->font.reset(underlined);
    }
}

// Keyboard and mouse: a press released inside the link, or the space bar when
// the link takes the focus, activates it. The answer, when the message is
// taken here; activating may destroy the control (and `data`).
std::optional<LRESULT> handleInput(HWND control, LinkData* data, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool focusable = data->flags & LINK_FOCUSABLE;
    switch (message) {
    case WM_GETDLGCODE:
        if (focusable) return DLGC_WANTCHARS;
        break;
    case WM_KEYDOWN:
        if (focusable && wParam == VK_SPACE) {
            activate(control, data);
            return 0;
        }
        break;
    case WM_KEYUP:
        if (focusable && wParam == VK_SPACE) return 0;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (focusable) ::SetFocus(control);
        ::SetCapture(control);
        data->pressed = true;
        // Not passed on: the static control would send its own click
        // notification (code 0) to the parent on every press, which the
        // parent could not tell from an activation.
        return 0;
    case WM_LBUTTONUP:
        ::ReleaseCapture();
        if (data->pressed) {
            data->pressed = false;
            if (releasedInside(control, lParam)) {
                activate(control, data);
                if (!stillAttached(control, data)) return 0;
            }
        }
        break;
    default: break;
    }
    return std::nullopt;
}

// Focus, text, font and painting. The answer, when the message is taken here.
std::optional<LRESULT> handleAppearance(HWND control, LinkData* data, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (!(data->flags & LINK_FOCUSABLE)) break;
        ::InvalidateRect(control, nullptr, TRUE);
        return 0;
    case WM_SETTEXT: {
        LRESULT result = ::CallWindowProcA(data->previous, control, message, wParam, lParam);
        if (data->flags & LINK_SIZE_TO_TEXT) sizeToText(control, data, false);
        ::InvalidateRect(control, nullptr, TRUE);
        return result;
    }
    case WM_PAINT: {
        PaintScope paint(control);
        if (paint.get()) draw(control, data, paint.get());
        return 0;
    }
    case WM_PRINTCLIENT: draw(control, data, reinterpret_cast<HDC>(wParam)); return 0;
    case WM_SETCURSOR: ::SetCursor(data->cursor ? data->cursor.get() : ::LoadCursorA(nullptr, IDC_ARROW)); return 1;
    case WM_NCHITTEST: return HTCLIENT;
    case WM_SETFONT:
        setFont(control, data, reinterpret_cast<HFONT>(wParam));
        ::CallWindowProcA(data->previous, control, WM_SETFONT, wParam, FALSE);
        if (data->flags & LINK_SIZE_TO_TEXT) sizeToText(control, data, false);
        if (LOWORD(lParam)) ::InvalidateRect(control, nullptr, TRUE);
        return 0;
    case WM_USER:
        if (data->flags & LINK_SIZE_TO_TEXT) sizeToText(control, data, false);
        return 0;
    default: break;
    }
    return std::nullopt;
}

LRESULT CALLBACK linkProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    LinkData* data = dataOf(control);
    if (!data) return ::DefWindowProcA(control, message, wParam, lParam);
    WNDPROC previous = data->previous;  // `data` may be gone after an activation
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        ::RemovePropA(control, kDataProperty);
        delete data;
        return ::CallWindowProcA(previous, control, message, wParam, lParam);
    }
    if (std::optional<LRESULT> answer = handleAppearance(control, data, message, wParam, lParam)) return *answer;
    if (std::optional<LRESULT> answer = handleInput(control, data, message, wParam, lParam)) return *answer;
    return ::CallWindowProcA(previous, control, message, wParam, lParam);
}

}  // namespace

UINT linkLabelTextFormat(unsigned flags) noexcept {
    UINT format = DT_SINGLELINE | DT_NOPREFIX;
    if (flags & LINK_ALIGN_RIGHT)
        format |= DT_RIGHT;
    else if (flags & LINK_ALIGN_CENTER)
        format |= DT_CENTER;
    if (flags & LINK_ALIGN_BOTTOM)
        format |= DT_BOTTOM;
    else if (flags & LINK_ALIGN_VCENTER)
        format |= DT_VCENTER;
    return format;
}

bool makeLinkLabel(HWND control, const char* target, COLORREF linkColour, COLORREF visitedColour, unsigned flags) {
    if (!control || !::IsWindow(control)) return false;
    LinkData* data = dataOf(control);
    if (!data) {
        data = new (std::nothrow) LinkData;
        if (!data) return false;
        if (!::SetPropA(control, kDataProperty, data)) {
            delete data;
            return false;
        }
        data->previous = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&linkProcedure)));
        if (!data->previous) {
            ::RemovePropA(control, kDataProperty);
            delete data;
            return false;
        }
        data->cursor.reset(static_cast<HCURSOR>(::CopyIcon(::LoadCursorA(nullptr, IDC_HAND))));
        // Applying the current font again makes the underlined copy.
        ::SendMessageA(control, WM_SETFONT, ::SendMessageA(control, WM_GETFONT, 0, 0), FALSE);
    }
    std::snprintf(data->target, sizeof data->target, "%s", target ? target : "");
    data->link = linkColour ? linkColour : kLinkColour;
    data->visited = visitedColour ? visitedColour : kVisitedColour;
    data->flags = flags;

    LONG_PTR style = ::GetWindowLongPtrA(control, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_BORDER | WS_TABSTOP);
    style |= SS_NOTIFY;
    if (flags & LINK_FOCUSABLE) style |= WS_TABSTOP;
    ::SetWindowLongPtrA(control, GWL_STYLE, style);
    ::SetWindowPos(control, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    if (flags & LINK_SIZE_TO_TEXT) sizeToText(control, data, false);
    ::InvalidateRect(control, nullptr, TRUE);
    return true;
}

bool sizeLinkLabelToText(HWND control) {
    LinkData* data = control ? dataOf(control) : nullptr;
    if (!data) return false;
    return sizeToText(control, data, true);
}

}  // namespace kit
