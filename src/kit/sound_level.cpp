#include "kit/sound_level.h"

#include <cmath>

namespace kit {

double peakDbfs(int peak) noexcept {
    if (peak <= 0) return kNoSoundDbfs;
    return 20.0 * std::log10(static_cast<double>(peak) / kFullScale);
}

bool isSilentPeak(int peak) noexcept { return peakDbfs(peak) < kSilenceDbfs; }

int meterPixels(int peak, int width) noexcept {
    if (width <= 0) return 0;
    double db = peakDbfs(peak);
    if (db <= kMeterFloorDbfs) return 0;
    if (db >= 0.0) return width;
    return static_cast<int>(std::lround((db - kMeterFloorDbfs) / -kMeterFloorDbfs * width));
}

PeakHold holdPeak(const PeakHold& held, int peak, uint32_t now) noexcept {
    if (peak >= held.peak || now - held.since > kPeakHoldMs) return {peak, now};
    return held;
}

}  // namespace kit
