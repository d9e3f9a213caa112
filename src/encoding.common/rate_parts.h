// The encoder of a recording whose rate may change on the way (the playback
// device changed to one at another rate): each rate has its own files. A
// change of rate completes the current file and goes on in a continuation
// file at the new rate, numbered with the recording's other parts:
// "take.wav", "take (2).wav", ... (one numbering per recording: a long WAV's
// own continuation files take their numbers from it too; a name already
// taken is skipped, nothing is replaced).
//
// The files themselves are made by the factory the owner gives: the first
// name of the recording, the number of the part (1: that name itself) and the
// format of the part.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"

namespace kit {

// The name of part `n` (2, 3, ...) of a recording: "D:\rec\take.wav" ->
// "D:\rec\take (2).wav"; a name without extension gets the number at its end.
std::string partFileName(const std::string& firstPath, uint32_t n);

class RatePartsEncoder : public ISoundEncoder {
public:
    using Factory = std::function<smartptr<ISoundEncoder>(const std::string& firstPath, uint32_t number,
                                                          const SoundFormat& format)>;

    // Makes the first file (its failure is thrown, as the factory throws it).
    RatePartsEncoder(std::string firstPath, const SoundFormat& format, Factory factory);

    void encodeChunk(const Chunk& chunk) override { current->encodeChunk(chunk); }
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own init()
    void init() override {}
    void close() override { current->close(); }
    uint32_t fileParts() const noexcept override { return earlierParts + current->fileParts(); }
    // The next file is made before the current one is completed: a file that
    // cannot be made is thrown (OutputError) with the current one still open.
    void changeRate(uint32_t samplesPerSec) override;
    uint32_t lastPartNumber() const noexcept override { return current->lastPartNumber(); }

    const SoundFormat& format() const noexcept { return fmt; }

private:
    std::string first;
    SoundFormat fmt;
    Factory make;
    smartptr<ISoundEncoder> current;
    uint32_t earlierParts = 0;
};

}  // namespace kit
