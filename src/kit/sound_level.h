// The level of sound as the meters show it: pure arithmetic on 16-bit peaks,
// shared by the capture (which publishes a peak per channel and block, and
// watches for silence) and the windows (which draw the meter).
#pragma once

#include <cstdint>

namespace kit {

// The loudest a 16-bit sample says: 0 dBFS.
constexpr int kFullScale = 32768;
// Below this the sound counts as silence.
constexpr double kSilenceDbfs = -60.0;
// The bottom of the meter's scale: a peak at or below it shows nothing.
constexpr double kMeterFloorDbfs = -60.0;
// How long the meter holds a peak before it falls back to the current level.
constexpr uint32_t kPeakHoldMs = 1500;

// 20 * log10(peak / 32768); a peak of 0 (or less) gives kNoSoundDbfs.
constexpr double kNoSoundDbfs = -120.0;
double peakDbfs(int peak) noexcept;

// A peak below -60 dBFS (32 or less) is silence.
bool isSilentPeak(int peak) noexcept;

// A peak at full scale (32767 or more): the sound clipped.
constexpr bool isClipPeak(int peak) noexcept { return peak >= kFullScale - 1; }

// The lit part of a meter `width` pixels long for a peak: linear in dB from
// kMeterFloorDbfs (0 pixels) to 0 dBFS (all of them), rounded to the nearest
// pixel.
int meterPixels(int peak, int width) noexcept;

// A held peak: the highest peak of the last kPeakHoldMs.
struct PeakHold {
    int peak = 0;
    uint32_t since = 0;  // tick of the moment it was reached
    bool operator==(const PeakHold&) const = default;
};
// The hold after a new peak at tick `now`: a peak as high or higher takes
// over; a lower one takes over once the held one is older than kPeakHoldMs.
PeakHold holdPeak(const PeakHold& held, int peak, uint32_t now) noexcept;

// What a meter shows for one channel: the current peak, the held one, and
// whether the held one clipped.
struct ChannelLevel {
    int peak = 0;
    PeakHold hold;
    bool operator==(const ChannelLevel&) const = default;
};
struct MeterLevels {
    ChannelLevel channels[2];
    bool operator==(const MeterLevels&) const = default;
};

}  // namespace kit
