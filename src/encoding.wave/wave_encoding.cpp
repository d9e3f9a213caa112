#include "encoding.wave/wave_encoding.h"

#include <cstring>
#include <string>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.wave/wave_encoding";
constexpr const char* kInit = "kit::WaveSoundEncoder::init";
constexpr const char* kCreateFailed = "CreateFile() failed";
constexpr const char* kWriteFailed = "WriteFile() failed";
constexpr uint32_t kPartMargin = 16u << 20;

void put16(uint8_t* at, uint16_t v) { std::memcpy(at, &v, 2); }
void put32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }

// KSDATAFORMAT_SUBTYPE_PCM (written out, so that no library of GUIDs is linked).
constexpr uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
constexpr uint32_t kFrontLeftRight = 0x3;  // SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT

uint32_t riffBytes(uint32_t headerBytes, uint32_t dataBytes, bool final) {
    return headerBytes - 8 + dataBytes + (final ? (dataBytes & 1) : 0);
}
}  // namespace

uint32_t waveHeaderBytes(const SoundFormat& format) noexcept {
    return static_cast<uint16_t>(format.bitsPerSample) > 16 ? kExtensibleHeaderBytes : kWaveHeaderBytes;
}

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

std::vector<uint8_t> waveHeader(const SoundFormat& format, uint32_t dataBytes) {
    uint32_t size = waveHeaderBytes(format);
    std::vector<uint8_t> h(size);
    PCMWAVEFORMAT pcm = pcmHeader(format);
    static_assert(sizeof pcm == 16);
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], riffBytes(size, dataBytes, true));
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], size - 28);  // the "fmt " chunk's size: 16 or 40
    std::memcpy(&h[20], &pcm, sizeof pcm);
    if (size == kExtensibleHeaderBytes) {
        put16(&h[20], WAVE_FORMAT_EXTENSIBLE);
        put16(&h[36], 22);  // cbSize: what follows
        put16(&h[38], pcm.wBitsPerSample);
        put32(&h[40], format.channels == 2 ? kFrontLeftRight : 0);
        std::memcpy(&h[44], kSubtypePcm, 16);
    }
    std::memcpy(&h[size - 8], "data", 4);
    put32(&h[size - 4], dataBytes);
    return h;
}

uint32_t wavePartLimit(const SoundFormat& format) noexcept {
    uint32_t limit = 0xFFFFFFFFu - (waveHeaderBytes(format) - 8) - 1 - kPartMargin;
    uint32_t align = blockAlign(format);
    return align > 1 ? limit - limit % align : limit;
}

std::string wavePartName(const std::string& firstPath, uint32_t n) { return partFileName(firstPath, n); }

WaveSoundEncoder::WaveSoundEncoder(const shared_string& fileName_, const SoundFormat* format, uint32_t partLimit_,
                                   uint32_t firstNumber_)
    : fileName(fileName_), fmt(*format), partLimit(partLimit_), firstNumber(firstNumber_ ? firstNumber_ : 1) {
    init();
}

WaveSoundEncoder::~WaveSoundEncoder() {
    if (!file) return;
    fw::catchAndReport(
        kTraceSource, __LINE__, [this] { close(); }, fw::LEVEL_WARN);
}

void WaveSoundEncoder::init() {
    if (partLimit == 0) partLimit = wavePartLimit(fmt);
    uint32_t align = blockAlign(fmt) ? blockAlign(fmt) : 1;
    if (partLimit >= align) partLimit -= partLimit % align;
    headerBytes = waveHeaderBytes(fmt);
    updateEvery = avgBytesPerSec(fmt);
    if (updateEvery == 0) updateEvery = avgBytesPerSec(kRecordingFormat);
    partPath = firstNumber > 1 ? wavePartName(fileName.str(), firstNumber) : fileName.str();
    file.emplace(partPath, OutputFile::Open::replace, kCreateFailed, kTraceSource, kInit);
    FW_TRACE("WAV file %s", partPath.c_str());
    parts = 1;
    lastNumber = firstNumber;
    written = 0;
    sizesWritten = 0;
    auto header = waveHeader(fmt, 0);
    try {
        file->write(header.data(), headerBytes, kWriteFailed);  // a valid empty WAV from the start
    } catch (...) {
        file->discard();
        file.reset();
        throw;
    }
}

void WaveSoundEncoder::encodeChunk(const Chunk& chunk) {
    uint32_t done = 0;
    while (done < chunk.length) {
        if (written >= partLimit) nextPart();
        uint32_t take = std::min(chunk.length - done, partLimit - written);
        writeData(chunk.data + done, take);
        done += take;
    }
}

void WaveSoundEncoder::writeData(const uint8_t* data, uint32_t length) {
    try {
        file->write(data, length, kWriteFailed);
    } catch (const OutputError&) {
        keepWhatReachedTheDisk();
        throw;
    }
    written += length;
    if (written - sizesWritten >= updateEvery) updateSizes();
}

// The next part is made before the current one is completed: a part that
// cannot be made leaves the recording in the current one.
void WaveSoundEncoder::nextPart() {
    uint32_t n = lastNumber + 1;
    std::optional<OutputFile> next;
    for (;; ++n) {
        try {
            next.emplace(wavePartName(fileName.str(), n), OutputFile::Open::createNew, kCreateFailed, kTraceSource,
                         "kit::WaveSoundEncoder::nextPart");
            break;
        } catch (const OutputError& e) {
            if (e.code != ERROR_FILE_EXISTS || n >= lastNumber + 1000) throw;
        }
    }
    auto header = waveHeader(fmt, 0);
    try {
        next->write(header.data(), headerBytes, kWriteFailed);
    } catch (...) {
        next->discard();
        throw;
    }
    finishPart();
    earlierParts += written;
    file = std::move(next);
    partPath = file->path();
    lastNumber = n;
    ++parts;
    written = 0;
    sizesWritten = 0;
    FW_LOG(fw::LEVEL_VERBOSE, "WavePart", "part %u: %s", parts, partPath.c_str());
}

void WaveSoundEncoder::writeSizes(uint32_t dataBytes, uint32_t riffSize) {
    uint8_t riff[4], data[4];
    put32(riff, riffSize);
    put32(data, dataBytes);
    file->writeAt(4, riff, 4, kWriteFailed);
    file->writeAt(headerBytes - 4, data, 4, kWriteFailed);
}

// Makes the file on disk a complete WAV of the data written so far; the data
// went to the file before the sizes that count them.
void WaveSoundEncoder::updateSizes() {
    try {
        writeSizes(written, riffBytes(headerBytes, written, false));
        if (file->sizeOnDisk(kWriteFailed) < headerBytes + static_cast<uint64_t>(written)) {
            setOrigin(kTraceSource, __LINE__, "kit::WaveSoundEncoder::updateSizes");
            throw OutputError(kWriteFailed, OutputFault::diskFull, ERROR_DISK_FULL, shared_string(partPath));
        }
    } catch (const OutputError&) {
        keepWhatReachedTheDisk();
        throw;
    }
    sizesWritten = written;
}

// After a failed write: the data are what the disk holds, in whole frames,
// and the sizes count exactly them (cutting a file and rewriting its first
// bytes need no free space).
void WaveSoundEncoder::keepWhatReachedTheDisk() noexcept {
    try {
        uint64_t onDisk = file->sizeOnDisk(kWriteFailed);
        uint64_t reached = std::min<uint64_t>(file->position(), onDisk);
        uint64_t data = reached > headerBytes ? reached - headerBytes : 0;
        uint32_t align = blockAlign(fmt) ? blockAlign(fmt) : 1;
        data = std::min<uint64_t>(data - data % align, partLimit);
        written = static_cast<uint32_t>(data);
        file->truncate(headerBytes + written, kWriteFailed);
        writeSizes(written, riffBytes(headerBytes, written, false));
        sizesWritten = written;
        FW_LOG(fw::LEVEL_WARN, "WaveKeptOnDisk", "%s keeps %u data bytes", partPath.c_str(), written);
    } catch (const Exception& e) {
        FW_TRACE("keeping what reached the disk failed: %s", e.message().c_str());
    }
}

void WaveSoundEncoder::finishPart() {
    if (written & 1) {
        uint8_t pad = 0;
        file->write(&pad, 1, kWriteFailed);
    }
    writeSizes(written, riffBytes(headerBytes, written, true));
    file->close("CloseHandle() failed");
}

void WaveSoundEncoder::close() {
    if (!file) return;
    try {
        finishPart();
    } catch (const OutputError&) {
        keepWhatReachedTheDisk();
        file.reset();
        throw;
    }
    file.reset();
}

}  // namespace kit
