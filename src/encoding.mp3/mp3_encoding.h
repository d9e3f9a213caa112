// The MP3 encoder: hands the recorded PCM to the LAME encoder library
// "lame_enc.dll" (loaded at run time by name, through the platform's library
// search) and writes what the library returns into the output file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "encoding.common/output_file.h"
#include "encoding.common/sound_encoding.h"
#include "encoding.mp3/lame_interface.h"
#include "kit/scoped.h"
#include "kit/shared_string.h"

namespace kit {

// Output parameters of an MP3 file. The encoder keeps a pointer to it.
struct Mp3Format {
    int32_t bitrate;     // kbit/s
    int32_t sampleRate;  // samples per second
    bool vbr;            // variable bit rate
};

// The configuration record handed to the library for a format. It always asks
// for the library's information frame (Xing/Info with the LAME tag) at the
// start of the file, so that players know the length: recordings begin with
// silence, which the library encodes in smaller frames than the music.
lame::Config mp3Config(const Mp3Format& format);

// The rate the library is told to resample to (0: none asked, the library
// keeps the input's rate, as MPEG audio has rates up to 48 000 Hz): above
// 48 000 Hz, 44 100 for multiples of 11 025 (88 200, 176 400, 352 800) and
// 48 000 for all others.
uint32_t mp3ResampleRate(uint32_t inputRate) noexcept;

// Bytes of the MPEG audio frame whose 4-byte header is given (MPEG-1, 2 or
// 2.5, Layer III); 0 when the bytes are no such header.
uint32_t mp3FrameBytes(const uint8_t header[4]) noexcept;

// Number of samples (16-bit, counted over all channels) of the next library
// call when `remainingBytes` of a block are left: at most `samplesPerCall`.
// 0 when less than one whole sample is left.
uint32_t mp3PieceSamples(uint32_t remainingBytes, uint32_t samplesPerCall);

// One stream of the library, closed (beCloseStream) once: by close() where the
// library's order needs it, or when the owner goes. The handle stays readable
// after the close: the library releases a stream that writes its information
// frame only in beWriteInfoTag, which comes after the close.
class LameStream {
public:
    LameStream() noexcept = default;
    LameStream(lame::Stream stream_, lame::CloseStreamFn closeFn_) noexcept : stream(stream_), closeFn(closeFn_) {}
    LameStream(const LameStream&) = delete;
    LameStream& operator=(const LameStream&) = delete;
    LameStream(LameStream&& other) noexcept
        : stream(std::exchange(other.stream, nullptr)), closeFn(std::exchange(other.closeFn, nullptr)) {}
    LameStream& operator=(LameStream&& other) noexcept {
        if (this != &other) {
            close();
            stream = std::exchange(other.stream, nullptr);
            closeFn = std::exchange(other.closeFn, nullptr);
        }
        return *this;
    }
    ~LameStream() { close(); }

    lame::Stream get() const noexcept { return stream; }
    void close() noexcept {
        if (auto fn = std::exchange(closeFn, nullptr); fn && stream) fn(stream);
    }

private:
    lame::Stream stream = nullptr;
    lame::CloseStreamFn closeFn = nullptr;  // null once closed
};

class Mp3SoundEncoder : public ISoundEncoder {
public:
    // Loads the library and starts its stream, then creates the file; failures
    // are thrown (OutputError: the file or the library, with its reason). A
    // missing or broken library never touches the file; a file that existed
    // stays as it was when the start fails.
    Mp3SoundEncoder(shared_string fileName, const Mp3Format* format);
    ~Mp3SoundEncoder() override;

    void encodeChunk(const Chunk& chunk) override;
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own init()
    void init() override;
    void close() override;

    uint32_t fileParts() const noexcept override { return 1; }

private:
    void loadLibrary();
    void startStream();
    void writeOutput(uint32_t bytes, const char* function);
    void completeFile();
    bool tagFrameInPlace() const;

    lame::InitStreamFn beInitStream = nullptr;
    lame::EncodeChunkFn beEncodeChunk = nullptr;
    lame::DeinitStreamFn beDeinitStream = nullptr;
    lame::CloseStreamFn beCloseStream = nullptr;
    lame::VersionFn beVersion = nullptr;
    lame::WriteVBRHeaderFn beWriteVBRHeader = nullptr;
    lame::WriteInfoTagFn beWriteInfoTag = nullptr;  // optional
    ScopedModule library;                           // declared before the stream, which goes first
    std::optional<OutputFile> file;
    lame::Version version{};
    lame::Config config{};
    uint32_t samplesPerCall = 0;
    uint32_t mp3BufferSize = 0;
    LameStream stream;
    lame::Result result = 0;
    std::unique_ptr<uint8_t[]> mp3Buffer;
    std::unique_ptr<int16_t[]> pcmBuffer;
    shared_string fileName;
    const Mp3Format* format;
};

}  // namespace kit
