// The FLAC encoder: hands the recorded PCM to libFLAC (built from Debian's
// flac source and linked in, compression level 5) and writes the frames it
// returns into the output file through the platform's file calls.
//
// File layout: "fLaC", STREAMINFO, libFLAC's VORBIS_COMMENT (its name), a
// PADDING block of kFlacReserveBytes, then the frames. The constructor creates the file (an existing one is replaced)
// and writes the metadata; every frame goes to the file as soon as libFLAC
// has made it (about every 0.1 s of audio), so a recording cut off by a
// crash or a killed process is a FLAC stream of everything but its last
// frame; its STREAMINFO says "length unknown" (0 samples, no MD5), which
// decoders accept.
//
// close() lets libFLAC complete the stream: the last frame, then the
// STREAMINFO rewritten in place with the total samples, the frame sizes and
// the MD5 of the audio. The padding then becomes a SEEKTABLE (a point every
// 10 s, or wider spaced for recordings too long for the room) followed by
// what is left of the padding, so that players show the length and seek.
//
// A write that fails (a full disk) throws OutputError; the file is first
// cut after the last frame that reached the disk whole, and its STREAMINFO
// counts the samples of the frames kept.
#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "encoding.common/output_file.h"
#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"
#include "kit/scoped.h"
#include "kit/shared_string.h"

namespace kit {

using ScopedFlacEncoder = Scoped<SimpleTraits<FLAC__StreamEncoder*, &FLAC__stream_encoder_delete>>;
using ScopedFlacMetadata = Scoped<SimpleTraits<FLAC__StreamMetadata*, &FLAC__metadata_object_delete>>;

constexpr unsigned kFlacLevel = 5;
// Room left after STREAMINFO for the seek table, as a PADDING block (its
// 4-byte header not counted): 16 KiB, 908 points.
constexpr uint32_t kFlacReserveBytes = 16384;
constexpr uint32_t kFlacSeekSpacingSec = 10;

// The points of a seek table, 18 bytes each, and the PADDING block that
// fills the rest of `room` bytes (a block header and body of `room` - 4 in
// the file), as they are written in place of that padding: the seek table
// is the last metadata block when nothing is left for a padding block.
// `points` must fit: 18 x points + 4 <= room, and room - that is 0 or >= 4.
std::vector<uint8_t> flacSeekTableBlocks(const std::vector<FLAC__StreamMetadata_SeekPoint>& points, uint32_t room);

// The points a seek table of at most `capacity` points keeps of `all` (in
// order, evenly spaced): every n-th from the first, n as small as fits.
std::vector<FLAC__StreamMetadata_SeekPoint> flacThinPoints(const std::vector<FLAC__StreamMetadata_SeekPoint>& all,
                                                           std::size_t capacity);

class FlacSoundEncoder : public ISoundEncoder {
public:
    // Creates the file and starts libFLAC's stream; a failure is thrown from
    // here (OutputError, with the platform's reason). `format` is read by the
    // constructor only: 16- or 24-bit PCM (24: 3 bytes a sample, as in a
    // WAV), any channels and rate FLAC takes.
    FlacSoundEncoder(const shared_string& fileName, const SoundFormat* format);
    // Completes the file when close() was not called (failures traced).
    ~FlacSoundEncoder() override;

    void encodeChunk(const Chunk& chunk) override;
    // cppcheck-suppress virtualCallInConstructor ; the constructor means this class's own init()
    void init() override;
    void close() override;
    uint32_t fileParts() const noexcept override { return 1; }

    // Samples per channel handed to libFLAC so far.
    uint64_t samplesEncoded() const noexcept { return samplesIn; }

private:
    static FLAC__StreamEncoderWriteStatus writeCallback(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                        size_t bytes, uint32_t samples, uint32_t frame, void* self);
    static FLAC__StreamEncoderSeekStatus seekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* self);
    static FLAC__StreamEncoderTellStatus tellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self);
    void write(const FLAC__byte* data, uint32_t bytes, uint32_t samples);
    void notePoint(uint64_t frameOffset, uint32_t samples);
    void writeSeekTable();
    void writeTotalSamples(uint64_t samples);
    void failed();
    void keepWhatReachedTheDisk() noexcept;

    std::optional<OutputFile> file;  // declared before the encoder, which goes first
    ScopedFlacMetadata padding;
    ScopedFlacEncoder encoder;
    shared_string fileName;
    SoundFormat fmt{};
    std::vector<FLAC__int32> widened;   // one chunk, widened for libFLAC
    std::exception_ptr writeError;      // what a callback caught, thrown again after libFLAC returns
    std::optional<uint64_t> rewriteAt;  // where libFLAC rewrites its metadata (after a seek)
    uint64_t samplesIn = 0;
    uint64_t paddingAt = 0;   // file offset of the padding block that becomes the seek table
    uint64_t audioStart = 0;  // file offset of the first frame (0 until then)
    uint64_t framesEnd = 0;   // file offset after the last frame written whole
    uint64_t samplesOut = 0;  // samples per channel in the frames written whole
    uint64_t nextPoint = 0;   // the sample the next seek point is for
    std::vector<FLAC__StreamMetadata_SeekPoint> points;
    bool broken = false;  // a write failed: no more encoding, close() only closes
};

}  // namespace kit
