#include "win.windows/text_layout.h"

namespace kit::layout {

int fontHeight(int points, int logPixelsY) noexcept { return -::MulDiv(points, logPixelsY, 72); }

Lines splitAtFirstLineFeed(std::string_view text) noexcept {
    std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) return {text, {}, false};
    return {text.substr(0, lf), text.substr(lf + 1), true};
}

}  // namespace kit::layout
