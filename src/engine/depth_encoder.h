// The encoder of a loopback recording, whose blocks hold 32-bit samples (the
// capture keeps the depth either file takes from them): each chunk is
// narrowed to the file's 16 or 24 bits (kit::narrow32To16, narrow32To24:
// rounded half to even, saturated) and handed to the file's encoder as the
// PCM it takes (24 bits: 3 bytes a sample).
#pragma once

#include <cstdint>
#include <vector>

#include "encoding.common/sound_encoding.h"

namespace engine {

// `samples` 32-bit samples at `in` narrowed to `bits` (16 or 24) bytes at `out`.
void narrowSamples(const uint8_t* in, std::size_t samples, int bits, uint8_t* out) noexcept;

class DepthEncoder : public kit::ISoundEncoder {
public:
    DepthEncoder(kit::smartptr<kit::ISoundEncoder> file, int bits) : file_(std::move(file)), bits_(bits) {}

    void encodeChunk(const kit::Chunk& chunk) override;
    // cppcheck-suppress virtualCallInConstructor ; nothing to do: the file's encoder is made
    void init() override {}
    void close() override { file_->close(); }
    uint32_t fileParts() const noexcept override { return file_->fileParts(); }
    void changeRate(uint32_t samplesPerSec) override { file_->changeRate(samplesPerSec); }
    uint32_t lastPartNumber() const noexcept override { return file_->lastPartNumber(); }

private:
    kit::smartptr<kit::ISoundEncoder> file_;
    int bits_;
    std::vector<uint8_t> narrowed_;
};

}  // namespace engine
