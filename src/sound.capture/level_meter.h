// What the capture hears, published for the user interface: the peak of each
// channel in the latest block, and the silence watch. The capture thread
// measures every block it receives (after scaling, as it goes to the file);
// any thread reads the figures at any time without a lock.
//
// Silence is counted in the sound's own time (the frames of the blocks below
// -60 dBFS in a row), not by a clock: a stretch of kSilenceLimitMs of silent
// frames counts as one silence, noted once in the events file; a block with
// sound ends the stretch (noted too when the silence had been counted), and
// the next stretch counts again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kit {

class LevelMeter {
public:
    static constexpr uint32_t kSilenceLimitMs = 120000;

    // The peak of each channel of a block of 16-bit samples (interleaved);
    // a mono block gives both channels the same peak, -32768 counts as 32767.
    struct Peaks {
        int left = 0;
        int right = 0;
    };
    static Peaks blockPeaks(const int16_t* samples, std::size_t frames, unsigned channels) noexcept;
    // The same of 32-bit samples, on the 16-bit scale (rounded).
    static Peaks blockPeaks(const int32_t* samples, std::size_t frames, unsigned channels) noexcept;

    // On the capture thread: one block of `frames` frames at `rate`.
    void measure(const int16_t* samples, std::size_t frames, unsigned channels, uint32_t rate);
    void measure(const int32_t* samples, std::size_t frames, unsigned channels, uint32_t rate);

    // Any thread.
    Peaks peaks() const noexcept;
    // Silences counted so far (stretches that reached kSilenceLimitMs).
    uint32_t silences() const noexcept { return silenceCount.load(); }
    // The current stretch of silence has reached kSilenceLimitMs.
    bool silentNow() const noexcept { return silent.load(); }
    // Blocks measured so far.
    uint32_t blocks() const noexcept { return blockCount.load(); }

private:
    void take(Peaks p, std::size_t frames, uint32_t rate);

    std::atomic<uint32_t> packedPeaks{0};  // left in the low half, right in the high half
    std::atomic<uint32_t> silenceCount{0};
    std::atomic<bool> silent{false};
    std::atomic<uint32_t> blockCount{0};
    uint64_t silentUs = 0;  // of the current stretch (capture thread only)
};

}  // namespace kit
