// The WAV encoder: writes the recorded PCM unchanged into a RIFF/WAVE file
// through the platform's multimedia file I/O.
//
// File layout: "RIFF" <file length - 8> "WAVE", "fmt " 16 <PCM header>,
// "data" <data length> <PCM bytes>, nothing else. The constructor creates the
// file (an existing one is replaced) and writes the header; close() writes the
// final sizes and closes it.
//
// Between the two the size fields are kept current about once a second of
// audio: the data written so far is flushed to the file, then both size fields
// are rewritten and flushed, so a recording cut off by a crash or a killed
// process is still a valid WAV of everything but its last second.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"
#include "kit/shared_string.h"

namespace kit {

// The 16-byte PCM header of the "fmt " chunk for a format record.
PCMWAVEFORMAT pcmHeader(const SoundFormat& format) noexcept;

class WaveSoundEncoder : public ISoundEncoder {
public:
    // Creates the file; a failure is thrown from here. `format` is read by the
    // constructor only.
    WaveSoundEncoder(const shared_string& fileName, const SoundFormat* format);
    // Closes the file when close() was not called (sizes written, failures traced).
    ~WaveSoundEncoder() override;

    void encodeChunk(const Chunk& chunk) override;
    void init() override;
    void close() override;

    uint32_t dataBytes() const noexcept { return written; }

private:
    void updateSizes();
    void seekTo(LONG offset, const char* function);
    void writeField(uint32_t value, const char* function);

    HMMIO hmmio = nullptr;
    MMCKINFO mmck{};      // the current subchunk: "fmt ", then "data"
    MMCKINFO mmckinfo{};  // the RIFF chunk
    shared_string fileName;
    const SoundFormat* format;

    uint32_t written = 0;        // PCM bytes in the data chunk
    uint32_t sizesWritten = 0;   // data size the header holds on disk
    uint32_t updateEvery = 0;    // one second of audio, in bytes
};

}  // namespace kit
