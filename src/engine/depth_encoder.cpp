#include "engine/depth_encoder.h"

#include <cstring>

#include "sound.capture/sample_convert.h"

namespace engine {

void narrowSamples(const uint8_t* in, std::size_t samples, int bits, uint8_t* out) noexcept {
    for (std::size_t i = 0; i < samples; ++i, in += 4) {
        int32_t wide;
        std::memcpy(&wide, in, 4);
        if (bits == 24) {
            auto v = static_cast<uint32_t>(kit::narrow32To24(wide));
            *out++ = static_cast<uint8_t>(v);
            *out++ = static_cast<uint8_t>(v >> 8);
            *out++ = static_cast<uint8_t>(v >> 16);
        } else {
            int16_t v = kit::narrow32To16(wide);
            std::memcpy(out, &v, 2);
            out += 2;
        }
    }
}

void DepthEncoder::encodeChunk(const kit::Chunk& chunk) {
    std::size_t samples = chunk.length / 4;
    narrowed_.resize(samples * static_cast<std::size_t>(bits_ / 8));
    narrowSamples(chunk.data, samples, bits_, narrowed_.data());
    kit::Chunk file{narrowed_.data(), static_cast<uint32_t>(narrowed_.size()), chunk.cookie, chunk.newRate};
    file_->encodeChunk(file);
}

}  // namespace engine
