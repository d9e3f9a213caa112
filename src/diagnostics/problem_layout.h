// Where the parts of a problem window go: pure arithmetic on rectangles, so
// that the window code only measures and moves.
#pragma once

#include <span>

namespace fw::layout {

struct Box {
    int x, y, width, height;
    bool operator==(const Box&) const = default;
};

constexpr int kTitleHeight = 24;
constexpr int kEntryHeight = 42;  // at least: the warning icon and a short text
constexpr int kEntryGap = 2;      // below each notice
constexpr int kEntryIndent = 48;  // the warning icon sits left of the text
constexpr int kLinkHeight = 16;
constexpr int kFrameExtra = 20;  // frame height beyond the panel's
constexpr int kMaxEntries = 10;

// A notice's text is as wide as this in a panel `panelWidth` wide; laid out
// at that width it needs some height (`textHeights` below: one per notice,
// in position order), and its entry is that high, but never lower than
// kEntryHeight, so that the whole text shows.
int entryWidth(int panelWidth) noexcept;
int entryHeight(int textHeight) noexcept;

// The height a panel needs for its notices.
int panelHeight(std::span<const int> textHeights, bool withTitle) noexcept;

// A free-standing frame: the lower right third of a screen of `screenWidth` x `screenHeight`.
Box frameAtScreenEdge(int screenWidth, int screenHeight, int panelHeight) noexcept;
// A frame under its owner window (screen rectangle left, top, right, bottom).
Box frameUnderOwner(int left, int top, int right, int bottom, int panelHeight) noexcept;
// The panel inside the frame's client area.
Box panelInFrame(int clientWidth, int clientHeight) noexcept;

// The children of a panel whose client area is `width` wide, with its
// notices' text heights in position order; the links are `hideWidth` and
// `sendWidth` wide.
struct PanelLayout {
    Box title{};
    Box entries[kMaxEntries]{};
    Box hideLink{};
    Box sendLink{};
    int height = 0;  // the laid-out height
};
PanelLayout layoutPanel(int width, std::span<const int> textHeights, bool withTitle, int hideWidth,
                        int sendWidth) noexcept;

// The distance still to go after `step` of `steps` steps of a slide over `distance` pixels.
int slideRemaining(int step, int steps, int distance) noexcept;

}  // namespace fw::layout
