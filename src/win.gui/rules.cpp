#include "win.gui/rules.h"

namespace gui_rules {

bool startsInTray(std::string_view commandLine) noexcept {
    return commandLine.find(" -t") != std::string_view::npos ||
           commandLine.find(" --tray_run") != std::string_view::npos;
}

bool timeLimitReached(const kit::ElapsedTime& elapsed, int hours, int minutes) noexcept {
    if (elapsed.hours != hours) return elapsed.hours > hours;
    return elapsed.minutes >= minutes;
}

bool saveDialogExpired(const kit::ElapsedTime& elapsed) noexcept { return elapsed.minutes >= 1; }

namespace {
int fitInto(int at, int length, int low, int high) noexcept {
    long long placed = at;  // a stored position may be anything a 32-bit number holds
    if (placed + length > high) placed = static_cast<long long>(high) - length;
    return placed < low ? low : static_cast<int>(placed);
}
}  // namespace

Position placeInside(int x, int y, int width, int height, const Area& area) noexcept {
    return {fitInto(x, width, area.left, area.right), fitInto(y, height, area.top, area.bottom)};
}

const char* trayItemText(bool mainWindowVisible) noexcept {
    return mainWindowVisible ? "Send to System Tray" : "Restore size";
}

std::string openFolderCommand(const std::string& folder) { return "explorer " + folder; }

std::string recordedLine(const std::string& path, const char* time, uint32_t parts) {
    std::string line = "Recorded: " + path + " " + time;
    if (parts > 1) line += ", " + std::to_string(parts) + " parts";
    return line;
}

std::string partsHint(const std::string& path, uint32_t parts) {
    constexpr std::size_t kWidth = 24;
    std::size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > kWidth) name = name.substr(0, kWidth - 3) + "...";
    return name + " and " + std::to_string(parts - 1) + (parts == 2 ? " more part" : " more parts") +
           ".\nDouble click to open the folder.";
}

}  // namespace gui_rules
