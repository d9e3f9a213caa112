// Volume meters: encoders that write no file. Each block of 16-bit PCM that
// the encoding stream hands them becomes one number (the block's mean absolute
// sample for VolumeMeter, its largest absolute sample for VolumeMeter2); the
// numbers are kept until takeResult().
//
// encodeChunk runs on the encoding thread while the measuring thread polls
// isReady(); the stored values are guarded by a lock.
#pragma once

#include <deque>
#include <mutex>

#include "encoding.common/sound_encoding.h"

namespace kit {

class VolumeMeterBase : public ISoundEncoder {
public:
    void init() override {}
    void close() override {}
    // More than two blocks measured.
    bool isReady() const;
    // How many blocks are measured so far.
    std::size_t count() const;

protected:
    void append(double value);
    std::deque<double> takeValues();

private:
    mutable std::mutex lock;
    std::deque<double> values;
};

// Average loudness: the mean over all blocks of each block's mean absolute sample.
class VolumeMeter : public VolumeMeterBase {
public:
    void encodeChunk(const Chunk& chunk) override;
    // Removes every value; their mean, truncated toward zero (0 when none).
    int takeResult();

    // The mean absolute value of `count` interleaved samples (0 for none).
    static double blockAverage(const int16_t* samples, std::size_t count);
};

// Peak loudness: the largest block peak.
class VolumeMeter2 : public VolumeMeterBase {
public:
    void encodeChunk(const Chunk& chunk) override;
    // Removes every value; the largest of them, starting from 0.
    int takeResult();

    // The largest absolute sample; -32768 counts as 32767, the loudest a
    // 16-bit value can say.
    static int16_t blockPeak(const int16_t* samples, std::size_t count);
};

}  // namespace kit
