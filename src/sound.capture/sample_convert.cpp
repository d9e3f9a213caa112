#include "sound.capture/sample_convert.h"

#include <cmath>
#include <cstring>

namespace kit {
namespace {

// KSDATAFORMAT_SUBTYPE_PCM, _IEEE_FLOAT...: a format tag in the first field of
// one base GUID (compared here, so that no library of GUIDs is linked).
bool isSubtype(const GUID& subFormat, WORD tag) {
    GUID wanted = {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return ::IsEqualGUID(subFormat, wanted) != 0;
}

int32_t readInt(const BYTE* p, uint16_t bits) noexcept {
    switch (bits) {
    case 16: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return int32_t{v} * 65536;
    }
    case 24: return static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24);
    default: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

int16_t sampleAt(const SampleLayout& layout, const BYTE* p) noexcept {
    if (layout.isFloat) {
        float v;
        std::memcpy(&v, p, 4);
        return floatTo16(v);
    }
    return static_cast<int16_t>(readInt(p, layout.containerBits) >> 16);
}

int32_t sample32At(const SampleLayout& layout, const BYTE* p) noexcept {
    if (layout.isFloat) {
        float v;
        std::memcpy(&v, p, 4);
        return floatTo32Odd(v);
    }
    return readInt(p, layout.containerBits);
}

}  // namespace

bool describeMixFormat(const WAVEFORMATEX& format, SampleLayout& layout) {
    bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool isPcm = format.wFormatTag == WAVE_FORMAT_PCM;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return false;
        const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        isFloat = isSubtype(ext.SubFormat, WAVE_FORMAT_IEEE_FLOAT);
        isPcm = isSubtype(ext.SubFormat, WAVE_FORMAT_PCM);
    }
    uint16_t bits = format.wBitsPerSample;
    bool usable = (isFloat && bits == 32) || (isPcm && (bits == 16 || bits == 24 || bits == 32));
    if (!usable || format.nChannels == 0 || format.nSamplesPerSec < 8000 || format.nSamplesPerSec > 384000 ||
        format.nBlockAlign != format.nChannels * bits / 8)
        return false;
    layout = SampleLayout{format.nChannels, bits, isFloat, format.nSamplesPerSec};
    return true;
}

int16_t floatTo16(float sample) noexcept {
    if (std::isnan(sample)) return 0;
    double scaled = static_cast<double>(sample) * 32768.0;
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    return static_cast<int16_t>(std::nearbyint(scaled));  // the default rounding: half to even
}

int32_t floatTo24(float sample) noexcept {
    if (std::isnan(sample)) return 0;
    double scaled = static_cast<double>(sample) * 8388608.0;
    if (scaled >= 8388607.0) return 8388607;
    if (scaled <= -8388608.0) return -8388608;
    return static_cast<int32_t>(std::nearbyint(scaled));
}

// x * 2^31 is exact in a double (a float has 24 bits of mantissa); its floor
// is the neighbour below in either sign, and floor | 1 the odd one of the two
// neighbours when the value lies between them.
int32_t floatTo32Odd(float sample) noexcept {
    if (std::isnan(sample)) return 0;
    double scaled = static_cast<double>(sample) * 2147483648.0;
    if (scaled >= 2147483647.0) return 2147483647;
    if (scaled <= -2147483648.0) return -2147483647 - 1;
    double below = std::floor(scaled);
    auto value = static_cast<int32_t>(below);
    return below == scaled ? value : (value | 1);
}

namespace {
// `sample` / 2^shift rounded half to even (an arithmetic shift is the floor).
int32_t roundShift(int32_t sample, unsigned shift) noexcept {
    int32_t quotient = sample >> shift;
    uint32_t rest = static_cast<uint32_t>(sample) & ((1u << shift) - 1);
    uint32_t half = 1u << (shift - 1);
    if (rest > half || (rest == half && (quotient & 1))) ++quotient;
    return quotient;
}
}  // namespace

int16_t narrow32To16(int32_t sample) noexcept {
    int32_t v = roundShift(sample, 16);
    return static_cast<int16_t>(v > 32767 ? 32767 : v);
}

int32_t narrow32To24(int32_t sample) noexcept {
    int32_t v = roundShift(sample, 8);
    return v > 8388607 ? 8388607 : v;
}

void convertTo16Stereo(const SampleLayout& layout, const BYTE* in, std::size_t frames, int16_t* out) noexcept {
    uint32_t step = layout.frameBytes();
    uint32_t sampleBytes = layout.containerBits / 8u;
    for (std::size_t i = 0; i < frames; ++i, in += step, out += 2) {
        out[0] = sampleAt(layout, in);
        out[1] = layout.channels == 1 ? out[0] : sampleAt(layout, in + sampleBytes);
    }
}

void convertTo32Stereo(const SampleLayout& layout, const BYTE* in, std::size_t frames, int32_t* out) noexcept {
    uint32_t step = layout.frameBytes();
    uint32_t sampleBytes = layout.containerBits / 8u;
    for (std::size_t i = 0; i < frames; ++i, in += step, out += 2) {
        out[0] = sample32At(layout, in);
        out[1] = layout.channels == 1 ? out[0] : sample32At(layout, in + sampleBytes);
    }
}

}  // namespace kit
