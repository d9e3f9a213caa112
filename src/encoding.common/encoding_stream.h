// The encoding stream: the capture thread hands it blocks without waiting; its
// own thread, the encoding thread, gives them one by one, in arrival order, to
// an encoder, and reports each block done to the producer's event queue.
//
// A change of rate (newRate) waits in the same queue as the blocks and
// reaches the encoder (ISoundEncoder::changeRate) between the blocks it falls
// between; it has no completion.
//
// The stream may be created before its encoder exists: blocks then wait in
// the queue until setEncoder. finish(false) encodes what is queued, finish(true)
// drops it (each dropped block still gets its completion); both then close the
// encoder and return once the encoding thread has ended.
//
// Threads: the producer calls write; the owner (engine, finalizer) calls
// setCompletionQueue, setEncoder, finish and drops the stream; the encoding
// thread runs the loop (one chunk per pass; with nothing to encode it waits
// up to 15 ms, and a new chunk, an encoder or a finish ends the wait, so a
// backlog is encoded as fast as the encoder goes). The two
// chunk queues (deques) are guarded by one mutex, held for single queue
// operations only, never while encoding or posting.
//
// A normal finish with chunks queued and no encoder waits for setEncoder; it
// is logged once ("FinishingWithoutEncoder") so that a hang shows in the log.
// Callers without an encoder use finish(true).
//
// Failures: an encoder that cannot write its file (OutputError: a full disk,
// a continuation file that cannot be made) stops encoding: the failure is
// logged and handed to the output-failure handler, every later block is
// completed without being encoded, and the encoder is still closed at the
// end, so that what reached the file stays a complete file. Any other
// failure of encodeChunk ends the process (fatal report, exit code 13). Any other failure of the shared hierarchy in the loop (a
// completion that cannot be posted, a failing close) ends the loop: it is
// traced, the encoder is still closed once, and finish returns normally.
// Once the loop has finished, that state is final: a later finish request
// does not change it. The thread object always waits for its thread before it
// goes, also when the state is already finished.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "encoding.common/output_file.h"
#include "encoding.common/sound_encoding.h"
#include "kit/refcounted.h"
#include "kit/scoped.h"
#include "kit/threads.h"

namespace kit {

// Called on the encoding thread, once per stream, when its encoder cannot
// write its file any more.
using OutputFailureHandler = std::function<void(const OutputError& error)>;

class SoundEncodingThread : public Thread {
public:
    // The numbers appear in the log.
    enum State : int32_t { waiting = 0, active = 1, finishing = 2, aborting = 3, finished = 4 };

    explicit SoundEncodingThread(smartptr<ISoundEncoder> encoder = nullptr);
    // Forces an unfinished stream to finish; always waits for the thread to end.
    ~SoundEncodingThread() override;

    void addChunk(const void* data, uint32_t length, void* cookie);
    // The chunks added after it are at `rate`: the encoder is told in order
    // (ISoundEncoder::changeRate); nothing is completed for it.
    void addRateChange(uint32_t rate);
    void setCompletionQueue(smartptr<EventQueue> queue, uint32_t key);
    void setEncoder(smartptr<ISoundEncoder> newEncoder);
    void finish(bool force);
    void setOutputFailureHandler(OutputFailureHandler handler);
    bool outputFailed() const noexcept { return failed.load(); }
    int32_t currentState() const noexcept { return state.load(); }
    uint32_t recordsAllocated() const noexcept { return allocated.load(); }

protected:
    uint32_t run() override;

private:
    void encodingLoop();
    bool encodeOne();  // false when the pass ended the loop's work
    void dropQueued();
    void postCompletion(const Chunk& chunk);
    void clearQueues();
    void logNullChunk();
    void encodeOrSkip(ISoundEncoder& enc, const Chunk& chunk);
    void enqueue(Chunk* chunk, bool& refused);
    void outputFailure(const OutputError& error);

    int32_t completionKey = 0;
    smartptr<EventQueue> eventQueue;
    std::deque<Chunk*> inQueue;
    std::deque<Chunk*> freeQueue;
    std::atomic<int32_t> state{waiting};
    smartptr<ISoundEncoder> encoder;

    std::mutex lock;
    // Encoders replaced by a later setEncoder: kept until the end, since the
    // encoding thread may still be inside one of them.
    std::vector<smartptr<ISoundEncoder>> replaced;
    bool toldNoEncoder = false;           // encoding thread only
    OutputFailureHandler failureHandler;  // under the lock
    std::atomic<bool> failed{false};
    std::atomic<uint32_t> allocated{0};
    ScopedHandle wake;  // set by addChunk, setEncoder and finish
};

class GenericSoundEncodingStream : public ISoundEncodingStream {
public:
    GenericSoundEncodingStream();  // no encoder yet
    explicit GenericSoundEncodingStream(smartptr<ISoundEncoder> encoder);

    void write(const void* data, uint32_t length, void* cookie) override;
    void setCompletionQueue(smartptr<EventQueue> queue, uint32_t key) override;
    void newRate(uint32_t samplesPerSec) override;
    void finish() override { finish(false); }
    virtual void finish(bool force);
    void setEncoder(smartptr<ISoundEncoder> encoder);
    void setOutputFailureHandler(OutputFailureHandler handler) { thread->setOutputFailureHandler(std::move(handler)); }
    // The encoder could not write its file; later blocks were not encoded.
    bool outputFailed() const noexcept { return thread->outputFailed(); }

    int32_t state() const noexcept { return thread->currentState(); }
    DWORD encodingThreadId() const noexcept { return thread->threadId(); }
    // Chunk records allocated so far (they are recycled, not made per block).
    uint32_t chunkRecordsAllocated() const noexcept { return thread->recordsAllocated(); }

private:
    smartptr<SoundEncodingThread> thread;
};

}  // namespace kit
