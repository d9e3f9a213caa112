// The WAV encoder: writes the recorded PCM unchanged into RIFF/WAVE files
// through the platform's file calls.
//
// File layout: "RIFF" <file length - 8> "WAVE", "fmt " 16 <PCM header>,
// "data" <data length> <PCM bytes> [a pad byte after an odd length], nothing
// else. Samples of more than 16 bits (24) take the platform's extensible
// header instead ("fmt " 40: WAVE_FORMAT_EXTENSIBLE, all bits valid, front
// left and right, subformat PCM), as players expect above 16 bits. The
// constructor creates the file (an existing one is replaced) and writes the
// header; close() writes the final sizes and closes it.
//
// Between the two the size fields are kept current about once a second of
// audio: the data go to the file first, then both size fields are rewritten,
// so a recording cut off by a crash or a killed process is still a valid WAV
// of everything but its last second. Each time, the file's size is checked
// against what was written: a disk that took less is a full disk.
//
// Long recordings: the RIFF sizes are unsigned 32-bit, so a file holds at
// most 4 GiB. Before a file's data would pass the part limit (4 GiB less a
// margin, in whole frames), the recording goes on in a continuation file
// beside it, "take (2).wav", "take (3).wav", ... (a name already taken is
// skipped, nothing is replaced): every part is a complete WAV on its own,
// the boundary falls between two frames, no byte is lost or repeated.
//
// A write that fails (a full disk, a continuation file that cannot be made)
// throws OutputError; the file is first made consistent with what reached the
// disk: the data cut to whole frames, the sizes counting exactly those.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <vector>
#include <cstdint>
#include <optional>
#include <string>

#include "encoding.common/output_file.h"
#include "encoding.common/rate_parts.h"
#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"
#include "kit/shared_string.h"

namespace kit {

// The 16-byte PCM header of the "fmt " chunk for a format record.
PCMWAVEFORMAT pcmHeader(const SoundFormat& format) noexcept;

constexpr uint32_t kWaveHeaderBytes = 44;        // up to 16 bits
constexpr uint32_t kExtensibleHeaderBytes = 68;  // more than 16 bits
uint32_t waveHeaderBytes(const SoundFormat& format) noexcept;
// The whole header of a file whose data chunk holds `dataBytes` (the RIFF
// size counts the pad byte that follows odd data).
std::vector<uint8_t> waveHeader(const SoundFormat& format, uint32_t dataBytes);

// The data bytes one file holds at most: 4 GiB less the header, the pad byte
// and a margin of 16 MiB (room for chunks that tag editors add), cut to whole
// frames of the format.
uint32_t wavePartLimit(const SoundFormat& format) noexcept;

// The name of part `n` (2, 3, ...) of a recording: "D:\rec\take.wav" ->
// "D:\rec\take (2).wav"; a name without extension gets the number at its end.
std::string wavePartName(const std::string& firstPath, uint32_t n);

class WaveSoundEncoder : public ISoundEncoder {
public:
    // Creates the file; a failure is thrown from here (OutputError, with the
    // platform's reason). `format` is read by the constructor only. A part
    // limit of 0 takes wavePartLimit(format); tests give a small one. A first
    // number above 1 makes this file that part of the recording named
    // `fileName` (its continuations follow that number).
    WaveSoundEncoder(const shared_string& fileName, const SoundFormat* format, uint32_t partLimit = 0,
                     uint32_t firstNumber = 1);
    // Closes the file when close() was not called (sizes written, failures traced).
    ~WaveSoundEncoder() override;

    void encodeChunk(const Chunk& chunk) override;
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own init()
    void init() override;
    void close() override;
    uint32_t fileParts() const noexcept override { return parts; }
    uint32_t lastPartNumber() const noexcept override { return lastNumber; }
    uint64_t bytesInLastPart() const noexcept override { return written; }

    // PCM bytes written so far, over all parts.
    uint64_t dataBytes() const noexcept { return earlierParts + written; }
    const std::string& currentPartPath() const noexcept { return partPath; }

private:
    void writeData(const uint8_t* data, uint32_t length);
    void nextPart();
    void updateSizes();
    void finishPart();
    void keepWhatReachedTheDisk() noexcept;
    void writeSizes(uint32_t dataBytes, uint32_t riffBytes);

    std::optional<OutputFile> file;
    shared_string fileName;
    std::string partPath;
    SoundFormat fmt{};
    uint32_t partLimit = 0;
    uint32_t parts = 0;
    uint32_t firstNumber = 1;
    uint32_t lastNumber = 1;  // the number in the current part's name

    uint64_t earlierParts = 0;  // PCM bytes in the parts before this one
    uint32_t written = 0;       // PCM bytes in this part's data chunk
    uint32_t sizesWritten = 0;  // data size the header holds on disk
    uint32_t updateEvery = 0;   // one second of audio, in bytes
    uint32_t headerBytes = kWaveHeaderBytes;
};

}  // namespace kit
