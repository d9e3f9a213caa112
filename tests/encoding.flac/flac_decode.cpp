#include "flac_decode.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

#include "kit/scoped.h"

namespace flactest {
namespace {

using ScopedDecoder = kit::Scoped<kit::SimpleTraits<FLAC__StreamDecoder*, &FLAC__stream_decoder_delete>>;

struct Reader {
    const std::string* bytes;
    std::size_t at = 0;
    Decoded* out;
    bool collect = true;
    std::vector<int16_t>* firstFrame = nullptr;
};

FLAC__StreamDecoderReadStatus readCb(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data) {
    auto* r = static_cast<Reader*>(data);
    std::size_t n = std::min(*bytes, r->bytes->size() - r->at);
    std::memcpy(buffer, r->bytes->data() + r->at, n);
    r->at += n;
    *bytes = n;
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus seekCb(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
    auto* r = static_cast<Reader*>(data);
    if (offset > r->bytes->size()) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    r->at = static_cast<std::size_t>(offset);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus tellCb(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
    *offset = static_cast<Reader*>(data)->at;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus lengthCb(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
    *length = static_cast<Reader*>(data)->bytes->size();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool eofCb(const FLAC__StreamDecoder*, void* data) {
    auto* r = static_cast<Reader*>(data);
    return r->at >= r->bytes->size();
}

FLAC__StreamDecoderWriteStatus writeCb(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* data) {
    auto* r = static_cast<Reader*>(data);
    std::vector<int16_t>* to = r->firstFrame ? r->firstFrame : (r->collect ? &r->out->samples : nullptr);
    std::vector<int32_t>* wide = !r->firstFrame && r->collect ? &r->out->wide : nullptr;
    for (uint32_t i = 0; i < frame->header.blocksize; ++i)
        for (uint32_t c = 0; c < frame->header.channels; ++c) {
            if (to) to->push_back(static_cast<int16_t>(buffer[c][i]));
            if (wide) wide->push_back(buffer[c][i]);
        }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void metadataCb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
    Decoded* d = static_cast<Reader*>(data)->out;
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
        const auto& s = m->data.stream_info;
        d->channels = s.channels;
        d->bits = s.bits_per_sample;
        d->rate = s.sample_rate;
        d->totalSamples = s.total_samples;
        d->md5Set = std::any_of(s.md5sum, s.md5sum + 16, [](FLAC__byte b) { return b != 0; });
    } else if (m->type == FLAC__METADATA_TYPE_SEEKTABLE) {
        d->hasSeekTable = true;
        const auto& t = m->data.seek_table;
        d->points.assign(t.points, t.points + t.num_points);
    }
}

void errorCb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    ++static_cast<Reader*>(data)->out->errors;
}

ScopedDecoder start(Reader& r) {
    ScopedDecoder d(FLAC__stream_decoder_new());
    if (!d) return d;
    FLAC__stream_decoder_set_md5_checking(d.get(), true);
    FLAC__stream_decoder_set_metadata_respond(d.get(), FLAC__METADATA_TYPE_SEEKTABLE);
    if (FLAC__stream_decoder_init_stream(d.get(), readCb, seekCb, tellCb, lengthCb, eofCb, writeCb, metadataCb, errorCb,
                                         &r) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        d.reset();
    return d;
}

}  // namespace

Decoded decodeFlac(const std::string& bytes) {
    Decoded out;
    Reader r{&bytes, 0, &out};
    ScopedDecoder d = start(r);
    if (!d) return out;
    bool decoded = FLAC__stream_decoder_process_until_end_of_stream(d.get());
    bool finished = FLAC__stream_decoder_finish(d.get());  // false: the MD5 did not match
    out.md5Checked = finished && out.md5Set;
    out.ok = decoded && finished && out.errors == 0;
    return out;
}

bool seekAndRead(const std::string& bytes, uint64_t sample, std::vector<int16_t>& firstFrame) {
    Decoded ignored;
    Reader r{&bytes, 0, &ignored};
    ScopedDecoder d = start(r);
    if (!d || !FLAC__stream_decoder_process_until_end_of_metadata(d.get())) return false;
    r.firstFrame = &firstFrame;
    return FLAC__stream_decoder_seek_absolute(d.get(), sample) && !firstFrame.empty();
}

}  // namespace flactest
