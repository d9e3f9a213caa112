#include "diagnostics/problem_layout.h"

#include <algorithm>

namespace fw::layout {

int entryWidth(int panelWidth) noexcept { return panelWidth - kEntryIndent + 1; }

int entryHeight(int textHeight) noexcept { return std::max(kEntryHeight, textHeight); }

int panelHeight(std::span<const int> textHeights, bool withTitle) noexcept {
    int height = kLinkHeight + (withTitle ? kTitleHeight : 0);
    for (std::size_t i = 0; i < textHeights.size() && i < kMaxEntries; ++i)
        height += entryHeight(textHeights[i]) + kEntryGap;
    return height;
}

Box frameAtScreenEdge(int screenWidth, int screenHeight, int panelHeight) noexcept {
    int width = screenWidth / 3;
    return {screenWidth - width, 2 * screenHeight / 3, width, panelHeight + kFrameExtra};
}

Box frameUnderOwner(int left, int top, int right, int bottom, int panelHeight) noexcept {
    return {left + 50, bottom - 1, right - left - 99, panelHeight + kFrameExtra};
}

Box panelInFrame(int clientWidth, int clientHeight) noexcept { return {10, 4, clientWidth - 19, clientHeight - 7}; }

PanelLayout layoutPanel(int width, std::span<const int> textHeights, bool withTitle, int hideWidth,
                        int sendWidth) noexcept {
    PanelLayout l;
    int y = 0;
    if (withTitle) {
        l.title = {0, y, width + 1, kTitleHeight};
        y += kTitleHeight;
    }
    for (std::size_t i = 0; i < textHeights.size() && i < kMaxEntries; ++i) {
        int height = entryHeight(textHeights[i]);
        l.entries[i] = {kEntryIndent, y, entryWidth(width), height};
        y += height + kEntryGap;
    }
    l.hideLink = {0, y, hideWidth + 1, kLinkHeight};
    l.sendLink = {width - sendWidth, y, sendWidth + 1, kLinkHeight};
    l.height = y + kLinkHeight;
    return l;
}

int slideRemaining(int step, int steps, int distance) noexcept {
    if (steps <= 0 || step >= steps) return 0;
    if (step <= 0) return distance;
    return distance - distance * step / steps;
}

}  // namespace fw::layout
