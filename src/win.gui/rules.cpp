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

const char* trayItemText(bool mainWindowVisible) noexcept {
    return mainWindowVisible ? "Send to System Tray" : "Restore size";
}

std::string openFolderCommand(const std::string& folder) { return "explorer " + folder; }

std::string outputFailedMessage(const std::string& path) {
    return "The file\n" + path +
           "\ncould not be created (the folder may not exist or may not be writable, or the MP3 encoder "
           "lame_enc.dll may be missing).\n\nThe recording is stopped; nothing has been saved.";
}

}  // namespace gui_rules
