// The millisecond tick clock. Objects that measure time take a TickSource so
// that tests can drive the clock; production passes systemTicks.
#pragma once

#include <cstdint>

namespace kit {

using TickSource = uint32_t (*)();

uint32_t systemTicks() noexcept;  // GetTickCount

}  // namespace kit
