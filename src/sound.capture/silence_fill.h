// Keeping a capture in step with the clock, in frames: how much silence the
// recording owes while the device delivers nothing (a loopback stream sends no
// packet while nothing plays; a device change leaves a gap), and how much of it
// belongs before the packet that ends the quiet.
//
// The clock runs from start() (a pause does not count). Once the recording
// lags it by more than `slackMs`, silence is owed up to the clock minus the
// slack. That silence is provisional at first: a device may merely be late
// (jitter, a stalled reader) and then deliver what it recorded meanwhile. A
// packet that continues the previous one (no DATA_DISCONTINUITY flag, its
// device position where the last one ended) proves that nothing was missed:
// the provisional silence is withdrawn and no sample is duplicated or dropped.
// A packet that does not continue it (the flag, a jump of the position, the
// first packet of a replacement device) proves a gap: the provisional silence
// stays, extended to the jump of the position when that is longer, but never
// beyond the clock.
//
// How much may stay provisional: at most `holdMs` (the device's own buffer,
// beyond which it could not deliver late anyway), and no more than the
// blocks waiting for sound can take besides the slack, so that a stop (the end
// of a recording) finds room for all of it; in the first `startMs` of a
// recording that has had no packet yet, everything (a device takes a moment
// to start). The rest is handed on while the quiet lasts. A recording
// line that starts late (its first packet continues nothing) is not behind:
// what it did not record before its start is silence, and from its first
// packet on the clock counts from where the recording then stands. Loopback
// is different (silentBeforeFirstPacket): what played before its first packet
// was never heard, so the silence stays (but never beyond where that packet
// begins: it ends about now, however much the stream had buffered), and the
// recording keeps the clock. A stop during a quiet hands on silence up to the clock
// itself: a recording that ends in silence is as long as it lasted.
//
// Ticks are milliseconds of a wrapping 32-bit clock; the arithmetic is
// wrap-safe between calls.
#pragma once

#include <cstdint>

namespace kit {

class SilenceFill {
public:
    struct Settings {
        uint32_t rate = 44100;    // frames per second
        uint32_t slackMs = 100;   // lag of the device that is not yet silence
        uint32_t holdMs = 2000;   // how long silence stays provisional at most
        uint32_t startMs = 1000;  // ... before the recording's first packet
        // Loopback: a stream hears nothing before its first packet (it starts
        // late, or nothing plays), so the time up to it is silence. The
        // recording line's first packet holds what it recorded since the start.
        bool silentBeforeFirstPacket = false;
    };

    explicit SilenceFill(Settings settings) noexcept : s(settings) {}

    // The clock (re)starts at `tick`; after a pause it goes on from what has
    // been recorded so far.
    void start(uint32_t tick) noexcept;
    // A new stream of the device: its positions begin at 0. `replacement`:
    // it replaces a stream that was lost, so its first packet ends a gap.
    void newStream(bool replacement) noexcept;

    // A packet of `frames` at the device `position`: the frames of silence to
    // put before it.
    uint64_t packet(uint32_t tick, uint64_t position, uint32_t frames, bool discontinuity) noexcept;
    // No packet now: the frames of silence to add now. `room`: the frames the
    // blocks waiting for sound can still take.
    uint64_t quiet(uint32_t tick, uint64_t room) noexcept;
    // No device at all (it went away, none replaces it yet): nothing can come
    // late, so the silence owed is handed on up to the clock itself.
    uint64_t absent(uint32_t tick) noexcept;
    // The device goes on at another rate from `tick` (a stream that replaces a
    // lost one): the frames of silence still owed at the old rate, up to the
    // clock itself; from then on the clock counts frames at `rate`.
    uint64_t changeRate(uint32_t tick, uint32_t rate) noexcept;
    // The clock stops (pause or end): every frame of silence still owed, in a
    // quiet up to the clock itself.
    uint64_t stop(uint32_t tick) noexcept;

    uint64_t recorded() const noexcept { return committed; }  // sound and silence handed on (at the current rate)
    uint64_t provisionalFrames() const noexcept { return provisional; }
    uint64_t withdrawn() const noexcept { return withdrawnFrames; }  // provisional silence taken back
    uint64_t silence() const noexcept { return silenceFrames; }      // silence handed on
    // Silence handed on during what a later packet showed to be a stall of
    // the device (longer than the waiting blocks could hold): no sample is
    // lost, but the sound after it comes that much late.
    uint64_t stalled() const noexcept { return stalledFrames; }

    // Frames in `ms` milliseconds at `rate` (rounded down).
    static uint64_t framesIn(uint64_t ms, uint32_t rate) noexcept { return ms * rate / 1000; }

private:
    void advance(uint32_t tick) noexcept;
    uint64_t due() const noexcept {
        uint64_t clock = base + framesIn(elapsedMs, s.rate);
        return clock > startLag ? clock - startLag : 0;
    }
    void growProvisional() noexcept;
    uint64_t commit(uint64_t frames) noexcept;

    Settings s;
    bool running = false;
    uint32_t lastTick = 0;
    uint64_t elapsedMs = 0;  // since start, pauses excluded
    uint64_t base = 0;       // frames recorded before the last start
    uint64_t committed = 0;
    uint64_t provisional = 0;
    uint64_t quietSilence = 0;  // silence handed on since the last packet
    uint64_t startLag = 0;      // how late the recording's first packet came, beyond the silence put in for it
    uint64_t expectedPosition = 0;
    bool firstPacket = true;  // of the current stream
    bool heardAny = false;    // a packet since the recording began
    bool replacementStream = false;
    uint64_t withdrawnFrames = 0;
    uint64_t silenceFrames = 0;
    uint64_t stalledFrames = 0;
};

}  // namespace kit
