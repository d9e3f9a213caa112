#include "win.dialogs/file_save_logic.h"

namespace filesave {

int indexFromCode(int code) noexcept {
    if (code == 3) return 1;
    int index = code + 1;
    return index == 5 ? 4 : index;
}

int codeFromIndex(int index) noexcept {
    if (index == 1) return 3;
    if (index == 4) return 4;
    return index - 1;
}

bool isValidIndex(int index) noexcept { return index >= 1 && index <= 4; }

const char* extensionFor(int index) noexcept {
    if (index == 1) return ".wav";
    if (index >= 2 && index <= 4) return ".mp3";
    return "";
}

std::string withExtension(const std::string& name, int index) {
    if (name.empty()) return name;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name + extensionFor(index);
    return name.substr(0, dot) + extensionFor(index);
}

PathParts splitPath(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return {path, {}};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

int readNumber(const char* text) noexcept {
    int value = 0;
    int digits = 0;
    for (const char* c = text; c && *c >= '0' && *c <= '9' && digits < 9; ++c, ++digits) value = value * 10 + (*c - '0');
    return value;
}

int hoursFrom(const char* text) noexcept { return readNumber(text) % 100; }

int minutesFrom(const char* text) noexcept { return readNumber(text) % 60; }

int indexAfterBrowse(int index, int filter) noexcept {
    if (index == 1 && filter != kWavFilter) index = 2;
    if (index >= 2 && filter != kMp3Filter) index = 1;
    return index;
}

int filterFor(int index) noexcept { return index == 1 ? kWavFilter : kMp3Filter; }

}  // namespace filesave
