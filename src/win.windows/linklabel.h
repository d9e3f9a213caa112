// A link label turns an existing static text control into a clickable,
// underlined link: link colour (another colour once visited), hand cursor,
// optional keyboard focus, and on activation it opens its target with the
// shell and/or tells its parent with WM_COMMAND (notification code 0).
//
// It replaces the control's window procedure and keeps its own data with the
// control; the data is freed and the old procedure restored when the control
// is destroyed. Depends on nothing but the platform.
#pragma once

#include <windows.h>

namespace kit {

enum LinkLabelFlags : unsigned {
    LINK_ALIGN_RIGHT = 0x001,
    LINK_ALIGN_CENTER = 0x002,  // when LINK_ALIGN_RIGHT is clear
    LINK_ALIGN_VCENTER = 0x004,
    LINK_ALIGN_BOTTOM = 0x008,  // takes precedence over LINK_ALIGN_VCENTER
    LINK_VISITED = 0x010,       // set by a successful opening
    LINK_FOCUSABLE = 0x020,     // tab stop, focus rectangle, space activates
    LINK_SIZE_TO_TEXT = 0x040,
    LINK_NOTIFY_PARENT = 0x080,  // activation sends WM_COMMAND (code 0) to the parent
    LINK_NO_OPEN = 0x100,        // activation opens nothing with the shell
};

constexpr COLORREF kLinkColour = 0xFF0000;     // blue
constexpr COLORREF kVisitedColour = 0x800080;  // purple

// Makes `control` a link label, or updates one that already is. `target` is
// what activation opens (null or empty: the control's own text, at most 260
// characters); a colour of 0 takes the default. False when `control` is not a
// window or memory is short.
bool makeLinkLabel(HWND control, const char* target, COLORREF linkColour, COLORREF visitedColour, unsigned flags);

// Sizes the link label to its text now and redraws it.
bool sizeLinkLabelToText(HWND control);

// The DrawText format of a link label's text for its flags.
UINT linkLabelTextFormat(unsigned flags) noexcept;

}  // namespace kit
