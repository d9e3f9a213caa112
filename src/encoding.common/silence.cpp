#include "encoding.common/silence.h"

#include <cmath>

namespace kit {

uint32_t blockPeak(const uint8_t* data, uint32_t frames, const SoundFormat& format) noexcept {
    uint32_t bytes = static_cast<uint32_t>(format.bitsPerSample) / 8;
    uint32_t samples = frames * static_cast<uint32_t>(format.channels);
    uint32_t peak = 0;
    for (uint32_t i = 0; i < samples; ++i, data += bytes) {
        int32_t value = 0;
        if (bytes == 3)
            value = static_cast<int32_t>(static_cast<uint32_t>(data[0]) << 8 | static_cast<uint32_t>(data[1]) << 16 |
                                         static_cast<uint32_t>(data[2]) << 24) >>
                    8;
        else
            value = static_cast<int16_t>(static_cast<uint16_t>(data[0] | data[1] << 8));
        uint32_t magnitude =
            value < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(value)) : static_cast<uint32_t>(value);
        if (magnitude > peak) peak = magnitude;
    }
    return peak;
}

uint32_t thresholdPeak(int32_t dbfs, int32_t bitsPerSample) noexcept {
    double full = std::ldexp(1.0, bitsPerSample - 1);
    double level = std::round(full * std::pow(10.0, static_cast<double>(dbfs) / 20.0));
    if (level < 1.0) return 1;
    if (level > full) return static_cast<uint32_t>(full);
    return static_cast<uint32_t>(level);
}

SilenceState firstSilenceState(const SilenceLimits& limits) noexcept {
    return {limits.startOnSound ? SilencePhase::waiting : SilencePhase::sounding, 0, false};
}

namespace {
bool reaches(uint64_t before, uint64_t after, uint64_t limit) { return limit != 0 && before < limit && after >= limit; }
}  // namespace

SilenceStep nextSilenceStep(const SilenceState& state, bool loud, uint64_t frames,
                            const SilenceLimits& limits) noexcept {
    if (state.phase == SilencePhase::waiting)
        return loud ? SilenceStep{{SilencePhase::sounding, 0, true}, SilenceAction::begin}
                    : SilenceStep{state, SilenceAction::none};
    if (loud) return {{SilencePhase::sounding, 0, true}, SilenceAction::none};
    uint64_t before = state.silentFrames;
    uint64_t after = before + frames;
    if (reaches(before, after, limits.stopFrames))
        return {{SilencePhase::silent, after, state.heard}, SilenceAction::stop};
    if (state.heard && reaches(before, after, limits.splitFrames))
        return {{SilencePhase::silent, after, false}, SilenceAction::cut};
    return {{SilencePhase::silent, after, state.heard}, SilenceAction::none};
}

}  // namespace kit
