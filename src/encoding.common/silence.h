// Silence on a recording's samples: whether a stretch of frames is quiet, and
// the small state machine that tells where a recording begins (the first
// sound), where it is cut into the next file and when it has been silent long
// enough to end. Durations are counted in frames of the stream (audio time),
// never on the wall clock.
//
// The samples are looked at in blocks of kSilenceBlockMs: a block is loud when
// its peak reaches the threshold, quiet otherwise.
#pragma once

#include <cstdint>

#include "encoding.common/sound_format.h"

namespace kit {

constexpr uint32_t kSilenceBlockMs = 10;

// The peak of `frames` frames of little-endian signed PCM of `format` (16 or
// 24 bits): the largest magnitude of any sample, 0 .. 2^(bits-1).
uint32_t blockPeak(const uint8_t* data, uint32_t frames, const SoundFormat& format) noexcept;

// The smallest peak that counts as sound at `dbfs` (0 dBFS: full scale,
// 2^(bits-1)); never below 1, never above full scale.
uint32_t thresholdPeak(int32_t dbfs, int32_t bitsPerSample) noexcept;

// Frames in `ms` milliseconds at `samplesPerSec` (64-bit: minutes at 384 kHz).
constexpr uint64_t framesIn(uint64_t ms, int32_t samplesPerSec) {
    return ms * static_cast<uint64_t>(samplesPerSec) / 1000;
}

// What the silence rules ask; 0 frames: that rule is off.
struct SilenceLimits {
    bool startOnSound = false;
    uint64_t splitFrames = 0;  // a silence this long ends the file; the next goes on
    uint64_t stopFrames = 0;   // a silence this long (once sound began) ends the recording
};

enum class SilencePhase { waiting, sounding, silent };

struct SilenceState {
    SilencePhase phase = SilencePhase::sounding;
    uint64_t silentFrames = 0;  // length of the silence under way
    bool heard = false;         // the current file holds sound
};

// What to do at the end of the block just judged.
enum class SilenceAction { none, begin, cut, stop };

struct SilenceStep {
    SilenceState state;
    SilenceAction action;
};

// The state a recording starts in: waiting for sound, or sounding.
SilenceState firstSilenceState(const SilenceLimits& limits) noexcept;

// One block of `frames` frames judged loud or quiet. A silence is cut once,
// when it reaches splitFrames (the cut falls inside the silence: the file ends
// with that much of it, the next begins with the rest), and only when the file
// holds sound: a silence at the start of a recording, or right after a cut,
// never makes a file of silence alone. It stops once, when it reaches
// stopFrames. While waiting, a loud block begins the recording.
SilenceStep nextSilenceStep(const SilenceState& state, bool loud, uint64_t frames,
                            const SilenceLimits& limits) noexcept;

}  // namespace kit
