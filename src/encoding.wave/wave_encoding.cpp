#include "encoding.wave/wave_encoding.h"

#include <string>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.wave/wave_encoding";

[[noreturn]] void fail(int line, const char* function, shared_string text) {
    setOrigin(kTraceSource, line, function);
    throw ARuntimeError(std::move(text));
}

[[noreturn]] void failCall(int line, const char* function, const char* call) {
    fail(line, function, shared_string::format("%s() failed", call));
}
}  // namespace

PCMWAVEFORMAT pcmHeader(const SoundFormat& format) noexcept {
    PCMWAVEFORMAT h{};
    h.wf.wFormatTag = WAVE_FORMAT_PCM;
    h.wf.nChannels = static_cast<WORD>(format.channels);
    h.wf.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSec);
    h.wf.nBlockAlign = blockAlign(format);
    h.wf.nAvgBytesPerSec = avgBytesPerSec(format);
    h.wBitsPerSample = static_cast<WORD>(format.bitsPerSample);
    return h;
}

WaveSoundEncoder::WaveSoundEncoder(const shared_string& fileName, const SoundFormat* format)
    : fileName(fileName), format(format) {
    init();
}

WaveSoundEncoder::~WaveSoundEncoder() {
    if (!hmmio) return;
    fw::catchAndReport(kTraceSource, __LINE__, [this] { close(); }, fw::LEVEL_WARN);
    fw::takeExceptionReported();
}

void WaveSoundEncoder::init() {
    constexpr const char* kFn = "kit::WaveSoundEncoder::init";
    std::string path = fileName.str();
    hmmio = ::mmioOpenA(path.data(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!hmmio) fail(__LINE__, kFn, "mmioOpen() failed");
    FW_TRACE("hmmio %p", static_cast<void*>(hmmio));
    try {
        mmckinfo = MMCKINFO{};
        mmckinfo.fccType = ::mmioStringToFOURCCA("WAVE", 0);
        if (::mmioCreateChunk(hmmio, &mmckinfo, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
            failCall(__LINE__, kFn, "mmioCreateChunk (hmmio, (LPMMCKINFO)&mmckinfo, MMIO_CREATERIFF)");

        PCMWAVEFORMAT header = pcmHeader(*format);
        static_assert(sizeof header == 16);
        mmck = MMCKINFO{};
        mmck.ckid = ::mmioStringToFOURCCA("fmt ", 0);
        mmck.cksize = sizeof header;
        if (::mmioCreateChunk(hmmio, &mmck, 0) != MMSYSERR_NOERROR)
            failCall(__LINE__, kFn, "mmioCreateChunk (hmmio, (LPMMCKINFO )&mmck, 0)");
        if (::mmioWrite(hmmio, reinterpret_cast<const char*>(&header), sizeof header) != sizeof header)
            fail(__LINE__, kFn, "mmioWrite () failed");
        if (::mmioAscend(hmmio, &mmck, 0) != MMSYSERR_NOERROR) failCall(__LINE__, kFn, "mmioAscend (hmmio, &mmck, 0)");

        mmck = MMCKINFO{};
        mmck.ckid = ::mmioStringToFOURCCA("data", 0);
        mmck.cksize = 0;
        if (::mmioCreateChunk(hmmio, &mmck, 0) != MMSYSERR_NOERROR)
            failCall(__LINE__, kFn, "mmioCreateChunk (hmmio, (LPMMCKINFO )&mmck, 0)");

        written = 0;
        updateEvery = avgBytesPerSec(*format);
        if (updateEvery == 0) updateEvery = avgBytesPerSec(kRecordingFormat);
        updateSizes();  // a valid empty WAV from the start
    } catch (...) {
        ::mmioClose(hmmio, 0);
        hmmio = nullptr;
        throw;
    }
}

void WaveSoundEncoder::encodeChunk(const Chunk& chunk) {
    LONG length = static_cast<LONG>(chunk.length);
    if (::mmioWrite(hmmio, reinterpret_cast<const char*>(chunk.data), length) != length) {
        setOrigin(kTraceSource, __LINE__, "kit::WaveSoundEncoder::encodeChunk");
        throw ARuntimeError("mmioWrite () failed");
    }
    written += chunk.length;
    if (written - sizesWritten >= updateEvery) updateSizes();
}

void WaveSoundEncoder::seekTo(LONG offset, const char* function) {
    if (::mmioSeek(hmmio, offset, SEEK_SET) != offset) fail(__LINE__, function, "mmioSeek () failed");
}

void WaveSoundEncoder::writeField(uint32_t value, const char* function) {
    if (::mmioWrite(hmmio, reinterpret_cast<const char*>(&value), 4) != 4) fail(__LINE__, function, "mmioWrite () failed");
}

// Makes the file on disk a complete WAV of the data written so far. The data
// reach the file before the sizes that count them. The buffer is written back
// from its start up to the current position, so the lower field goes first.
void WaveSoundEncoder::updateSizes() {
    constexpr const char* kFn = "kit::WaveSoundEncoder::encodeChunk";
    if (::mmioFlush(hmmio, 0) != MMSYSERR_NOERROR) fail(__LINE__, kFn, "mmioFlush () failed");
    LONG end = static_cast<LONG>(mmck.dwDataOffset + written);
    seekTo(static_cast<LONG>(mmckinfo.dwDataOffset) - 4, kFn);
    writeField(static_cast<uint32_t>(end) - 8, kFn);
    seekTo(static_cast<LONG>(mmck.dwDataOffset) - 4, kFn);
    writeField(written, kFn);
    if (::mmioFlush(hmmio, 0) != MMSYSERR_NOERROR) fail(__LINE__, kFn, "mmioFlush () failed");
    seekTo(end, kFn);
    sizesWritten = written;
}

void WaveSoundEncoder::close() {
    constexpr const char* kFn = "kit::WaveSoundEncoder::close";
    HMMIO h = hmmio;
    hmmio = nullptr;  // whatever happens below, the handle is not used again
    if (::mmioAscend(h, &mmck, 0) != MMSYSERR_NOERROR) {
        ::mmioClose(h, 0);
        failCall(__LINE__, kFn, "mmioAscend (hmmio, (LPMMCKINFO)&mmck, 0)");
    }
    if (::mmioAscend(h, &mmckinfo, 0) != MMSYSERR_NOERROR) {
        ::mmioClose(h, 0);
        failCall(__LINE__, kFn, "mmioAscend (hmmio, (LPMMCKINFO)&mmckinfo, 0)");
    }
    if (::mmioClose(h, 0) != MMSYSERR_NOERROR) fail(__LINE__, kFn, "mmioClose () failed");
}

}  // namespace kit
