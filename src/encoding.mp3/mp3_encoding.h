// The MP3 encoder: hands the recorded PCM to the LAME encoder library
// "lame_enc.dll" (loaded at run time by name, through the platform's library
// search) and writes what the library returns into the output file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "encoding.common/sound_encoding.h"
#include "encoding.mp3/lame_interface.h"
#include "kit/shared_string.h"

namespace kit {

// Output parameters of an MP3 file. The encoder keeps a pointer to it.
struct Mp3Format {
    int32_t bitrate;     // kbit/s
    int32_t sampleRate;  // samples per second
    bool vbr;            // variable bit rate
};

// The configuration record handed to the library for a format.
lame::Config mp3Config(const Mp3Format& format);

// Number of samples (16-bit, counted over all channels) of the next library
// call when `remainingBytes` of a block are left: at most `samplesPerCall`.
// 0 when less than one whole sample is left.
uint32_t mp3PieceSamples(uint32_t remainingBytes, uint32_t samplesPerCall);

class Mp3SoundEncoder : public ISoundEncoder {
public:
    // Opens the file, loads the library and starts its stream; failures are thrown.
    Mp3SoundEncoder(shared_string fileName, const Mp3Format* format);
    ~Mp3SoundEncoder() override;

    void encodeChunk(const Chunk& chunk) override;
    void init() override;
    void close() override;

private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };

    void writeOutput(uint32_t bytes, int line, const char* function);

    lame::InitStreamFn beInitStream = nullptr;
    lame::EncodeChunkFn beEncodeChunk = nullptr;
    lame::DeinitStreamFn beDeinitStream = nullptr;
    lame::CloseStreamFn beCloseStream = nullptr;
    lame::VersionFn beVersion = nullptr;
    lame::WriteVBRHeaderFn beWriteVBRHeader = nullptr;
    lame::WriteInfoTagFn beWriteInfoTag = nullptr;  // optional
    HMODULE library = nullptr;  // stays loaded for the rest of the process
    std::unique_ptr<std::FILE, FileCloser> file;
    lame::Version version{};
    lame::Config config{};
    uint32_t samplesPerCall = 0;
    uint32_t mp3BufferSize = 0;
    lame::Stream stream = nullptr;
    lame::Result result = 0;
    std::unique_ptr<uint8_t[]> mp3Buffer;
    std::unique_ptr<int16_t[]> pcmBuffer;
    shared_string fileName;
    const Mp3Format* format;
};

}  // namespace kit
