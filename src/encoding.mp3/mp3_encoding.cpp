#include "encoding.mp3/mp3_encoding.h"

#include <cstring>
#include <utility>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "encoding.mp3/mp3_encoding";
constexpr const char* kInit = "kit::Mp3SoundEncoder::init";
constexpr const char* kEncodeChunk = "kit::Mp3SoundEncoder::encodeChunk";
constexpr const char* kClose = "kit::Mp3SoundEncoder::close";

[[noreturn]] void fail(int line, const char* function, shared_string text) {
    setOrigin(kTraceSource, line, function);
    throw ARuntimeError(std::move(text));
}

template <class Fn>
Fn entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

lame::Config mp3Config(const Mp3Format& format) {
    lame::Config c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = lame::kConfigLame;
    c.dwStructVersion = 1;
    c.dwStructSize = lame::kConfigSize;
    c.dwSampleRate = static_cast<uint32_t>(format.sampleRate);
    c.dwReSampleRate = 0;
    c.nMode = lame::kModeJointStereo;
    c.dwBitrate = static_cast<uint32_t>(format.bitrate);
    c.dwMaxBitrate = format.vbr ? 320 : static_cast<uint32_t>(format.bitrate);
    c.nPreset = 4;
    c.dwMpegVersion = lame::kMpeg1;
    c.dwPsyModel = 0;
    c.dwEmphasis = 0;
    c.bCRC = 1;
    c.bOriginal = 1;
    c.bWriteVBRHeader = format.vbr ? 1 : 0;
    c.bEnableVBR = format.vbr ? 1 : 0;
    c.bNoRes = 1;
    return c;
}

uint32_t mp3PieceSamples(uint32_t remainingBytes, uint32_t samplesPerCall) {
    uint32_t whole = remainingBytes / 2;
    return whole < samplesPerCall ? whole : samplesPerCall;
}

Mp3SoundEncoder::Mp3SoundEncoder(shared_string fileName, const Mp3Format* format)
    : fileName(std::move(fileName)), format(format) {
    FW_TRACE("Mp3SoundEncoder()");
    init();
}

Mp3SoundEncoder::~Mp3SoundEncoder() = default;

void Mp3SoundEncoder::init() {
    file.reset(std::fopen(fileName.c_str(), "wb"));
    if (!file) fail(__LINE__, kInit, shared_string::format("Cannt open file: %s", fileName.c_str()));

    library = ::LoadLibraryA("lame_enc.dll");
    if (!library) fail(__LINE__, kInit, "Error loading dll!");

    beInitStream = entryPoint<lame::InitStreamFn>(library, "beInitStream");
    beEncodeChunk = entryPoint<lame::EncodeChunkFn>(library, "beEncodeChunk");
    beDeinitStream = entryPoint<lame::DeinitStreamFn>(library, "beDeinitStream");
    beCloseStream = entryPoint<lame::CloseStreamFn>(library, "beCloseStream");
    beVersion = entryPoint<lame::VersionFn>(library, "beVersion");
    beWriteVBRHeader = entryPoint<lame::WriteVBRHeaderFn>(library, "beWriteVBRHeader");
    beWriteInfoTag = entryPoint<lame::WriteInfoTagFn>(library, "beWriteInfoTag");
    if (!beInitStream || !beEncodeChunk || !beDeinitStream || !beCloseStream || !beVersion || !beWriteVBRHeader)
        fail(__LINE__, kInit, "Unable to get LAME interfaces");

    beVersion(&version);
    version.homepage[sizeof version.homepage - 1] = '\0';
    FW_TRACE("lame_enc.dll version %u.%02u (%u/%u/%u)\nlame_enc Engine %u.%02u\nlame_enc homepage at %s\n\n",
             version.dllMajor, version.dllMinor, version.day, version.month, version.year, version.engineMajor,
             version.engineMinor, version.homepage);

    FW_TRACE("Using quality: %d %d %d", format->sampleRate, format->bitrate, format->vbr ? 1 : 0);
    config = mp3Config(*format);

    result = beInitStream(&config, &samplesPerCall, &mp3BufferSize, &stream);
    if (result != 0) fail(__LINE__, kInit, "Error opening encoding stream");
    if (samplesPerCall == 0) {
        // A stream that takes no sample per call could never consume a block.
        beCloseStream(stream);
        fail(__LINE__, kInit, "Error opening encoding stream");
    }

    mp3Buffer = std::make_unique<uint8_t[]>(mp3BufferSize);
    pcmBuffer = std::make_unique<int16_t[]>(samplesPerCall);
    FW_TRACE("Mp3 encoder initialized");
}

void Mp3SoundEncoder::encodeChunk(const Chunk& chunk) {
    uint32_t done = 0;
    while (done < chunk.length) {
        uint32_t n = mp3PieceSamples(chunk.length - done, samplesPerCall);
        if (n == 0) {
            FW_TRACE("encodeChunk: %u byte(s) left that make no whole sample", chunk.length - done);
            break;
        }
        std::memcpy(pcmBuffer.get(), chunk.data + done, n * 2u);
        uint32_t bytes = 0;
        result = beEncodeChunk(stream, n, pcmBuffer.get(), mp3Buffer.get(), &bytes);
        if (result != 0) {
            beCloseStream(stream);
            fail(__LINE__, kEncodeChunk, "beEncodeChunk() failed");
        }
        writeOutput(bytes, __LINE__, kEncodeChunk);
        done += n * 2u;
    }
}

void Mp3SoundEncoder::close() {
    uint32_t bytes = 0;
    result = beDeinitStream(stream, mp3Buffer.get(), &bytes);
    if (result != 0) {
        beCloseStream(stream);
        fail(__LINE__, kClose, "beExitStream failed");
    }
    if (bytes != 0) writeOutput(bytes, __LINE__, kClose);
    beCloseStream(stream);

    pcmBuffer.reset();
    mp3Buffer.reset();
    // What the file's buffer still holds is written now: a failure there loses the end of the recording.
    std::FILE* f = file.release();
    bool flushed = std::fflush(f) == 0;
    if (std::fclose(f) != 0 || !flushed) fail(__LINE__, kClose, "Output file write error");

    if (beWriteInfoTag) {
        lame::Result tag = beWriteInfoTag(stream, fileName.c_str());
        FW_TRACE("beWriteInfoTag: %u", tag);
    } else {
        lame::Result tag = beWriteVBRHeader(fileName.c_str());
        FW_TRACE("beWriteVBRHeader: %u", tag);
    }
}

void Mp3SoundEncoder::writeOutput(uint32_t bytes, int line, const char* function) {
    if (std::fwrite(mp3Buffer.get(), 1, bytes, file.get()) != bytes) fail(line, function, "Output file write error");
}

}  // namespace kit
