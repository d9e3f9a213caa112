#include "sound.capture/level_meter.h"

#include <cstdlib>

#include "diagnostics/eventlog.h"
#include "kit/sound_level.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "sound.capture/level_meter";

int magnitude(int16_t sample) noexcept {
    int a = std::abs(static_cast<int>(sample));
    return a > 32767 ? 32767 : a;
}

int magnitude(int32_t sample) noexcept {
    int64_t a = (std::llabs(static_cast<int64_t>(sample)) + 32768) >> 16;
    return a > 32767 ? 32767 : static_cast<int>(a);
}

template <class Sample>
LevelMeter::Peaks peaksOf(const Sample* samples, std::size_t frames, unsigned channels) noexcept {
    LevelMeter::Peaks p;
    if (!samples || channels == 0) return p;
    for (std::size_t f = 0; f < frames; ++f) {
        const Sample* frame = samples + f * channels;
        int left = magnitude(frame[0]);
        int right = channels > 1 ? magnitude(frame[1]) : left;
        if (left > p.left) p.left = left;
        if (right > p.right) p.right = right;
    }
    return p;
}
}  // namespace

LevelMeter::Peaks LevelMeter::blockPeaks(const int16_t* samples, std::size_t frames, unsigned channels) noexcept {
    return peaksOf(samples, frames, channels);
}

LevelMeter::Peaks LevelMeter::blockPeaks(const int32_t* samples, std::size_t frames, unsigned channels) noexcept {
    return peaksOf(samples, frames, channels);
}

void LevelMeter::measure(const int16_t* samples, std::size_t frames, unsigned channels, uint32_t rate) {
    if (frames == 0 || rate == 0) return;
    take(blockPeaks(samples, frames, channels), frames, rate);
}

void LevelMeter::measure(const int32_t* samples, std::size_t frames, unsigned channels, uint32_t rate) {
    if (frames == 0 || rate == 0) return;
    take(blockPeaks(samples, frames, channels), frames, rate);
}

void LevelMeter::take(Peaks p, std::size_t frames, uint32_t rate) {
    packedPeaks.store(static_cast<uint32_t>(p.left) | static_cast<uint32_t>(p.right) << 16);
    blockCount.fetch_add(1);
    if (!isSilentPeak(p.left) || !isSilentPeak(p.right)) {
        if (silent.exchange(false))
            FW_LOG(fw::LEVEL_NOTIFY, "SoundHeardAgain", "sound again after %llu s of silence",
                   static_cast<unsigned long long>(silentUs / 1000000));
        silentUs = 0;
        return;
    }
    silentUs += static_cast<uint64_t>(frames) * 1000000 / rate;
    if (silent.load() || silentUs < uint64_t{kSilenceLimitMs} * 1000) return;
    uint32_t count = silenceCount.fetch_add(1) + 1;
    silent.store(true);
    FW_LOG(fw::LEVEL_NOTIFY, "NothingHeard", "nothing heard (below %g dBFS) for %u s: silence %u of the recording",
           kSilenceDbfs, static_cast<unsigned>(kSilenceLimitMs / 1000), static_cast<unsigned>(count));
}

LevelMeter::Peaks LevelMeter::peaks() const noexcept {
    uint32_t packed = packedPeaks.load();
    return {static_cast<int>(packed & 0xFFFF), static_cast<int>(packed >> 16)};
}

}  // namespace kit
