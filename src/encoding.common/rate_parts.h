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
//
// Silence rules (all off unless given): the recording writes nothing until
// the first sound (what came just before it, kPreRollMs, is kept so that its
// onset is whole); a silence of splitMs goes on in the next part, cut inside
// the silence at the frame where it reached that length, so that the files
// together hold exactly the stream; a silence of stopMs, once sound began,
// calls the owner's handler once (the owner ends the recording).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encoding.common/silence.h"
#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"

namespace kit {

// The name of part `n` (2, 3, ...) of a recording: "D:\rec\take.wav" ->
// "D:\rec\take (2).wav"; a name without extension gets the number at its end.
std::string partFileName(const std::string& firstPath, uint32_t n);

constexpr uint32_t kPreRollMs = 250;

struct SilenceRules {
    bool startOnSound = false;
    uint32_t splitMs = 0;  // 0: no cut
    uint32_t stopMs = 0;   // 0: no stop
    int32_t thresholdDbfs = -50;
    std::function<void()> onLongSilence;  // called on the encoding thread
};

// One file of a recording: its name, and the frames it holds at its rate.
struct FilePart {
    std::string path;
    uint64_t frames = 0;
    int32_t samplesPerSec = 0;
};

class RatePartsEncoder : public ISoundEncoder {
public:
    using Factory = std::function<smartptr<ISoundEncoder>(const std::string& firstPath, uint32_t number,
                                                          const SoundFormat& format)>;

    // Makes the first file (its failure is thrown, as the factory throws it).
    RatePartsEncoder(std::string firstPath, const SoundFormat& format, Factory factory, SilenceRules rules = {});

    void encodeChunk(const Chunk& chunk) override;
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own init()
    void init() override {}
    void close() override { current->close(); }
    uint32_t fileParts() const noexcept override { return earlierParts + current->fileParts(); }
    // The next file is made before the current one is completed: a file that
    // cannot be made is thrown (OutputError) with the current one still open.
    void changeRate(uint32_t samplesPerSec) override;
    uint32_t lastPartNumber() const noexcept override { return current->lastPartNumber(); }

    const SoundFormat& format() const noexcept { return fmt; }
    // Every file of the recording so far, in order (read once encoding ended).
    const std::vector<FilePart>& files() const noexcept { return written; }

private:
    void goOn(const SoundFormat& next, const char* why);
    void pass(const uint8_t* data, uint32_t length, void* cookie);
    void hold(const uint8_t* data, uint32_t length);
    void judgeBlock(const uint8_t* at, const uint8_t*& unwritten, void* cookie);
    void restartBlocks();

    std::string first;
    SoundFormat fmt;
    Factory make;
    smartptr<ISoundEncoder> current;
    uint32_t earlierParts = 0;
    std::vector<FilePart> written;

    SilenceRules rules;
    bool silenceRulesOn = false;
    SilenceLimits limits;
    SilenceState silence;
    uint32_t level = 0;
    uint32_t blockFrames = 1;
    uint32_t framesInBlock = 0;
    uint32_t peak = 0;
    std::vector<uint8_t> preRoll;  // while waiting for sound: the latest frames
    bool stopTold = false;
};

}  // namespace kit
