// The conversion of a device's mix-format samples to 2 x 16-bit PCM.
#include <gtest/gtest.h>
#include <windows.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "sound.capture/sample_convert.h"

namespace {

using kit::SampleLayout;

struct FloatCase {
    float in;
    int16_t out;
};

TEST(SampleConvert, FloatTo16) {
    const FloatCase cases[] = {
        {0.0f, 0},
        {-0.0f, 0},
        {1.0f, 32767},    // saturated: +1.0 is one past the top
        {-1.0f, -32768},  // exact
        {1.5f, 32767},    // above 1.0
        {-7.0f, -32768},  // below -1.0
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {-std::numeric_limits<float>::quiet_NaN(), 0},
        {FLT_MIN / 4, 0},  // denormals
        {-FLT_MIN / 4, 0},
        {0.5f / 32768, 0},  // half-way values: to the even neighbour
        {1.5f / 32768, 2},
        {2.5f / 32768, 2},
        {-0.5f / 32768, 0},
        {-1.5f / 32768, -2},
        {-2.5f / 32768, -2},
        {32766.5f / 32768, 32766},
        {32767.5f / 32768, 32767},
        {0.49f / 32768, 0},
        {0.51f / 32768, 1},
        {-0.51f / 32768, -1},
        {12345.0f / 32768, 12345},  // a 16-bit value carried as float
        {-32767.0f / 32768, -32767},
    };
    for (const FloatCase& c : cases) EXPECT_EQ(kit::floatTo16(c.in), c.out) << "from " << c.in;
}

// Every 16-bit value survives as float, then back: bit for bit.
TEST(SampleConvert, Every16BitValueCarriedAsFloatComesBack) {
    for (int v = -32768; v <= 32767; ++v) ASSERT_EQ(kit::floatTo16(static_cast<float>(v) / 32768.0f), v);
}

// The rule at 24 bits, and the 32-bit sample rounded to odd that is narrowed
// to either depth after the capture: the narrowed values are the direct rule's
// for every float, edge values first, then a sweep over the bit patterns with
// the neighbours of every half-way value of both depths near it.
TEST(SampleConvert, FloatTo24AndThe32BitSampleNarrowedToEitherDepth) {
    const float inf = std::numeric_limits<float>::infinity();
    const float edges[] = {0.0f,
                           -0.0f,
                           1.0f,
                           -1.0f,
                           1.5f,
                           -7.0f,
                           inf,
                           -inf,
                           std::numeric_limits<float>::quiet_NaN(),
                           -std::numeric_limits<float>::quiet_NaN(),
                           FLT_MIN / 4,
                           -FLT_MIN / 4,
                           FLT_MIN,
                           std::numeric_limits<float>::denorm_min(),
                           -std::numeric_limits<float>::denorm_min(),
                           0.5f / 32768,
                           1.5f / 32768,
                           -2.5f / 32768,
                           32767.5f / 32768,
                           -32767.5f / 32768,
                           0.5f / 8388608,
                           2.5f / 8388608,
                           -1.5f / 8388608,
                           8388607.5f / 8388608,
                           std::nextafter(1.0f, 0.0f),
                           std::nextafter(-1.0f, 0.0f),
                           std::nextafter(-1.0f, -2.0f)};
    struct Expected24 {
        float in;
        int32_t out;
    };
    const Expected24 direct24[] = {{1.0f, 8388607},     {-1.0f, -8388608},     {1.5f, 8388607},
                                   {inf, 8388607},      {-inf, -8388608},      {0.5f / 8388608, 0},
                                   {2.5f / 8388608, 2}, {-1.5f / 8388608, -2}, {12345.0f / 8388608, 12345}};
    for (const Expected24& c : direct24) EXPECT_EQ(kit::floatTo24(c.in), c.out) << "from " << c.in;
    EXPECT_EQ(kit::floatTo24(std::numeric_limits<float>::quiet_NaN()), 0);

    std::vector<float> inputs(std::begin(edges), std::end(edges));
    for (float tie : {0.5f / 32768, 1.5f / 32768, 32766.5f / 32768, -2.5f / 32768, 0.5f / 8388608, 3.5f / 8388608,
                      -8388606.5f / 8388608, 1234567.5f / 8388608}) {
        float below = tie, above = tie;
        for (int i = 0; i < 4; ++i) {  // the floats nearest the half-way value, both sides
            below = std::nextafter(below, -inf);
            above = std::nextafter(above, inf);
            inputs.push_back(below);
            inputs.push_back(above);
        }
    }
    for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65521) {  // every sign, exponent and spread of mantissas
        uint32_t pattern = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &pattern, 4);
        inputs.push_back(f);
    }
    for (int v = -70000; v <= 70000; ++v) {  // half-way values of both depths, and the floats beside them
        for (float tie : {(static_cast<float>(v) + 0.5f) / 8388608.0f, (static_cast<float>(v / 2) + 0.5f) / 32768.0f}) {
            inputs.push_back(tie);
            inputs.push_back(std::nextafter(tie, inf));
            inputs.push_back(std::nextafter(tie, -inf));
        }
    }
    for (float f : inputs) {
        int32_t odd = kit::floatTo32Odd(f);
        ASSERT_EQ(kit::narrow32To16(odd), kit::floatTo16(f)) << "16 bits from " << f << " via " << odd;
        ASSERT_EQ(kit::narrow32To24(odd), kit::floatTo24(f)) << "24 bits from " << f << " via " << odd;
    }
    EXPECT_EQ(kit::floatTo32Odd(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(kit::floatTo32Odd(-1.0f), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(kit::floatTo32Odd(-2.5f / 2147483648.0f), -3) << "rounded to odd below zero";
    EXPECT_EQ(kit::floatTo32Odd(-std::numeric_limits<float>::denorm_min()), -1);
}

struct IntCase {
    uint16_t bits;
    int32_t in;  // the sample's value in `bits` bits
    int16_t out;
};

std::vector<BYTE> bytesOf(uint16_t bits, int32_t v) {
    std::vector<BYTE> b(bits / 8);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<BYTE>(static_cast<uint32_t>(v) >> (8 * i));
    return b;
}

TEST(SampleConvert, IntegerTakesTheTop16Bits) {
    const IntCase cases[] = {
        {16, 0, 0},
        {16, 32767, 32767},
        {16, -32768, -32768},
        {16, -1, -1},
        {24, 0x7FFFFF, 32767},
        {24, -0x800000, -32768},
        {24, 0x1234FF, 0x1234},  // the low bits are dropped...
        {24, -1, -1},            // ...so values round towards minus infinity
        {24, -0x100, -1},
        {24, -0x101, -2},
        {24, 0x80, 0},
        {32, 0x7FFFFFFF, 32767},
        {32, std::numeric_limits<int32_t>::min(), -32768},
        {32, 0x00018000, 1},
        {32, -0x00008000, -1},
        {32, -0x00010001, -2},
    };
    for (const IntCase& c : cases) {
        SampleLayout layout{1, c.bits, false, 48000};
        std::vector<BYTE> in = bytesOf(c.bits, c.in);
        int16_t out[2] = {1, 1};
        kit::convertTo16Stereo(layout, in.data(), 1, out);
        EXPECT_EQ(out[0], c.out) << c.bits << " bits: " << c.in;
        EXPECT_EQ(out[1], c.out) << "mono on both channels";
    }
}

TEST(SampleConvert, ChannelsBeyondTheFirstTwoAreDropped) {
    // Two 5.1 frames of 32-bit float: FL FR C LFE BL BR.
    const float in[12] = {0.25f, -0.25f, 0.9f, 0.9f, 0.9f, 0.9f, -1.0f, 0.5f, 0.1f, 0.1f, 0.1f, 0.1f};
    int16_t out[4] = {};
    kit::convertTo16Stereo(SampleLayout{6, 32, true, 48000}, reinterpret_cast<const BYTE*>(in), 2, out);
    const int16_t expected[4] = {8192, -8192, -32768, 16384};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(SampleConvert, StereoIsKeptInOrderAndFramesAreCounted) {
    const int16_t in[6] = {1, -2, 3, -4, 5, -6};
    int16_t out[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    kit::convertTo16Stereo(SampleLayout{2, 16, false, 44100}, reinterpret_cast<const BYTE*>(in), 3, out);
    const int16_t expected[8] = {1, -2, 3, -4, 5, -6, 7, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

WAVEFORMATEX plain(WORD tag, WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// The subformat GUID of a format tag (as subtype(WAVE_FORMAT_PCM) and the others are made).
GUID subtype(WORD tag) { return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}; }

WAVEFORMATEXTENSIBLE extensible(const GUID& sub, WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEXTENSIBLE e{};
    e.Format = plain(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits);
    e.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    e.Samples.wValidBitsPerSample = bits;
    e.dwChannelMask = channels == 2 ? 0x3 : 0x3F;  // front left, right (5.1: centre, LFE, back left, right)
    e.SubFormat = sub;
    return e;
}

TEST(SampleConvert, DescribesTheMixFormats) {
    SampleLayout l;
    WAVEFORMATEXTENSIBLE f = extensible(subtype(WAVE_FORMAT_IEEE_FLOAT), 2, 48000, 32);
    ASSERT_TRUE(kit::describeMixFormat(f.Format, l));
    EXPECT_TRUE(l.isFloat);
    EXPECT_EQ(l.rate, 48000u);
    EXPECT_EQ(l.frameBytes(), 8u);
    WAVEFORMATEXTENSIBLE p = extensible(subtype(WAVE_FORMAT_PCM), 6, 96000, 24);
    ASSERT_TRUE(kit::describeMixFormat(p.Format, l));
    EXPECT_FALSE(l.isFloat);
    EXPECT_EQ(l.channels, 6);
    EXPECT_EQ(l.frameBytes(), 18u);
    ASSERT_TRUE(kit::describeMixFormat(plain(WAVE_FORMAT_IEEE_FLOAT, 1, 8000, 32), l));
    ASSERT_TRUE(kit::describeMixFormat(plain(WAVE_FORMAT_PCM, 2, 384000, 16), l));

    EXPECT_FALSE(kit::describeMixFormat(plain(WAVE_FORMAT_PCM, 2, 44100, 8), l)) << "8-bit";
    EXPECT_FALSE(kit::describeMixFormat(plain(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 64), l)) << "64-bit float";
    EXPECT_FALSE(kit::describeMixFormat(plain(WAVE_FORMAT_PCM, 2, 7999, 16), l)) << "rate too low";
    EXPECT_FALSE(kit::describeMixFormat(plain(WAVE_FORMAT_PCM, 2, 384001, 16), l)) << "rate too high";
    EXPECT_FALSE(kit::describeMixFormat(plain(WAVE_FORMAT_PCM, 0, 44100, 16), l)) << "no channel";
    WAVEFORMATEXTENSIBLE other = extensible(subtype(WAVE_FORMAT_ADPCM), 2, 48000, 16);
    EXPECT_FALSE(kit::describeMixFormat(other.Format, l)) << "another coding";
    other = extensible(subtype(WAVE_FORMAT_PCM), 2, 48000, 16);
    other.Format.cbSize = 0;
    EXPECT_FALSE(kit::describeMixFormat(other.Format, l)) << "extensible without its extension";
}

}  // namespace
