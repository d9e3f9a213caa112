// The program's commands from the command line and from the command pipe:
// `--record [PATH] [--format wav|mp3|flac] [--bitrate N] [--for H:MM]`,
// `--stop`, `--status`. Parsing and the pipe's request and reply texts are
// pure functions; the arguments come from the platform's own split of the
// command line (CommandLineToArgvW).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace command {

// Exit codes of a commanded start (also the first field of a reply).
constexpr int kDone = 0;        // done; for --status: what it records, or that it does not
constexpr int kNotRunning = 1;  // no copy of the program runs (--stop, --status)
constexpr int kRefused = 2;     // refused; the text says why

// A request is one pipe message of at most this many bytes.
constexpr std::size_t kMaxRequestBytes = 2048;
constexpr const char* kRequestHeader = "Sonotape 1";

enum class Verb { None, Record, Stop, Status };
enum class Format { Last, Wav, Mp3, Flac };

struct Command {
    Verb verb = Verb::None;
    std::string path;  // --record: a file or a folder; empty: the last folder and a fresh name
    Format format = Format::Last;
    int bitrate = 0;       // MP3 kbit/s; 0: none given
    int limitMinutes = 0;  // --for; 0: none
    bool operator==(const Command&) const = default;
};

struct Parsed {
    bool ok = false;
    Command command;
    std::string error;  // why not, when !ok
};

// The arguments after the program's name. Without a command word the
// arguments are the program's others (-t, --tray_run) and Verb::None comes
// back; with one, every argument must belong to it.
Parsed parseArguments(const std::vector<std::string>& arguments);

// "H:MM" (minutes 00-59, hours 0-99) to minutes; -1 when malformed.
int parseDuration(std::string_view text) noexcept;

// The request a command travels as over the pipe, and back.
std::string encodeRequest(const Command& command);
Parsed parseRequest(std::string_view request);

// A reply: the exit code and a line of text for the caller's console.
struct Reply {
    int code = kRefused;
    std::string text;
    bool operator==(const Reply&) const = default;
};
std::string encodeReply(const Reply& reply);
// A reply that cannot be read counts as a refusal saying so.
Reply parseReply(std::string_view text);

// The program's command line split as Windows splits it (CommandLineToArgvW),
// the program's name left out, in the process's code page.
std::vector<std::string> commandLineArguments(const wchar_t* commandLine);

}  // namespace command
