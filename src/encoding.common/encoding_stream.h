// The encoding stream: the capture thread hands it blocks without waiting; its
// own thread, the encoding thread, gives them one by one, in arrival order, to
// an encoder, and reports each block done to the producer's event queue.
//
// The stream may be created before its encoder exists: blocks then wait in
// the queue until setEncoder. finish(false) encodes what is queued, finish(true)
// drops it (each dropped block still gets its completion); both then close the
// encoder and return once the encoding thread has ended.
//
// Threads: the producer calls write; the owner (engine, finalizer) calls
// setCompletionQueue, setEncoder, finish and drops the stream; the encoding
// thread runs the loop. The two chunk queues are guarded by one lock, held for
// single queue operations only, never while encoding or posting.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "encoding.common/sound_encoding.h"
#include "kit/refcounted.h"
#include "kit/threads.h"

namespace kit {

class SoundEncodingThread : public Thread {
public:
    // The numbers appear in the log.
    enum State : int32_t { waiting = 0, active = 1, finishing = 2, aborting = 3, finished = 4 };

    explicit SoundEncodingThread(smartptr<ISoundEncoder> encoder = nullptr);
    // Forces an unfinished stream to finish; always waits for the thread to end.
    ~SoundEncodingThread() override;

    void addChunk(const void* data, uint32_t length, void* cookie);
    void setCompletionQueue(smartptr<EventQueue> queue, uint32_t key);
    void setEncoder(smartptr<ISoundEncoder> newEncoder);
    void finish(bool force);
    int32_t currentState() const noexcept { return state.load(); }
    uint32_t recordsAllocated() const noexcept { return allocated.load(); }

protected:
    uint32_t run() override;

private:
    class Guard;
    void encodingLoop();
    bool encodeOne();  // false when the pass ended the loop's work
    void dropQueued();
    void postCompletion(const Chunk& chunk);
    void clearQueues();
    void logNullChunk();

    int32_t completionKey = 0;
    smartptr<EventQueue> eventQueue;
    std::deque<Chunk*> inQueue;
    std::deque<Chunk*> freeQueue;
    std::atomic<int32_t> state{waiting};
    smartptr<ISoundEncoder> encoder;

    SRWLOCK lock = SRWLOCK_INIT;
    // Encoders replaced by a later setEncoder: kept until the end, since the
    // encoding thread may still be inside one of them.
    std::vector<smartptr<ISoundEncoder>> replaced;
    bool toldNoEncoder = false;  // encoding thread only
    std::atomic<uint32_t> allocated{0};
};

class GenericSoundEncodingStream : public ISoundEncodingStream {
public:
    GenericSoundEncodingStream();  // no encoder yet
    explicit GenericSoundEncodingStream(smartptr<ISoundEncoder> encoder);

    void write(const void* data, uint32_t length, void* cookie) override;
    void setCompletionQueue(smartptr<EventQueue> queue, uint32_t key) override;
    void finish() override { finish(false); }
    virtual void finish(bool force);
    void setEncoder(smartptr<ISoundEncoder> encoder);

    int32_t state() const noexcept { return thread->currentState(); }
    // Chunk records allocated so far (they are recycled, not made per block).
    uint32_t chunkRecordsAllocated() const noexcept { return thread->recordsAllocated(); }

private:
    smartptr<SoundEncodingThread> thread;
};

}  // namespace kit
