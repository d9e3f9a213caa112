// The recording stopwatch.
#pragma once

#include <cstdint>
#include <string>

#include "kit/clock.h"
#include "kit/refcounted.h"
#include "kit/shared_string.h"

namespace kit {

struct ElapsedTime {
    int32_t hours;
    int32_t minutes;
    int32_t seconds;
};

// Splits whole seconds into hours (not wrapped at 24), minutes and seconds.
ElapsedTime splitSeconds(uint32_t seconds) noexcept;
// "%2.2d:%2.2d:%2.2d" of the split.
std::string formatElapsed(uint32_t seconds);

class Timer : public refcounted {
public:
    explicit Timer(TickSource ticks_ = systemTicks) noexcept : ticks(ticks_) {}

    void start() noexcept;
    void stop() noexcept;
    // Elapsed time 0 and not running.
    void reset() noexcept;
    bool isRunning() const noexcept { return running; }

    // Whole seconds between start and stop (or now, while running).
    uint32_t elapsedSeconds() noexcept;
    ElapsedTime elapsedTime() noexcept { return splitSeconds(elapsedSeconds()); }
    void elapsedTime(int32_t& hours, int32_t& minutes, int32_t& seconds) noexcept;
    shared_string toString();

private:
    TickSource ticks;
    uint32_t startTick = 0;
    uint32_t stopTick = 0;
    bool running = false;
};

}  // namespace kit
