#include "sound.capture/capture_clock.h"

namespace kit {

CaptureClock::CaptureClock(uint32_t framesPerSecond, uint32_t blockMs_, uint32_t windowMs_, uint32_t thresholdMs)
    : rate(framesPerSecond),
      blockMs(blockMs_),
      windowMs(windowMs_),
      threshold(static_cast<int64_t>(thresholdMs) * framesPerSecond / 1000) {}

void CaptureClock::restart() {
    started = false;
    window.clear();
}

int64_t CaptureClock::arrive(uint32_t now, uint32_t frames) {
    if (!started) {
        started = true;
        lastTick = now;
        elapsedMs = 0;
        lastArrivalMs = -static_cast<int64_t>(blockMs);
        received = 0;
    }
    elapsedMs += static_cast<uint32_t>(now - lastTick);  // the tick count wraps: differences do not
    lastTick = now;
    received += frames;
    int64_t lateness = elapsedMs * rate / 1000 - received;
    while (!window.empty() && window.back().lateness >= lateness) window.pop_back();
    window.push_back({elapsedMs, lateness});
    while (window.front().atMs < elapsedMs - static_cast<int64_t>(windowMs)) window.pop_front();
    return lateness;
}

uint64_t CaptureClock::rise(int64_t level) {
    if (level - floor <= threshold) {
        floor = level;  // drift or jitter: followed
        return 0;
    }
    auto found = static_cast<uint64_t>(level - floor);
    lost += found;
    floor = level;
    return found;
}

uint64_t CaptureClock::blockReturned(uint32_t now, uint32_t frames) {
    if (frames == 0) return 0;
    bool first = !started;
    arrive(now, frames);
    // At the device's own pace a block comes about one block after the one
    // before: not from inside a burst, nor first after a hold-up (which may
    // start one).
    int64_t gap = elapsedMs - lastArrivalMs;
    bool ownPace = 2 * gap >= static_cast<int64_t>(blockMs) && 2 * gap <= 3 * static_cast<int64_t>(blockMs);
    lastArrivalMs = elapsedMs;
    int64_t envelope = window.front().lateness;
    if (first) {
        floor = envelope;
        return 0;
    }
    if (!ownPace) return 0;
    if (envelope < floor) {
        floor = envelope;
        return 0;
    }
    return rise(envelope);
}

uint64_t CaptureClock::lastBlockReturned(uint32_t now, uint32_t frames) {
    if (frames == 0) return 0;
    if (!started) {
        arrive(now, frames);
        floor = window.front().lateness;
        return 0;
    }
    int64_t lateness = arrive(now, frames);
    lastArrivalMs = elapsedMs;
    if (lateness <= floor) return 0;
    return rise(lateness);
}

}  // namespace kit
