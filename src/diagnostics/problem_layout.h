// Where the parts of a problem window go: pure arithmetic on rectangles, so
// that the window code only measures and moves.
#pragma once

namespace fw::layout {

struct Box {
    int x, y, width, height;
    bool operator==(const Box&) const = default;
};

constexpr int kTitleHeight = 24;
constexpr int kEntryStep = 44;    // one notice's text line and the gap below it
constexpr int kEntryHeight = 42;
constexpr int kEntryIndent = 48;  // the warning icon sits left of the text
constexpr int kLinkHeight = 16;
constexpr int kFrameExtra = 20;   // frame height beyond the panel's
constexpr int kMaxEntries = 10;

// The height a panel needs for `entries` notices.
int panelHeight(int entries, bool withTitle) noexcept;

// A free-standing frame: the lower right third of a screen of `screenWidth` x `screenHeight`.
Box frameAtScreenEdge(int screenWidth, int screenHeight, int panelHeight) noexcept;
// A frame under its owner window (screen rectangle left, top, right, bottom).
Box frameUnderOwner(int left, int top, int right, int bottom, int panelHeight) noexcept;
// The panel inside the frame's client area.
Box panelInFrame(int clientWidth, int clientHeight) noexcept;

// The children of a panel whose client area is `width` wide, with `entries`
// notices in position order; the links are `hideWidth` and `sendWidth` wide.
struct PanelLayout {
    Box title{};
    Box entries[kMaxEntries]{};
    Box hideLink{};
    Box sendLink{};
    int height = 0;  // the laid-out height
};
PanelLayout layoutPanel(int width, int entries, bool withTitle, int hideWidth, int sendWidth) noexcept;

// The distance still to go after `step` of `steps` steps of a slide over `distance` pixels.
int slideRemaining(int step, int steps, int distance) noexcept;

}  // namespace fw::layout
