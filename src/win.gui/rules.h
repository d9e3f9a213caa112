// The user interface's small decisions as pure functions: the command line,
// the recording's time limit, the save dialog's time-out, menu texts and the
// texts the program shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "win.windows/timer.h"

namespace gui_rules {

// " -t" or " --tray_run" anywhere in the whole command line (with its leading
// blank, as a plain substring) starts the program in the tray.
bool startsInTray(std::string_view commandLine) noexcept;

// The recording's time limit is reached when (hours, minutes) of the elapsed
// time, compared as a pair with hours first, is equal to the limit or greater.
bool timeLimitReached(const kit::ElapsedTime& elapsed, int hours, int minutes) noexcept;

// A recording options dialog left open is closed once the recording has run
// for the engine's kOutputChoiceMs (one minute): the engine keeps what is
// recorded until then.
bool saveDialogExpired(const kit::ElapsedTime& elapsed) noexcept;

// Where a window of `width` x `height` stored at (x, y) goes so that all of it
// lies in `area` (a monitor's work area: left, top, right, bottom), moved as
// little as possible; a window larger than the area shows its top left
// corner (caption) in it.
struct Area {
    int left, top, right, bottom;
};
struct Position {
    int x, y;
    bool operator==(const Position&) const = default;
};
Position placeInside(int x, int y, int width, int height, const Area& area) noexcept;

// A length of sound in words: "3.4 seconds", "2 minutes 5 seconds",
// "1 hour 2 minutes".
std::string durationText(uint64_t ms);

// What the user is told after a recording to `path` (in `parts` files) that
// lost its device or some of its sound, or was split because the device's
// rate changed; "" when nothing of the kind happened.
std::string recordingNotice(const engine::RecordingOutcome& outcome, const std::string& path, uint32_t parts = 1);

// Text of the context menu's tray item.
const char* trayItemText(bool mainWindowVisible) noexcept;

// The command that opens the folder of a recording: "explorer " and the folder.
std::string openFolderCommand(const std::string& folder);

// The lines of log.txt for a finished recording: "Recorded: <file> <time>";
// a recording in several files has one such line per file, in order, each
// with the length of its own sound. A 24-bit file says so (", 24 bit"; 16
// bits go unsaid, as they always did).
std::vector<std::string> recordedLines(const std::string& path, const char* time,
                                       const std::vector<kit::FilePart>& files, int bits = 16);
// The menu items of the silence rules, with their lengths.
std::string silenceStopItem(int32_t minutes);
std::string silenceSplitItem(int32_t seconds);
// The end-of-recording notice of a recording in several files: the first
// file's name and the number of parts, and how to open their folder.
std::string partsHint(const std::string& path, uint32_t parts);

// What is recorded, in words for the menu and the tray tip: "Loopback of
// Speakers" (of "the playback device" when its name is not known), "Recording
// line", or, where loopback could not be opened, "Recording line (loopback
// not available)".
std::string sourceText(const engine::CaptureSource& source);
// The tray tip: the program and what it records (the tray icon cuts it to
// the length the shell takes).
std::string trayTip(const engine::CaptureSource& source);

// The texts the program shows.
constexpr const char* kCalibrationPrompt =
    "It is needed to calibrate the recording levels before using the product.\n"
    "To do this we will have to play some sounds, so please close all\n"
    "applications and click [OK]. You can also cancel now and do this later\n"
    "from the application menu.";
constexpr const char* kCalibrationCaption = "Sonotape - calibration stage";
constexpr const char* kCalibrationDone = "You soundcard has successfully been calibrated.";
constexpr const char* kCalibrationWait = "Please wait while the application\ncalibrates recording levels.";
// Shown in place of the running time while the capture has no device to record from.
constexpr const char* kNoPlaybackDevice = "No playback device:\nnothing can be heard.";
// Shown in place of the running time while a recording has heard only
// silence for two minutes (until sound comes back); in the process's code
// page (its dash is a character of its own).
constexpr const wchar_t* kNothingHeard = L"Nothing heard for 2 minutes\n\u2014 is something playing?";
const std::string& nothingHeardText();
// Shown in place of the running time for the first seconds of a recording
// that records from the line because loopback could not be opened.
constexpr const char* kLoopbackRefused = "Loopback is not available:\nrecording from the line.";
constexpr unsigned kLoopbackRefusedSeconds = 5;
// What Windows shows while the session waits for a recording to be saved.
constexpr const wchar_t* kSavingRecording = L"Sonotape is saving a recording";
constexpr const char* kEndingWait = "Please wait while application\nends recording...";
constexpr const char* kDoneHint = "To open folder with saved file\nuse double click on this window.";
constexpr const char* kDoneLink = "To open folder with saved file,\n double click on this window.";
constexpr const char* kStillRecording = "Sonotape is still recording. Click [OK] to hide this window.";
constexpr const char* kNoSpace = "Sonotape have not enought space to record anymore.";
constexpr const char* kLowSpace = "WARNING!\nLow free disk space!";
constexpr const char* kExitWhileRecording = "Application is recording at this moment. Do you want to abort recording?";
constexpr const char* kSecondCopy = "You've tried to open Korvel Sonotape, but it is already opened.";
constexpr const char* kSecondCopyCaption = "Already opened";
constexpr const char* kNoAppData = "Field Watch failed to find Application Data directory";
constexpr const char* kHelpPage = "https://www.korvel.example/sonotape/help";

}  // namespace gui_rules
