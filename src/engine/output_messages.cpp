#include "engine/output_messages.h"

#include <vector>

namespace engine {

std::string fitPath(const std::string& path, std::size_t width, std::size_t maxLines) {
    std::vector<std::string> lines;
    std::string rest = path;
    while (rest.size() > width) {
        std::size_t cut = rest.find_last_of('\\', width - 1);
        cut = cut == std::string::npos || cut == 0 ? width : cut + 1;
        lines.push_back(rest.substr(0, cut));
        rest.erase(0, cut);
    }
    lines.push_back(rest);
    if (maxLines >= 2 && lines.size() > maxLines) {
        std::size_t head = (maxLines - 1) / 2, tail = maxLines - 1 - head;  // the name's end matters most
        std::vector<std::string> kept(lines.begin(), lines.begin() + head);
        kept.push_back("...");
        kept.insert(kept.end(), lines.end() - tail, lines.end());
        lines = kept;
    }
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::string faultReason(kit::OutputFault fault, uint32_t code) {
    using kit::OutputFault;
    switch (fault) {
    case OutputFault::folderMissing: return "The folder does not exist.";
    case OutputFault::accessDenied:
        return "Access is denied: the folder cannot be written to, or the file is read-only or in use.";
    case OutputFault::invalidName: return "The name is not valid for a file.";
    case OutputFault::pathTooLong: return "The path is too long.";
    case OutputFault::diskFull: return "The disk is full.";
    case OutputFault::mp3LibraryMissing:
        return "The MP3 encoder lame_enc.dll was not found beside the program. Choose WAV, or install it again.";
    case OutputFault::mp3LibraryUnusable:
        return "The MP3 encoder lame_enc.dll cannot be used (it is damaged or another library). "
               "Choose WAV, or install it again.";
    case OutputFault::none: return "The file cannot be created.";
    case OutputFault::other: break;
    }
    return "The file cannot be written (Windows error " + std::to_string(code) + ").";
}

std::string outputFailedText(const std::string& path, kit::OutputFault fault, uint32_t code) {
    const char* stopped = "\n\nThe recording is stopped; nothing has been saved.";
    if (path.empty()) return "No file name was given." + std::string(stopped);
    return "Sonotape cannot record into\n" + fitPath(path) + "\n\n" + faultReason(fault, code) + stopped;
}

std::string outputStoppedText(kit::OutputFault fault, uint32_t code) {
    return faultReason(fault, code) + " The recording was stopped; the file keeps what was recorded until then.";
}

std::string silenceStoppedText(uint32_t minutes) {
    return "The recording ended by itself after " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes") +
           " of silence, as the menu asks; the file keeps everything recorded until then.";
}

}  // namespace engine
