#include "win.gui/rules.h"

#include <cstdio>

#include "kit/text_code.h"

namespace gui_rules {

bool startsInTray(std::string_view commandLine) noexcept {
    return commandLine.find(" -t") != std::string_view::npos ||
           commandLine.find(" --tray_run") != std::string_view::npos;
}

bool timeLimitReached(const kit::ElapsedTime& elapsed, int hours, int minutes) noexcept {
    if (elapsed.hours != hours) return elapsed.hours > hours;
    return elapsed.minutes >= minutes;
}

bool saveDialogExpired(const kit::ElapsedTime& elapsed) noexcept {
    int64_t seconds = static_cast<int64_t>(elapsed.hours) * 3600 + elapsed.minutes * 60 + elapsed.seconds;
    return seconds * 1000 >= engine::kOutputChoiceMs;
}

namespace {
std::string count(uint64_t n, const char* unit) { return std::to_string(n) + " " + unit + (n == 1 ? "" : "s"); }
}  // namespace

std::string durationText(uint64_t ms) {
    if (ms < 60000) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f seconds", static_cast<double>(ms / 100) / 10.0);
        return text;
    }
    uint64_t seconds = ms / 1000;
    if (seconds < 3600) return count(seconds / 60, "minute") + " " + count(seconds % 60, "second");
    return count(seconds / 3600, "hour") + " " + count(seconds / 60 % 60, "minute");
}

namespace {
std::string lossNotice(const engine::RecordingOutcome& outcome, const std::string& path) {
    if (!outcome.saved || (!outcome.deviceLost && outcome.lostMs == 0 && outcome.deviceChanges == 0)) return "";
    std::string lost = "About " + durationText(outcome.lostMs) + " of sound could not be recorded";
    if (!outcome.deviceLost && outcome.lostMs == 0)
        return "The playback device changed during the recording (" + count(outcome.deviceChanges, "time") +
               "): the recording went on with the new default device, with silence while it changed.\n\n" +
               "The recording is in\n" + path + ".";
    if (!outcome.deviceLost) {
        std::string changed = outcome.deviceChanges == 0
                                  ? ""
                                  : "The playback device changed during the recording (" +
                                        count(outcome.deviceChanges, "time") +
                                        "): the recording went on with the new default device.\n\n";
        return changed + lost + " and are missing from\n" + path +
               "\n\nThe computer or its disk could not keep up with the recording.";
    }
    std::string text =
        "The recording device was lost: it stopped delivering sound (it may have been unplugged, "
        "switched off or taken by another program).\n\nThe recording was ended and saved: " +
        durationText(outcome.recordedMs) + " of sound are in\n" + path + ".";
    if (outcome.lostMs) text += "\n\n" + lost + " before that.";
    return text;
}
}  // namespace

std::string recordingNotice(const engine::RecordingOutcome& outcome, const std::string& path, uint32_t parts) {
    std::string loss = lossNotice(outcome, path);
    if (!outcome.saved || outcome.rateChanges == 0) return loss;
    std::string split = "The playback device's rate changed during the recording (" +
                        count(outcome.rateChanges, "time") + "), so the recording was split into " +
                        count(parts, "file") + ", each at the rate its device played: the first is\n" + path +
                        ", the others are beside it, numbered.";
    return loss.empty() ? split : split + "\n\n" + loss;
}

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

std::vector<std::string> recordedLines(const std::string& path, const char* time,
                                       const std::vector<kit::FilePart>& files, int bits) {
    std::string depth = bits == 24 ? ", 24 bit" : "";
    if (files.size() < 2) return {"Recorded: " + path + " " + time + depth};
    std::vector<std::string> lines;
    for (const kit::FilePart& file : files) {
        uint64_t seconds = file.samplesPerSec > 0 ? file.frames / static_cast<uint64_t>(file.samplesPerSec) : 0;
        lines.push_back("Recorded: " + file.path + " " + kit::formatElapsed(static_cast<uint32_t>(seconds)) + depth);
    }
    return lines;
}

std::string silenceStopItem(int32_t minutes) {
    return "Stop after " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes") + " of silence";
}

std::string silenceSplitItem(int32_t seconds) {
    return "New file at each silence of " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

std::string partsHint(const std::string& path, uint32_t parts) {
    constexpr std::size_t kWidth = 24;
    std::size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > kWidth) name = name.substr(0, kWidth - 3) + "...";
    return name + " and " + std::to_string(parts - 1) + (parts == 2 ? " more part" : " more parts") +
           ".\nDouble click to open the folder.";
}

std::string sourceText(const engine::CaptureSource& source) {
    if (source.fellBack) return "Recording line (loopback not available)";
    if (!source.loopback) return "Recording line";
    return "Loopback of " + (source.device.empty() ? std::string("the playback device") : source.device);
}

const std::string& nothingHeardText() {
    static const std::string text = kit::narrow(kNothingHeard);
    return text;
}

std::string trayTip(const engine::CaptureSource& source) { return "Sonotape: " + sourceText(source); }

}  // namespace gui_rules
