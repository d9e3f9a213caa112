#include "win.dialogs/file_save_logic.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace filesave {

int indexFromCode(int code) noexcept {
    if (code == 3) return 1;
    if (code == 5) return 5;
    int index = code + 1;
    return index == 5 ? 4 : index;
}

int codeFromIndex(int index) noexcept {
    if (index == 1) return 3;
    if (index == 4 || index == 5) return index;
    return index - 1;
}

bool isValidIndex(int index) noexcept { return index >= 1 && index <= 5; }

const char* extensionFor(int index) noexcept {
    if (index == 1) return ".wav";
    if (index >= 2 && index <= 4) return ".mp3";
    if (index == 5) return ".flac";
    return "";
}

std::string withExtension(const std::string& name, int index) {
    if (name.empty()) return name;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name + extensionFor(index);
    return name.substr(0, dot) + extensionFor(index);
}

namespace {

bool isSeparator(char c) noexcept { return c == '\\' || c == '/'; }

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

PathParts splitPath(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {path, {}};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool isAbsolutePath(const std::string& path) noexcept {
    if (path.size() < 3) return false;
    if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && isSeparator(path[2])) return true;
    return isSeparator(path[0]) && isSeparator(path[1]);
}

std::string resolvePath(const std::string& typed, const std::string& folder) {
    std::string path = typed;
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.empty() || isAbsolutePath(path)) return path;
    while (!path.empty() && path.front() == '\\') path.erase(path.begin());  // "\take.wav": in the folder too
    return folder + path;
}

bool isReservedDeviceName(const std::string& component) {
    std::string stem = upper(component.substr(0, component.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

std::optional<std::string> reservedComponent(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        if (!component.empty() && isReservedDeviceName(component)) return component;
        start = end + 1;
    }
    return std::nullopt;
}

std::wstring charactersOutsideCodePage(const std::wstring& text, unsigned codePage) {
    std::wstring outside;
    if (codePage == CP_UTF8) return outside;  // it holds every character
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() ? 2 : 1;
        std::wstring character = text.substr(i, length);
        i += length;
        char bytes[16];
        BOOL lost = FALSE;
        int made = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, character.data(), static_cast<int>(length),
                                         bytes, sizeof bytes, nullptr, &lost);
        if ((made <= 0 || lost) && outside.find(character) == std::wstring::npos) outside += character;
    }
    return outside;
}

std::string formatBytes(uint64_t bytes) {
    char text[32];
    constexpr double kKilo = 1024.0, kMega = kKilo * 1024, kGiga = kMega * 1024;
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%u bytes", static_cast<unsigned>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(bytes) / kKilo);
    else if (bytes < 1024ull * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMega);
    else
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / kGiga);
    return text;
}

std::string reservedNameMessage(const std::string& component) {
    return "\"" + component +
           "\" cannot be used as a file or folder name: Windows reserves it for a device, so nothing would be "
           "saved.\n\nThe names CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 are reserved, with any "
           "extension. Please choose another name.";
}

std::string replaceQuestion(const std::string& path) { return path + " already exists.\nDo you want to replace it?"; }

std::string lowSpaceMessage(const std::string& volume, uint64_t freeBytes, uint64_t neededBytes) {
    return "There is not enough free space on " + volume + " to record there: " + formatBytes(freeBytes) +
           " free, and a recording is stopped when less than " + formatBytes(neededBytes) +
           " is left.\n\nPlease choose another place for the recording, or free some space first.";
}

std::wstring codePageMessage(const std::wstring& characters) {
    std::wstring listed;
    for (std::size_t i = 0; i < characters.size();) {
        std::size_t length = IS_HIGH_SURROGATE(characters[i]) && i + 1 < characters.size() ? 2 : 1;
        if (!listed.empty()) listed += L"  ";
        listed += characters.substr(i, length);
        i += length;
    }
    return L"These characters in the file name cannot be used on this computer:\n\n    " + listed +
           L"\n\nThe program names its files in the system's character set for non-Unicode programs, which does "
           L"not hold them; the file would get another name than the one you typed. Please choose a name "
           L"without them.";
}

int readNumber(const char* text) noexcept {
    int value = 0;
    int digits = 0;
    for (const char* c = text; c && *c >= '0' && *c <= '9' && digits < 9; ++c, ++digits)
        value = value * 10 + (*c - '0');
    return value;
}

int hoursFrom(const char* text) noexcept { return readNumber(text) % 100; }

int minutesFrom(const char* text) noexcept { return readNumber(text) % 60; }

int indexAfterBrowse(int index, int filter) noexcept {
    if (filter == kMp3Filter) return index >= 2 && index <= 4 ? index : 2;
    return filter == kFlacFilter ? 5 : 1;
}

int filterFor(int index) noexcept { return index == 1 ? kWavFilter : index == 5 ? kFlacFilter : kMp3Filter; }

std::string rateText(uint32_t samplesPerSec) {
    std::string text = std::to_string(samplesPerSec / 1000);
    if (uint32_t part = samplesPerSec % 1000) {
        std::string digits = std::to_string(1000 + part).substr(1);  // three digits
        text += "." + digits.substr(0, digits.find_last_not_of('0') + 1);
    }
    return text + " kHz";
}

std::string formatLabel(int index, uint32_t samplesPerSec, uint32_t mp3Rate, int bits) {
    std::string rate = samplesPerSec ? ", " + rateText(samplesPerSec) : std::string();
    std::string depth = bits == 24 ? "24 bit" : "16 bit";
    std::string mp3 = mp3Rate ? ", " + rateText(mp3Rate) : std::string();
    switch (index) {
    case 1: return "Wav uncompressed (" + depth + rate + ")";
    case 2: return "High-quality MP3 (128Kbps" + mp3 + ")";
    case 3: return "Medium-quality MP3 (96Kbps" + mp3 + ")";
    case 5: return "FLAC lossless (" + depth + rate + ")";
    default: return "";
    }
}

}  // namespace filesave
