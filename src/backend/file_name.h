// How the engine names a recording (for makeFileName and its tests).
#pragma once

#include <windows.h>

#include <cstddef>

namespace backend {

constexpr std::size_t kFileNameBytes = 255;

// Writes the proposed file name for the local time `time` into `out`
// (at most `size` bytes, terminator included).
void formatFileName(const SYSTEMTIME& time, char* out, std::size_t size);

}  // namespace backend
