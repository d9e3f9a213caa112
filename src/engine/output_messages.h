// What the user is told when an output file cannot be made or written: the
// actual reason, and the path laid out to fit a normal message box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "encoding.common/output_file.h"

namespace engine {

// The path in lines of at most `width` characters, broken after a backslash
// where possible (a longer piece is cut where it must). A path that needs more
// than `maxLines` lines keeps its first and last lines with "..." between.
std::string fitPath(const std::string& path, std::size_t width = 44, std::size_t maxLines = 4);

// One sentence: why (for a fault of unknown kind, the platform's error code).
std::string faultReason(kit::OutputFault fault, uint32_t code);

// The answer when a recording's output cannot be made (the recording is stopped).
std::string outputFailedText(const std::string& path, kit::OutputFault fault, uint32_t code);

// The answer when the output stops taking the recording (said after it was stopped).
std::string outputStoppedText(kit::OutputFault fault, uint32_t code);

// The answer when a recording ended by itself after `minutes` of silence.
std::string silenceStoppedText(uint32_t minutes);

}  // namespace engine
