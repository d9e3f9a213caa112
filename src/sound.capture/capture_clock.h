// Sound lost below the program: sound the device recorded but never handed
// over, because every block it held was full (the capture path stalled for
// longer than the queued blocks last) or because it skipped ahead. Found by
// comparing the tick clock with the frames received.
//
// Every block is stamped with the tick at which the device returned it. Its
// lateness is the clock's frames since the first block minus the frames
// received up to and including it: the device's own constant delay plus some
// jitter while nothing is lost, and higher for good once sound is lost. The
// lower envelope of the lateness (its minimum over the last `windowMs` of
// returns) ignores the jitter, and the bursts in which a device that was held
// up returns its blocks all at once. The envelope is read only on a block that
// came at the device's own pace (between half a block and a block and a half
// after the one before: not from inside a burst, nor the first block after a
// hold-up, which may start one). A rise of the envelope above the floor by more
// than `thresholdMs` is sound lost; smaller rises and every fall are the two
// clocks drifting apart (a sound card's clock and the tick clock never quite
// agree), which the floor follows.
//
// The last block of a recording (the one the device's reset returns at once,
// holding what it had recorded so far) is compared with the floor directly:
// a loss in the last seconds has not yet lifted the envelope.
#pragma once

#include <cstdint>
#include <deque>

namespace kit {

class CaptureClock {
public:
    static constexpr uint32_t kWindowMs = 3000;
    // A device returns its blocks unevenly by up to a few tens of
    // milliseconds (its own periods, a busy computer), and its reset drops
    // what it had not yet passed on: less than a block is not told apart
    // from that.
    static constexpr uint32_t kThresholdMs = 100;

    CaptureClock(uint32_t framesPerSecond, uint32_t blockMs, uint32_t windowMs = kWindowMs,
                 uint32_t thresholdMs = kThresholdMs);

    // Forgets every block: the next one starts the count anew (a new start
    // of the device after a pause, whose silence is no loss).
    void restart();
    // A block of `frames` came back at tick `now`. Answers the frames newly
    // found lost (mostly 0). Blocks without frames say nothing and are ignored.
    uint64_t blockReturned(uint32_t now, uint32_t frames);
    // As blockReturned, for the last block of the recording.
    uint64_t lastBlockReturned(uint32_t now, uint32_t frames);

    uint64_t lostFrames() const noexcept { return lost; }
    // The lateness floor in frames (for the events file).
    int64_t floorFrames() const noexcept { return floor; }

private:
    struct Sample {
        int64_t atMs;      // the tick, as milliseconds since the first block
        int64_t lateness;  // frames
    };
    int64_t arrive(uint32_t now, uint32_t frames);  // records the block; answers its lateness
    uint64_t rise(int64_t level);                   // the floor against a new level

    uint32_t rate;
    uint32_t blockMs;
    uint32_t windowMs;
    int64_t threshold;  // frames

    bool started = false;
    uint32_t lastTick = 0;
    int64_t elapsedMs = 0;
    int64_t lastArrivalMs = 0;
    int64_t received = 0;
    int64_t floor = 0;
    uint64_t lost = 0;
    std::deque<Sample> window;  // increasing lateness from the front: the front is the minimum
};

}  // namespace kit
