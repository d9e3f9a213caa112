#include "encoding.flac/flac_encoding.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.flac/flac_encoding";
constexpr const char* kInit = "kit::FlacSoundEncoder::init";
constexpr const char* kCreateFailed = "CreateFile() failed";
constexpr const char* kWriteFailed = "WriteFile() failed";
constexpr uint32_t kSeekPointBytes = 18;
constexpr uint32_t kBlockHeaderBytes = 4;
// "fLaC", then STREAMINFO's header; its 36-bit total sample count shares
// the byte at 8 + 13 with the low bit of bits-per-sample - 1.
constexpr uint64_t kTotalSamplesAt = 4 + kBlockHeaderBytes + 13;

void putBig(std::vector<uint8_t>& to, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) to.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// libFLAC writes each metadata block with a call of its own; ours is the last.
bool isOurPadding(const uint8_t* data, uint32_t bytes) {
    return bytes == kBlockHeaderBytes + kFlacReserveBytes && data[0] == (FLAC__METADATA_TYPE_PADDING | 0x80) &&
           ((data[1] << 16) | (data[2] << 8) | data[3]) == static_cast<int>(kFlacReserveBytes);
}

[[noreturn]] void libraryFailed(int line, const char* function, const char* what, const shared_string& path) {
    setOrigin(kTraceSource, line, function);
    throw OutputError(shared_string(what), OutputFault::other, ERROR_SUCCESS, path);
}
}  // namespace

std::vector<uint8_t> flacSeekTableBlocks(const std::vector<FLAC__StreamMetadata_SeekPoint>& points, uint32_t room) {
    std::vector<uint8_t> out;
    uint32_t table = kBlockHeaderBytes + kSeekPointBytes * static_cast<uint32_t>(points.size());
    uint32_t rest = room - table;  // 0 or a whole padding block
    out.push_back(static_cast<uint8_t>(FLAC__METADATA_TYPE_SEEKTABLE | (rest == 0 ? 0x80 : 0)));
    putBig(out, table - kBlockHeaderBytes, 3);
    for (const auto& p : points) {
        putBig(out, p.sample_number, 8);
        putBig(out, p.stream_offset, 8);
        putBig(out, p.frame_samples, 2);
    }
    if (rest == 0) return out;
    out.push_back(static_cast<uint8_t>(FLAC__METADATA_TYPE_PADDING | 0x80));
    putBig(out, rest - kBlockHeaderBytes, 3);
    out.resize(room, 0);
    return out;
}

std::vector<FLAC__StreamMetadata_SeekPoint> flacThinPoints(const std::vector<FLAC__StreamMetadata_SeekPoint>& all,
                                                           std::size_t capacity) {
    if (capacity == 0) return {};
    std::size_t every = (all.size() + capacity - 1) / capacity;
    if (every <= 1) return all;
    std::vector<FLAC__StreamMetadata_SeekPoint> kept;
    for (std::size_t i = 0; i < all.size(); i += every) kept.push_back(all[i]);
    return kept;
}

FlacSoundEncoder::FlacSoundEncoder(const shared_string& fileName_, const SoundFormat* format)
    : fileName(fileName_), fmt(*format) {
    init();
}

FlacSoundEncoder::~FlacSoundEncoder() {
    if (!file) return;
    fw::catchAndReport(
        kTraceSource, __LINE__, [this] { close(); }, fw::LEVEL_WARN);
}

void FlacSoundEncoder::init() {
    file.emplace(fileName.str(), OutputFile::Open::replace, kCreateFailed, kTraceSource, kInit);
    FW_TRACE("FLAC file %s", fileName.c_str());
    try {
        encoder.reset(FLAC__stream_encoder_new());
        padding.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
        if (!encoder || !padding) libraryFailed(__LINE__, kInit, "FLAC__stream_encoder_new() failed", fileName);
        padding.get()->length = kFlacReserveBytes;
        FLAC__StreamMetadata* metadata[] = {padding.get()};
        FLAC__StreamEncoder* e = encoder.get();
        bool set = FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(fmt.channels)) &&
                   FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(fmt.bitsPerSample)) &&
                   FLAC__stream_encoder_set_sample_rate(e, static_cast<uint32_t>(fmt.samplesPerSec)) &&
                   FLAC__stream_encoder_set_compression_level(e, kFlacLevel) &&
                   FLAC__stream_encoder_set_metadata(e, metadata, 1);
        if (!set || (fmt.bitsPerSample != 16 && fmt.bitsPerSample != 24))
            libraryFailed(__LINE__, kInit, "FLAC encoder settings refused", fileName);
        FLAC__StreamEncoderInitStatus status =
            FLAC__stream_encoder_init_stream(e, &writeCallback, &seekCallback, &tellCallback, nullptr, this);
        if (writeError) std::rethrow_exception(writeError);
        if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
            FW_TRACE("FLAC__stream_encoder_init_stream: %s", FLAC__StreamEncoderInitStatusString[status]);
            libraryFailed(__LINE__, kInit, "FLAC__stream_encoder_init_stream() failed", fileName);
        }
    } catch (...) {
        encoder.reset();
        file->discard();
        file.reset();
        throw;
    }
}

void FlacSoundEncoder::encodeChunk(const Chunk& chunk) {
    if (broken) return;
    uint32_t channels = static_cast<uint32_t>(fmt.channels);
    uint32_t sampleBytes = fmt.bitsPerSample == 24 ? 3 : 2;
    uint32_t frames = chunk.length / (sampleBytes * channels);
    if (frames == 0) return;
    widened.resize(static_cast<std::size_t>(frames) * channels);
    const uint8_t* p = chunk.data;
    if (sampleBytes == 3) {
        for (std::size_t i = 0; i < widened.size(); ++i, p += 3)  // the top byte's sign carried down
            widened[i] = static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24) >> 8;
    } else {
        for (std::size_t i = 0; i < widened.size(); ++i, p += 2) {
            int16_t s;
            std::memcpy(&s, p, 2);
            widened[i] = s;
        }
    }
    if (!FLAC__stream_encoder_process_interleaved(encoder.get(), widened.data(), frames)) failed();
    samplesIn += frames;
}

// libFLAC said no: a write that failed (its OutputError, after the file was
// made what reached the disk), or the library itself.
void FlacSoundEncoder::failed() {
    broken = true;
    if (writeError) {
        keepWhatReachedTheDisk();
        std::rethrow_exception(writeError);
    }
    FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder.get());
    FW_TRACE("FLAC encoder state: %s", FLAC__StreamEncoderStateString[state]);
    keepWhatReachedTheDisk();
    libraryFailed(__LINE__, "kit::FlacSoundEncoder::encodeChunk", "FLAC encoding failed", fileName);
}

FLAC__StreamEncoderWriteStatus FlacSoundEncoder::writeCallback(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                               size_t bytes, uint32_t samples, uint32_t, void* self) {
    auto* me = static_cast<FlacSoundEncoder*>(self);
    try {
        me->write(buffer, static_cast<uint32_t>(bytes), samples);
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (...) {
        me->writeError = std::current_exception();
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
}

FLAC__StreamEncoderSeekStatus FlacSoundEncoder::seekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                                             void* self) {
    static_cast<FlacSoundEncoder*>(self)->rewriteAt = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus FlacSoundEncoder::tellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                                             void* self) {
    auto* me = static_cast<FlacSoundEncoder*>(self);
    *offset = me->rewriteAt ? *me->rewriteAt : me->file->position();
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// Frames are appended; after a seek (libFLAC completing its metadata) the
// bytes go where it sought to, and the file's position stays after the frames.
void FlacSoundEncoder::write(const FLAC__byte* data, uint32_t bytes, uint32_t frameSamples) {
    if (rewriteAt) {
        file->writeAt(*rewriteAt, data, bytes, kWriteFailed);
        *rewriteAt += bytes;
        return;
    }
    uint64_t at = file->position();
    if (frameSamples != 0 && audioStart == 0) audioStart = at;
    if (frameSamples == 0 && audioStart == 0 && isOurPadding(data, bytes)) paddingAt = at;
    file->write(data, bytes, kWriteFailed);
    if (frameSamples == 0) return;
    notePoint(at, frameSamples);
    framesEnd = file->position();
    samplesOut += frameSamples;
}

// A seek point for the frame that holds the next multiple of the spacing.
void FlacSoundEncoder::notePoint(uint64_t frameOffset, uint32_t frameSamples) {
    if (nextPoint >= samplesOut + frameSamples) return;
    points.push_back({samplesOut, frameOffset - audioStart, frameSamples});
    uint64_t spacing = static_cast<uint64_t>(fmt.samplesPerSec) * kFlacSeekSpacingSec;
    while (nextPoint < samplesOut + frameSamples) nextPoint += spacing;
}

void FlacSoundEncoder::writeSeekTable() {
    std::size_t capacity = (kFlacReserveBytes - kBlockHeaderBytes) / kSeekPointBytes;
    auto kept = flacThinPoints(points, capacity);
    // The room holds the table alone, or the table and a padding block of 4 bytes or more.
    uint32_t table = kBlockHeaderBytes + kSeekPointBytes * static_cast<uint32_t>(kept.size());
    uint32_t room = kBlockHeaderBytes + kFlacReserveBytes;
    while (room - table != 0 && room - table < kBlockHeaderBytes) {
        kept.pop_back();
        table -= kSeekPointBytes;
    }
    if (kept.empty() || paddingAt == 0) return;  // the padding stays
    auto blocks = flacSeekTableBlocks(kept, room);
    file->writeAt(paddingAt, blocks.data(), static_cast<uint32_t>(blocks.size()), kWriteFailed);
}

void FlacSoundEncoder::writeTotalSamples(uint64_t total) {
    uint8_t b[5] = {static_cast<uint8_t>(((fmt.bitsPerSample - 1) << 4) | ((total >> 32) & 0x0F)),
                    static_cast<uint8_t>(total >> 24), static_cast<uint8_t>(total >> 16),
                    static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total)};
    file->writeAt(kTotalSamplesAt, b, sizeof b, kWriteFailed);
}

// After a failed write: the file ends after the last whole frame, and the
// STREAMINFO counts its samples (cutting a file and rewriting its first bytes
// need no free space).
void FlacSoundEncoder::keepWhatReachedTheDisk() noexcept {
    try {
        rewriteAt.reset();
        if (framesEnd != 0) {
            file->truncate(std::min(framesEnd, file->sizeOnDisk(kWriteFailed)), kWriteFailed);
            writeTotalSamples(samplesOut);
        }
        FW_LOG(fw::LEVEL_WARN, "FlacKeptOnDisk", "%s keeps %llu samples", fileName.c_str(),
               static_cast<unsigned long long>(samplesOut));
    } catch (const Exception& e) {
        FW_TRACE("keeping what reached the disk failed: %s", e.message().c_str());
    }
}

void FlacSoundEncoder::close() {
    if (!file) return;
    if (!broken) {
        broken = true;
        bool done = FLAC__stream_encoder_finish(encoder.get());
        rewriteAt.reset();
        if (!done && writeError) {
            keepWhatReachedTheDisk();
            file.reset();
            std::rethrow_exception(writeError);
        }
        if (!done) FW_LOG(fw::LEVEL_WARN, "FlacFinishFailed", "%s", fileName.c_str());
        try {
            if (done) writeSeekTable();
        } catch (const OutputError&) {
            file.reset();
            throw;
        }
    }
    OutputFile closing = std::move(*file);
    file.reset();
    closing.close("CloseHandle() failed");
}

}  // namespace kit
