#include "encoding.mp3/mp3_encoding.h"

#include <cstring>
#include <utility>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/scoped.h"

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
    c.dwReSampleRate = mp3ResampleRate(static_cast<uint32_t>(format.sampleRate));
    c.nMode = lame::kModeJointStereo;
    c.dwBitrate = static_cast<uint32_t>(format.bitrate);
    c.dwMaxBitrate = format.vbr ? 320 : static_cast<uint32_t>(format.bitrate);
    c.nPreset = 4;
    c.dwMpegVersion = lame::kMpeg1;
    c.dwPsyModel = 0;
    c.dwEmphasis = 0;
    c.bCRC = 1;
    c.bOriginal = 1;
    c.bWriteVBRHeader = 1;
    c.bEnableVBR = format.vbr ? 1 : 0;
    c.bNoRes = 1;
    return c;
}

uint32_t mp3ResampleRate(uint32_t inputRate) noexcept {
    if (inputRate <= 48000) return 0;
    return inputRate % 11025 == 0 ? 44100 : 48000;
}

uint32_t mp3PieceSamples(uint32_t remainingBytes, uint32_t samplesPerCall) {
    uint32_t whole = remainingBytes / 2;
    return whole < samplesPerCall ? whole : samplesPerCall;
}

uint32_t mp3FrameBytes(const uint8_t h[4]) noexcept {
    static const uint16_t kKbpsMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const uint16_t kKbpsMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const uint32_t kRates[4] = {44100, 48000, 32000, 0};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    int version = (h[1] >> 3) & 3;                         // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    if (version == 1 || ((h[1] >> 1) & 3) != 1) return 0;  // reserved version, or not Layer III
    uint32_t kbps = (version == 3 ? kKbpsMpeg1 : kKbpsMpeg2)[h[2] >> 4];
    uint32_t rate = kRates[(h[2] >> 2) & 3];
    if (kbps == 0 || rate == 0) return 0;
    rate >>= version == 3 ? 0 : version == 2 ? 1 : 2;
    uint32_t perFrame = version == 3 ? 144 : 72;  // 1152 or 576 samples per frame, over 8 bits
    return perFrame * kbps * 1000 / rate + ((h[2] >> 1) & 1);
}

Mp3SoundEncoder::Mp3SoundEncoder(shared_string fileName_, const Mp3Format* format_)
    : fileName(std::move(fileName_)), format(format_) {
    FW_TRACE("Mp3SoundEncoder()");
    init();
}

Mp3SoundEncoder::~Mp3SoundEncoder() = default;

void Mp3SoundEncoder::init() {
    loadLibrary();
    // The file is opened without emptying it: a stream the library refuses
    // leaves an existing file as it was, and no file where there was none.
    OutputFile out(fileName.str(), OutputFile::Open::keep,
                   shared_string::format("Cannt open file: %s", fileName.c_str()).c_str(), kTraceSource, kInit);
    try {
        startStream();
        if (out.sizeOnDisk("Output file write error") != 0) out.truncate(0, "Output file write error");
    } catch (...) {
        out.discard();
        throw;
    }
    file.emplace(std::move(out));
    FW_TRACE("Mp3 encoder initialized");
}

void Mp3SoundEncoder::loadLibrary() {
    library.reset(::LoadLibraryA("lame_enc.dll"));
    if (!library) {
        DWORD error = ::GetLastError();
        setOrigin(kTraceSource, __LINE__, kInit);
        // Anything but "not found" means a file of that name that is no usable library.
        throw OutputError(
            "Error loading dll!",
            error == ERROR_MOD_NOT_FOUND ? OutputFault::mp3LibraryMissing : OutputFault::mp3LibraryUnusable, error,
            fileName);
    }
    beInitStream = entryPoint<lame::InitStreamFn>(library.get(), "beInitStream");
    beEncodeChunk = entryPoint<lame::EncodeChunkFn>(library.get(), "beEncodeChunk");
    beDeinitStream = entryPoint<lame::DeinitStreamFn>(library.get(), "beDeinitStream");
    beCloseStream = entryPoint<lame::CloseStreamFn>(library.get(), "beCloseStream");
    beVersion = entryPoint<lame::VersionFn>(library.get(), "beVersion");
    beWriteVBRHeader = entryPoint<lame::WriteVBRHeaderFn>(library.get(), "beWriteVBRHeader");
    beWriteInfoTag = entryPoint<lame::WriteInfoTagFn>(library.get(), "beWriteInfoTag");
    if (!beInitStream || !beEncodeChunk || !beDeinitStream || !beCloseStream || !beVersion || !beWriteVBRHeader) {
        setOrigin(kTraceSource, __LINE__, kInit);
        throw OutputError("Unable to get LAME interfaces", OutputFault::mp3LibraryUnusable, ERROR_PROC_NOT_FOUND,
                          fileName);
    }
    beVersion(&version);
    version.homepage[sizeof version.homepage - 1] = '\0';
    FW_TRACE("lame_enc.dll version %u.%02u (%u/%u/%u)\nlame_enc Engine %u.%02u\nlame_enc homepage at %s\n\n",
             version.dllMajor, version.dllMinor, version.day, version.month, version.year, version.engineMajor,
             version.engineMinor, version.homepage);
}

void Mp3SoundEncoder::startStream() {
    FW_TRACE("Using quality: %d %d %d", format->sampleRate, format->bitrate, format->vbr ? 1 : 0);
    config = mp3Config(*format);
    auto refused = [&](int line) {
        setOrigin(kTraceSource, line, kInit);
        throw OutputError("Error opening encoding stream", OutputFault::mp3LibraryUnusable, ERROR_SUCCESS, fileName);
    };
    lame::Stream started = nullptr;
    result = beInitStream(&config, &samplesPerCall, &mp3BufferSize, &started);
    if (result != 0) refused(__LINE__);
    stream = LameStream(started, beCloseStream);
    // A stream that takes no sample per call could never consume a block.
    if (samplesPerCall == 0) refused(__LINE__);
    mp3Buffer = std::make_unique<uint8_t[]>(mp3BufferSize);
    pcmBuffer = std::make_unique<int16_t[]>(samplesPerCall);
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
        result = beEncodeChunk(stream.get(), n, pcmBuffer.get(), mp3Buffer.get(), &bytes);
        if (result != 0) fail(__LINE__, kEncodeChunk, "beEncodeChunk() failed");
        writeOutput(bytes, kEncodeChunk);
        done += n * 2u;
    }
}

// The library's order: the last frames, the file closed, the stream closed
// (kept alive while the information frame is still to be written), then the
// information frame written into the closed file, which releases the stream.
void Mp3SoundEncoder::close() {
    uint32_t bytes = 0;
    result = beDeinitStream(stream.get(), mp3Buffer.get(), &bytes);
    if (result != 0) {
        file.reset();  // what was written stays
        fail(__LINE__, kClose, "beExitStream failed");
    }
    pcmBuffer.reset();
    try {
        if (bytes != 0) writeOutput(bytes, kClose);
    } catch (const OutputError&) {
        completeFile();  // what reached the disk is still a file that plays
        throw;
    }
    completeFile();
}

void Mp3SoundEncoder::completeFile() {
    mp3Buffer.reset();
    OutputFile done = std::move(*file);
    file.reset();
    stream.close();
    done.close("Output file write error");
    // The library shows a message box of its own when the frame is not where
    // it wrote it (a file cut short by a full disk): such a file keeps the
    // empty frame, and the stream is left to the process.
    if (!config.bWriteVBRHeader || !tagFrameInPlace()) {
        FW_LOG(fw::LEVEL_WARN, "Mp3InfoFrameSkipped", "%s", fileName.c_str());
        return;
    }
    lame::Result tag =
        beWriteInfoTag ? beWriteInfoTag(stream.get(), fileName.c_str()) : beWriteVBRHeader(fileName.c_str());
    FW_TRACE("%s: %u", beWriteInfoTag ? "beWriteInfoTag" : "beWriteVBRHeader", tag);
    if (tag != 0) FW_LOG(fw::LEVEL_WARN, "Mp3InfoFrameFailed", "%s: %u", fileName.c_str(), tag);
}

// The first frame (the information frame) and the sync word of the next one.
bool Mp3SoundEncoder::tagFrameInPlace() const {
    ScopedHandle f(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    uint8_t head[4] = {};
    DWORD got = 0;
    if (!::ReadFile(f.get(), head, 4, &got, nullptr) || got != 4) return false;
    uint32_t first = mp3FrameBytes(head);
    LARGE_INTEGER to;
    to.QuadPart = first;
    if (first == 0 || !::SetFilePointerEx(f.get(), to, nullptr, FILE_BEGIN)) return false;
    uint8_t next[4] = {};
    return ::ReadFile(f.get(), next, 4, &got, nullptr) && got == 4 && next[0] == 0xFF && (next[1] & 0xE0) == 0xE0;
}

void Mp3SoundEncoder::writeOutput(uint32_t bytes, const char*) {
    if (bytes == 0) return;
    file->write(mp3Buffer.get(), bytes, "Output file write error");
}

}  // namespace kit
