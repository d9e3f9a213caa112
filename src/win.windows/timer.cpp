#include "win.windows/timer.h"

#include <cstdio>

namespace kit {

ElapsedTime splitSeconds(uint32_t s) noexcept {
    return {static_cast<int32_t>(s / 3600), static_cast<int32_t>(s % 3600 / 60), static_cast<int32_t>(s % 60)};
}

std::string formatElapsed(uint32_t seconds) {
    ElapsedTime t = splitSeconds(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d", static_cast<int>(t.hours), static_cast<int>(t.minutes),
                  static_cast<int>(t.seconds));
    return text;
}

void Timer::start() noexcept {
    startTick = ticks();
    running = true;
}

void Timer::stop() noexcept {
    stopTick = ticks();
    running = false;
}

void Timer::reset() noexcept {
    stopTick = startTick;
    running = false;
}

uint32_t Timer::elapsedSeconds() noexcept {
    if (running) stopTick = ticks();
    return (stopTick - startTick) / 1000;  // unsigned: a wrap of the tick count is harmless
}

void Timer::elapsedTime(int32_t& hours, int32_t& minutes, int32_t& seconds) noexcept {
    ElapsedTime t = elapsedTime();
    hours = t.hours;
    minutes = t.minutes;
    seconds = t.seconds;
}

shared_string Timer::toString() { return shared_string(formatElapsed(elapsedSeconds())); }

}  // namespace kit
