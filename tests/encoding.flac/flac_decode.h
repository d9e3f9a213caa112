// Reading a FLAC file back in the tests, with libFLAC's own stream decoder
// over the file's bytes: the samples, STREAMINFO, the seek table, whether
// the decoder found the MD5 right.
#pragma once

#include <FLAC/format.h>

#include <cstdint>
#include <string>
#include <vector>

namespace flactest {

struct Decoded {
    bool ok = false;          // every frame decoded, no error reported
    bool md5Checked = false;  // STREAMINFO held an MD5 and it matched the audio
    unsigned errors = 0;
    uint32_t channels = 0, bits = 0, rate = 0;
    uint64_t totalSamples = 0;  // STREAMINFO's count (0: unknown)
    bool md5Set = false;        // STREAMINFO's MD5 is not all zeros
    bool hasSeekTable = false;
    std::vector<FLAC__StreamMetadata_SeekPoint> points;
    std::vector<int16_t> samples;  // interleaved (16-bit files)
    std::vector<int32_t> wide;     // the same at any depth (24-bit files)
};

Decoded decodeFlac(const std::string& bytes);

// Decodes from a seek point: the first frame after seeking to `sample`
// starts there, with the samples of that position (false when seeking failed).
bool seekAndRead(const std::string& bytes, uint64_t sample, std::vector<int16_t>& firstFrame);

}  // namespace flactest
