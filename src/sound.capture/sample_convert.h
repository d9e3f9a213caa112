// The samples of a device's mix format as the recording's 2 x 16-bit PCM, at
// the same rate: only the samples change, never their number.
//
//   32-bit float  -> x 32768, rounded half to even, saturated to
//                    [-32768, 32767]; NaN -> 0; no dither. A 16-bit signal
//                    carried as float comes out bit for bit.
//   16/24/32-bit  -> the top 16 bits of each sample (an arithmetic shift: the
//   integer PCM      bits below are dropped, so the value rounds towards minus
//                    infinity; 16-bit samples are copied as they are).
//   2 x 32-bit    -> (convertTo32Stereo) float rounded to odd at x 2^31 and
//                    integer samples in the top bits: narrowed half to even
//                    to 16 or 24 bits when written, they come out as the
//                    float rule above says at either depth.
//   1 channel     -> the same sample on both channels.
//   2 channels    -> as they are.
//   3 or more     -> the first two channels only, the rest are dropped. In
//                    the platform's channel order these are front left and
//                    front right whenever the layout has them (every usual
//                    layout: 2.1, quad, 5.1, 7.1); a centre or surround channel
//                    is not mixed in, so nothing can clip that did not.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstddef>
#include <cstdint>

namespace kit {

struct SampleLayout {
    uint16_t channels = 0;
    uint16_t containerBits = 0;  // bits each sample takes in a frame
    bool isFloat = false;
    uint32_t rate = 0;
    uint32_t frameBytes() const noexcept { return uint32_t{channels} * containerBits / 8; }
};

// The layout of a mix format (WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT or
// WAVE_FORMAT_EXTENSIBLE with either subformat). False where the samples are
// of a kind that is not converted (8-bit, 64-bit float, other codings, a
// rate outside 8 000 - 384 000 Hz, no channel).
bool describeMixFormat(const WAVEFORMATEX& format, SampleLayout& layout);

int16_t floatTo16(float sample) noexcept;
// The same rule at 24 bits: x 8388608, rounded half to even, saturated to
// [-8388608, 8388607]; NaN -> 0.
int32_t floatTo24(float sample) noexcept;

// A sample in 32 bits that keeps what both rules above need: x * 2^31 rounded
// to odd (the value below, with its lowest bit set when a fraction was
// dropped), saturated to [-2^31, 2^31 - 1]; NaN -> 0. Rounding it half to
// even to 16 or 24 bits (narrow32To16, narrow32To24) gives exactly
// floatTo16 or floatTo24 of the same float: the odd lowest bit stands for
// "something below", so a value that was just off a half-way point is never
// taken for one, with 7 or more bits to spare.
int32_t floatTo32Odd(float sample) noexcept;
// A 32-bit sample rounded half to even to 16 or 24 bits, saturated.
int16_t narrow32To16(int32_t sample) noexcept;
int32_t narrow32To24(int32_t sample) noexcept;

// `frames` frames of `layout` from `in` to 2 x 16-bit frames at `out`
// (frames * 4 bytes).
void convertTo16Stereo(const SampleLayout& layout, const BYTE* in, std::size_t frames, int16_t* out) noexcept;
// The same to 2 x 32-bit frames (frames * 8 bytes) that keep the depth a file
// of 16 or 24 bits takes from them: float as floatTo32Odd, integer samples
// at their value in the top bits (exact).
void convertTo32Stereo(const SampleLayout& layout, const BYTE* in, std::size_t frames, int32_t* out) noexcept;

}  // namespace kit
