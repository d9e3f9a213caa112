// How the engine names a recording (for proposedFileName and its tests).
#pragma once

#include <windows.h>

#include <cstddef>

namespace engine {

constexpr std::size_t kFileNameBytes = 255;

// Writes the proposed file name for the local time `time` into `out`
// (at most `size` bytes, terminator included).
void formatFileName(const SYSTEMTIME& time, char* out, std::size_t size);

}  // namespace engine
