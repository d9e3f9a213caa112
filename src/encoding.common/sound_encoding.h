// The encoding subsystem's shared types: the chunk handed to a stream, the
// encoder interface, and the asynchronous output stream the capture writes to.
#pragma once

#include <cstdint>

#include "kit/refcounted.h"
#include "kit/threads.h"

namespace kit {

// One block of PCM handed to a stream (the capture's samples: 16 bits from
// the recording line, 32 bits from loopback). The bytes belong to the producer
// until the stream has posted the chunk's completion event.
struct Chunk {
    const uint8_t* data;
    uint32_t length;
    void* cookie;
    uint32_t newRate = 0;  // not 0: no block, the rate of the blocks that follow
};

// Turns blocks of signed little-endian PCM (channels interleaved) in the
// format it was made for (16 bits; a 24-bit file's encoder takes 3 bytes a
// sample) into a file or a measurement. Used by one encoding thread only.
class ISoundEncoder : public refcounted {
public:
    virtual void encodeChunk(const Chunk& chunk) = 0;  // failures are thrown
    virtual void init() = 0;                           // file encoders call it from their constructors
    virtual void close() = 0;                          // flushes and closes; failures are thrown
    // Files written so far (a long WAV recording goes on in continuation
    // files); 0 for an encoder that writes none.
    virtual uint32_t fileParts() const noexcept { return 0; }
    // The blocks that follow are at `samplesPerSec` (the device's rate
    // changed). An encoder that writes files completes the current one and
    // goes on in a continuation file at that rate; failures are thrown.
    virtual void changeRate(uint32_t samplesPerSec) { (void)samplesPerSec; }
    // The number in the name of the file written now: 1 for the name as
    // given, n for its continuation "name (n).ext".
    virtual uint32_t lastPartNumber() const noexcept { return 1; }
    // Bytes of sound in the file written now, where the encoder goes on in
    // files of its own (a long WAV); 0 otherwise.
    virtual uint64_t bytesInLastPart() const noexcept { return 0; }
};

// A stream that takes blocks without waiting and reports each one done by
// posting (length, completion key, cookie) to the producer's event queue,
// also for a block it refuses. It never copies nor frees what it is given:
// the data stay valid, and the cookie untouched, until that event is posted.
class IAsyncOutStream : public refcounted {
public:
    virtual void write(const void* data, uint32_t length, void* cookie) = 0;
    // Called once, before the first write.
    virtual void setCompletionQueue(smartptr<EventQueue> queue, uint32_t key) = 0;
    // The blocks written after this call are at `samplesPerSec`; it takes its
    // place among the writes in the order of the calls, and is not completed.
    virtual void newRate(uint32_t samplesPerSec) { (void)samplesPerSec; }
};

class ISoundEncodingStream : public IAsyncOutStream {
public:
    virtual void finish() = 0;  // normal finish: everything queued is encoded
};

}  // namespace kit
