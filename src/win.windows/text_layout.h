// Where the skinned windows put their text: pure arithmetic, shared by the
// main window and the notification window.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>

namespace kit::layout {

struct TextBox {
    int left;
    int top;
    int width;
    int height;
};

// The main window's text box.
constexpr TextBox kMainTextBox{118, 11, 221, 65};

// Points of the main window's font: 28, or 11 for a text longer than 10 characters.
constexpr int mainTextPoints(std::size_t length) noexcept { return length > 10 ? 11 : 28; }

// Logical height of a font of `points` on a device with `logPixelsY` (negative:
// character height), rounded as MulDiv rounds.
int fontHeight(int points, int logPixelsY) noexcept;

// A single line, centred in the box.
constexpr POINT singleLine(const TextBox& box, SIZE extent) noexcept {
    return {box.left + (box.width - extent.cx) / 2, box.top + (box.height - extent.cy) / 2};
}
// The first of two lines: above the middle.
constexpr POINT firstOfTwoLines(const TextBox& box, SIZE extent) noexcept {
    return {box.left + (box.width - extent.cx) / 2, box.top + (box.height - 2 * extent.cy - 5) / 2};
}
// The second of two lines: below the middle, 5 pixels under the first.
constexpr POINT secondOfTwoLines(const TextBox& box, SIZE extent) noexcept {
    return {box.left + (box.width - extent.cx) / 2, box.top + 5 + extent.cy + (box.height - 2 * extent.cy - 10) / 2};
}

// A text split at its first line feed: line 1 before it, line 2 (possibly
// holding further line feeds) after it.
struct Lines {
    std::string_view first;
    std::string_view second;
    bool twoLines;
};
Lines splitAtFirstLineFeed(std::string_view text) noexcept;

}  // namespace kit::layout
