// The narrowing of a loopback recording's 32-bit blocks to the file's bits.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/depth_encoder.h"
#include "sound.capture/sample_convert.h"

namespace {

// Keeps what it is given.
class KeepingEncoder : public kit::ISoundEncoder {
public:
    void encodeChunk(const kit::Chunk& chunk) override {
        bytes.insert(bytes.end(), chunk.data, chunk.data + chunk.length);
        cookies.push_back(chunk.cookie);
    }
    void init() override {}
    void close() override { closed = true; }
    void changeRate(uint32_t samplesPerSec) override { rates.push_back(samplesPerSec); }
    uint32_t fileParts() const noexcept override { return 3; }

    std::vector<uint8_t> bytes;
    std::vector<void*> cookies;
    std::vector<uint32_t> rates;
    bool closed = false;
};

// Samples from the capture: floats rounded to odd, the extremes, ties of both depths.
std::vector<int32_t> capturedSamples() {
    std::vector<int32_t> s = {0,           -1,    1,     0x7FFFFFFF, INT32_MIN,  0x00018000, 0x00028000,
                              -0x00018000, 0x180, 0x280, -0x180,     0x7FFFFF80, 0x12345678};
    for (float f : {0.25f, -0.999f, 1.0f, 0.5f / 32768, 1.5f / 8388608}) s.push_back(kit::floatTo32Odd(f));
    return s;
}

TEST(DepthEncoder, NarrowsEachSampleToTheFilesBitsAndPassesTheRestOn) {
    std::vector<int32_t> wide = capturedSamples();
    for (int bits : {16, 24}) {
        kit::smartptr<KeepingEncoder> file(new KeepingEncoder);
        kit::smartptr<engine::DepthEncoder> depth(new engine::DepthEncoder(file, bits));
        int cookie = 0;
        depth->encodeChunk(
            {reinterpret_cast<const uint8_t*>(wide.data()), static_cast<uint32_t>(wide.size() * 4), &cookie});
        depth->changeRate(96000);
        depth->close();
        ASSERT_EQ(file->bytes.size(), wide.size() * static_cast<std::size_t>(bits / 8)) << bits;
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const uint8_t* at = file->bytes.data() + i * static_cast<std::size_t>(bits / 8);
            if (bits == 16) {
                int16_t v;
                std::memcpy(&v, at, 2);
                EXPECT_EQ(v, kit::narrow32To16(wide[i])) << i;
            } else {
                // Three bytes, little-endian; the sign is the top byte's.
                int32_t v =
                    static_cast<int32_t>(uint32_t{at[0]} << 8 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 24) >> 8;
                EXPECT_EQ(v, kit::narrow32To24(wide[i])) << i;
            }
        }
        EXPECT_EQ(file->cookies, std::vector<void*>{&cookie});
        EXPECT_EQ(file->rates, std::vector<uint32_t>{96000});
        EXPECT_TRUE(file->closed);
        EXPECT_EQ(depth->fileParts(), 3u);
    }
}

}  // namespace
