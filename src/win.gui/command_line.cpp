#include "win.gui/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <charconv>

#include "kit/text_code.h"

namespace command {
namespace {

constexpr int kMinBitrate = 8;
constexpr int kMaxBitrate = 320;
constexpr int kMaxMinutes = 99 * 60 + 59;
constexpr std::size_t kMaxPathBytes = 1024;

Parsed failed(std::string error) { return Parsed{false, Command{}, std::move(error)}; }

// Decimal digits only, within [low, high]; -1 otherwise.
int number(std::string_view text, int low, int high) noexcept {
    if (text.empty() || text.size() > 5) return -1;
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text[0] == '-' || text[0] == '+') return -1;
    return value >= low && value <= high ? value : -1;
}

bool formatNamed(std::string_view text, Format& format) noexcept {
    if (text == "wav")
        format = Format::Wav;
    else if (text == "mp3")
        format = Format::Mp3;
    else if (text == "flac")
        format = Format::Flac;
    else
        return false;
    return true;
}

const char* formatName(Format format) noexcept {
    switch (format) {
    case Format::Wav: return "wav";
    case Format::Mp3: return "mp3";
    case Format::Flac: return "flac";
    case Format::Last: break;
    }
    return "";
}

bool plainPath(std::string_view path) noexcept {
    if (path.empty() || path.size() > kMaxPathBytes) return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

// What both ways in share: a bit rate belongs to MP3 (and makes the last format MP3).
Parsed checked(Command command) {
    if (command.bitrate != 0) {
        if (command.format == Format::Wav || command.format == Format::Flac)
            return failed("a bit rate is for MP3 only");
        command.format = Format::Mp3;
    }
    return Parsed{true, std::move(command), {}};
}

}  // namespace

int parseDuration(std::string_view text) noexcept {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3) return -1;
    int hours = number(text.substr(0, colon), 0, 99);
    int minutes = number(text.substr(colon + 1), 0, 59);
    if (hours < 0 || minutes < 0) return -1;
    return hours * 60 + minutes;
}

Parsed parseArguments(const std::vector<std::string>& arguments) {
    Command command;
    for (const std::string& a : arguments) {
        if (a == "--record")
            command.verb = Verb::Record;
        else if (a == "--stop")
            command.verb = Verb::Stop;
        else if (a == "--status")
            command.verb = Verb::Status;
    }
    if (command.verb == Verb::None) return Parsed{true, command, {}};
    bool verbSeen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--record" || a == "--stop" || a == "--status") {
            if (verbSeen) return failed("one command at a time: --record, --stop or --status");
            verbSeen = true;
        } else if (command.verb != Verb::Record) {
            return failed("unknown argument \"" + a + "\"");
        } else if (a == "--format") {
            if (!hasValue || !formatNamed(arguments[++i], command.format))
                return failed("--format takes wav, mp3 or flac");
        } else if (a == "--bitrate") {
            command.bitrate = hasValue ? number(arguments[++i], kMinBitrate, kMaxBitrate) : -1;
            if (command.bitrate < 0) return failed("--bitrate takes kbit/s from 8 to 320");
        } else if (a == "--for") {
            command.limitMinutes = hasValue ? parseDuration(arguments[++i]) : -1;
            if (command.limitMinutes <= 0) return failed("--for takes hours and minutes, H:MM, above 0:00");
        } else if (a.size() > 1 && a[0] == '-') {
            return failed("unknown argument \"" + a + "\"");
        } else if (!command.path.empty()) {
            return failed("one PATH only");
        } else if (!plainPath(a)) {
            return failed("PATH is not a usable path");
        } else {
            command.path = a;
        }
    }
    return checked(std::move(command));
}

std::string encodeRequest(const Command& command) {
    std::string text = std::string(kRequestHeader) + "\n";
    switch (command.verb) {
    case Verb::Record: text += "record\n"; break;
    case Verb::Stop: text += "stop\n"; break;
    case Verb::Status: text += "status\n"; break;
    case Verb::None: text += "none\n"; break;
    }
    if (!command.path.empty()) text += "path=" + command.path + "\n";
    if (command.format != Format::Last) text += std::string("format=") + formatName(command.format) + "\n";
    if (command.bitrate > 0) text += "bitrate=" + std::to_string(command.bitrate) + "\n";
    if (command.limitMinutes > 0) text += "for=" + std::to_string(command.limitMinutes) + "\n";
    return text;
}

Parsed parseRequest(std::string_view request) {
    if (request.size() > kMaxRequestBytes) return failed("oversized request");
    if (request.empty() || request.back() != '\n') return failed("truncated request");
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < request.size();) {
        std::size_t end = request.find('\n', start);
        lines.push_back(request.substr(start, end - start));
        start = end + 1;
    }
    if (lines[0] != kRequestHeader) {
        return failed(lines[0].substr(0, 9) == "Sonotape " ? "unknown request version" : "not a Sonotape request");
    }
    if (lines.size() < 2) return failed("truncated request");
    Command command;
    if (lines[1] == "record")
        command.verb = Verb::Record;
    else if (lines[1] == "stop")
        command.verb = Verb::Stop;
    else if (lines[1] == "status")
        command.verb = Verb::Status;
    else
        return failed("unknown command");
    bool pathSeen = false;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        std::size_t equals = line.find('=');
        if (command.verb != Verb::Record || equals == std::string_view::npos) return failed("malformed field");
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (key == "path" && !pathSeen && plainPath(value)) {
            command.path = std::string(value);
            pathSeen = true;
        } else if (key == "format" && command.format == Format::Last && formatNamed(value, command.format)) {
        } else if (key == "bitrate" && command.bitrate == 0 && number(value, kMinBitrate, kMaxBitrate) > 0) {
            command.bitrate = number(value, kMinBitrate, kMaxBitrate);
        } else if (key == "for" && command.limitMinutes == 0 && number(value, 1, kMaxMinutes) > 0) {
            command.limitMinutes = number(value, 1, kMaxMinutes);
        } else {
            return failed("malformed field");
        }
    }
    return checked(std::move(command));
}

std::string encodeReply(const Reply& reply) { return std::to_string(reply.code) + "\n" + reply.text; }

Reply parseReply(std::string_view text) {
    if (text.size() < 2 || text[1] != '\n' || number(text.substr(0, 1), kDone, kRefused) < 0)
        return Reply{kRefused, "the running copy of Sonotape gave no readable answer"};
    return Reply{text[0] - '0', std::string(text.substr(2))};
}

std::vector<std::string> commandLineArguments(const wchar_t* commandLine) {
    std::vector<std::string> arguments;
    if (!commandLine || !*commandLine) return arguments;
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(commandLine, &count);
    if (!list) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(kit::narrow(list[i]));
    ::LocalFree(list);
    return arguments;
}

}  // namespace command
