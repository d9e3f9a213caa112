// The arithmetic of the recording options dialog: format numbers, file
// extensions, path splitting and the time-limit fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace filesave {

// Format index (which button): 1 WAV, 2 MP3 128, 3 MP3 96, 4 MP3 with the chosen bit rate, 5 FLAC.
// Engine format code: 3 WAV, 1 MP3 128, 2 MP3 96, 4 MP3 at a given bit rate, 5 FLAC.
int indexFromCode(int code) noexcept;
int codeFromIndex(int index) noexcept;
bool isValidIndex(int index) noexcept;
// ".wav" for index 1, ".mp3" for 2, 3 and 4, ".flac" for 5, "" otherwise.
const char* extensionFor(int index) noexcept;

// A rate as the dialog says it: "48 kHz", "44.1 kHz", "22.05 kHz".
std::string rateText(uint32_t samplesPerSec);
// The label of format button `index` for a recording at `samplesPerSec` (0:
// not known, the rate left out): WAV and FLAC say the rate they are written
// at, MP3 says the rate the encoder resamples to above 48 kHz
// (`mp3Rate`, 0 where it keeps the rate). "" for the MP3 button with a
// chosen bit rate, which says nothing of the rate.
// WAV and FLAC also say their bits (16 or 24).
std::string formatLabel(int index, uint32_t samplesPerSec, uint32_t mp3Rate, int bits = 16);

// An empty name stays empty; a name without "." gets the extension; otherwise
// everything from the last "." on is replaced by it.
std::string withExtension(const std::string& name, int index);

struct PathParts {
    std::string folder;  // up to and including the last backslash (or slash)
    std::string name;    // the rest
};
// Without any backslash or slash the whole path is the folder and the name is empty.
PathParts splitPath(const std::string& path);

// "X:\..." or "\\server\share...", with either kind of slash.
bool isAbsolutePath(const std::string& path) noexcept;
// The path as the program stores it: slashes turned into backslashes, and a
// path that is not absolute taken as relative to `folder` (which ends with a
// backslash). An empty path stays empty.
std::string resolvePath(const std::string& typed, const std::string& folder);

// A name the platform reserves for a device (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9), whatever its case, extension or trailing blanks: "nul.wav",
// "Com3.tar.mp3", "aux ". Only the part before the first dot counts.
bool isReservedDeviceName(const std::string& component);
// The first folder or file name of the path that is such a name.
std::optional<std::string> reservedComponent(const std::string& path);

// The characters of `text` that the code page cannot hold, each once, in the
// order they first appear; none for UTF-8 (65001), the program's code page
// from Windows 10 version 1903 on. An older system keeps its own (1252 for
// Western European languages), and what it cannot hold is refused at OK.
std::wstring charactersOutsideCodePage(const std::wstring& text, unsigned codePage);

// A byte count as people read it: "512 bytes", "900 KB", "2.9 MB", "4.2 GB".
std::string formatBytes(uint64_t bytes);

// What the dialog says when OK cannot be accepted, or asks before it is.
std::string reservedNameMessage(const std::string& component);
std::string replaceQuestion(const std::string& path);
std::string lowSpaceMessage(const std::string& volume, uint64_t freeBytes, uint64_t neededBytes);
std::wstring codePageMessage(const std::wstring& characters);

// The number of a numbers-only edit: its leading digits, 0 when there are none.
int readNumber(const char* text) noexcept;
int hoursFrom(const char* text) noexcept;    // modulo 100
int minutesFrom(const char* text) noexcept;  // modulo 60

// Filter indexes of the save-file dialog.
constexpr int kMp3Filter = 1;
constexpr int kWavFilter = 2;
constexpr int kFlacFilter = 3;
// The format index after the user picked a file with filter `filter`: an
// MP3 index stays with the MP3 filter (another index becomes MP3 128), the
// FLAC filter means FLAC, any other filter WAV.
int indexAfterBrowse(int index, int filter) noexcept;
int filterFor(int index) noexcept;

// The bit rates offered, in list order (item data = position).
constexpr int kBitrates[] = {32, 48, 64, 80, 96, 128, 160, 192, 256, 320};
constexpr int kInitialBitrateItem = 5;  // "128"

}  // namespace filesave
