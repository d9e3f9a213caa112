#include "encoding.common/encoding_stream.h"

#include <set>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.common/sound_encoding";
constexpr DWORD kPassSleepMs = 15;
}  // namespace

SoundEncodingThread::SoundEncodingThread(smartptr<ISoundEncoder> encoder_)
    : encoder(std::move(encoder_)), wake(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

SoundEncodingThread::~SoundEncodingThread() {
    FW_TRACE("~SoundEncodingThread()");
    fw::catchAndReport(kTraceSource, __LINE__, [this] {
        if (state.load() != finished) {
            finish(true);
        } else if (threadHandle()) {
            // The loop may have declared itself finished and still be closing
            // the encoder: this object must outlive the thread.
            wait();
        }
    });
}

void SoundEncodingThread::addChunk(const void* data, uint32_t length, void* cookie) {
    Chunk* chunk = nullptr;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!freeQueue.empty()) {
            chunk = freeQueue.front();
            freeQueue.pop_front();
        }
    }
    if (!chunk) {
        chunk = new Chunk{};
        allocated.fetch_add(1);
        FW_TRACE("ALLOCATED %d for chunk %p", static_cast<int>(sizeof(Chunk)), static_cast<void*>(chunk));
    }
    chunk->data = static_cast<const uint8_t*>(data);
    chunk->length = length;
    chunk->cookie = cookie;
    chunk->newRate = 0;
    bool refused = false;
    enqueue(chunk, refused);
    if (refused) {
        // Too late for this stream: the producer still gets its block back.
        Chunk done = *chunk;
        delete chunk;
        postCompletion(done);
    }
}

void SoundEncodingThread::addRateChange(uint32_t rate) {
    auto* chunk = new Chunk{nullptr, 0, nullptr, rate};
    bool refused = false;
    enqueue(chunk, refused);
    if (refused) delete chunk;
}

void SoundEncodingThread::enqueue(Chunk* chunk, bool& refused) {
    int32_t refusedIn = -1;
    {
        std::lock_guard<std::mutex> g(lock);
        int32_t s = state.load();
        if (s == waiting || s == active) {
            state.store(active);
            inQueue.push_back(chunk);
        } else {
            refusedIn = s;
        }
    }
    refused = refusedIn >= 0;
    if (refused) {
        FW_TRACE("addChunk: WARN state = %d != waiting or active", refusedIn);
    } else {
        ::SetEvent(wake.get());
    }
}

void SoundEncodingThread::setCompletionQueue(smartptr<EventQueue> queue, uint32_t key) {
    std::lock_guard<std::mutex> g(lock);
    eventQueue = std::move(queue);
    completionKey = static_cast<int32_t>(key);
}

void SoundEncodingThread::setEncoder(smartptr<ISoundEncoder> newEncoder) {
    std::lock_guard<std::mutex> g(lock);
    if (encoder) replaced.push_back(encoder);
    encoder = std::move(newEncoder);
    ::SetEvent(wake.get());
}

void SoundEncodingThread::finish(bool force) {
    FW_TRACE("encodingThread: finish (force = %d)", force ? 1 : 0);
    {
        std::lock_guard<std::mutex> g(lock);
        // The end of the loop is final; any other state gives way to the request.
        if (state.load() != finished) state.store(force ? aborting : finishing);
    }
    ::SetEvent(wake.get());
    if (threadHandle() && ::WaitForSingleObject(threadHandle(), INFINITE) == WAIT_FAILED) {
        setOrigin(kTraceSource, __LINE__, "kit::SoundEncodingThread::finish");
        throw ARuntimeError("WaitForSingleObject() failed");
    }
    FW_TRACE("encodingThread: finish () done, encoding done");
}

uint32_t SoundEncodingThread::run() {
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        bool closing = false;
        auto closeEncoder = [&] {
            closing = true;
            ISoundEncoder* enc = nullptr;
            {
                std::lock_guard<std::mutex> g(lock);
                enc = encoder.get();
            }
            if (!enc) return;
            try {
                enc->close();
            } catch (const OutputError& error) {
                outputFailure(error);
                throw;
            }
        };
        try {
            encodingLoop();
            clearQueues();
            closeEncoder();
        } catch (const Exception& e) {
            // A failing post or close ends the stream; the owner's finish returns
            // normally. The encoder is still closed, so its file is complete.
            FW_TRACE("%s", e.message().c_str());
            state.store(finished);
            clearQueues();
            if (!closing) {
                try {
                    closeEncoder();
                } catch (const Exception& again) {
                    FW_TRACE("%s", again.message().c_str());
                }
            }
        }
        FW_TRACE("Encoding stream finished");
    });
    return 0;
}

void SoundEncodingThread::encodingLoop() {
    for (;;) {
        int32_t s = state.load();
        if (s == finished) return;
        switch (s) {
        case waiting: break;
        case active:
        case finishing:
            if (!encodeOne()) return;
            break;
        case aborting: dropQueued(); return;
        default: FW_TRACE("unknown state = %d", s); break;
        }
        bool more = false;
        {
            std::lock_guard<std::mutex> g(lock);
            more = encoder && !inQueue.empty();
        }
        // Without a handle the passes keep their pace.
        if (!more && ::WaitForSingleObject(wake.get(), kPassSleepMs) == WAIT_FAILED) ::Sleep(kPassSleepMs);
    }
}

bool SoundEncodingThread::encodeOne() {
    Chunk* chunk = nullptr;
    ISoundEncoder* enc = nullptr;
    {
        std::lock_guard<std::mutex> g(lock);
        if (inQueue.empty()) {
            if (state.load() != finishing) return true;
            state.store(finished);
            return false;
        }
        enc = encoder.get();
        if (enc) {
            chunk = inQueue.front();
            inQueue.pop_front();
        }
    }
    if (!enc) {
        // Blocks wait for setEncoder. A normal finish cannot end before one comes.
        if (state.load() == finishing && !toldNoEncoder) {
            toldNoEncoder = true;
            FW_LOG(fw::LEVEL_WARN, "FinishingWithoutEncoder", "%s",
                   "finish requested with blocks queued and no encoder: waiting for one");
        }
        return true;
    }
    if (!chunk) {
        logNullChunk();
        return true;
    }
    encodeOrSkip(*enc, *chunk);
    if (chunk->newRate == 0) postCompletion(*chunk);
    std::lock_guard<std::mutex> g(lock);
    freeQueue.push_back(chunk);
    return true;
}

void SoundEncodingThread::encodeOrSkip(ISoundEncoder& enc, const Chunk& chunk) {
    if (failed.load()) return;  // the file takes nothing more
    fw::catchAndReportFatal(kTraceSource, __LINE__, [&] {
        try {
            if (chunk.newRate)
                enc.changeRate(chunk.newRate);
            else
                enc.encodeChunk(chunk);
        } catch (const OutputError& error) {
            outputFailure(error);
        }
    });
}

void SoundEncodingThread::outputFailure(const OutputError& error) {
    if (failed.exchange(true)) return;
    FW_LOG(fw::LEVEL_WARN, "OutputFailed", "%s (error %u): %s", error.message().c_str(), error.code,
           error.path.c_str());
    OutputFailureHandler handler;
    {
        std::lock_guard<std::mutex> g(lock);
        handler = failureHandler;
    }
    if (handler) handler(error);
}

void SoundEncodingThread::setOutputFailureHandler(OutputFailureHandler handler) {
    std::lock_guard<std::mutex> g(lock);
    failureHandler = std::move(handler);
}

void SoundEncodingThread::dropQueued() {
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::lock_guard<std::mutex> g(lock);
            if (inQueue.empty()) break;
            chunk = inQueue.front();
            inQueue.pop_front();
        }
        if (!chunk) {
            logNullChunk();
            continue;
        }
        Chunk done = *chunk;
        delete chunk;
        if (done.newRate == 0) postCompletion(done);
    }
    state.store(finished);
}

void SoundEncodingThread::postCompletion(const Chunk& chunk) {
    EventQueue* queue = nullptr;
    ULONG_PTR key = 0;
    {
        std::lock_guard<std::mutex> g(lock);
        queue = eventQueue.get();
        key = static_cast<ULONG_PTR>(static_cast<uint32_t>(completionKey));
    }
    if (!queue) {
        setOrigin(origins::kSmartPtrMember, "kit::smartptr<kit::EventQueue>::operator->");
        throw NullPointerException();
    }
    queue->postEvent(chunk.length, key, chunk.cookie);
}

void SoundEncodingThread::logNullChunk() { FW_LOG(fw::LEVEL_ERR, "NullChunkInQueue", "%s", ""); }

void SoundEncodingThread::clearQueues() {
    FW_TRACE("clearQueues ()");
    try {
        std::set<Chunk*> deleted;
        auto take = [this](std::deque<Chunk*>& q, Chunk*& out) {
            std::lock_guard<std::mutex> g(lock);
            if (q.empty()) return false;
            out = q.front();
            q.pop_front();
            return true;
        };
        for (std::deque<Chunk*>* q : {&inQueue, &freeQueue}) {
            Chunk* chunk = nullptr;
            while (take(*q, chunk)) {
                FW_TRACE("DELETING CHUNK %p", static_cast<void*>(chunk));
                if (deleted.count(chunk)) {
                    FW_TRACE("Already deleted");
                    continue;
                }
                delete chunk;
                deleted.insert(chunk);
            }
        }
    } catch (...) {
        FW_TRACE("something strange happened when clearing");
    }
    FW_TRACE("clearQueues () done");
}

// ---- GenericSoundEncodingStream -------------------------------------------------

GenericSoundEncodingStream::GenericSoundEncodingStream() : GenericSoundEncodingStream(nullptr) {}

GenericSoundEncodingStream::GenericSoundEncodingStream(smartptr<ISoundEncoder> encoder)
    : thread(new SoundEncodingThread(std::move(encoder))) {
    thread->start();
}

void GenericSoundEncodingStream::write(const void* data, uint32_t length, void* cookie) {
    thread->addChunk(data, length, cookie);
}

void GenericSoundEncodingStream::setCompletionQueue(smartptr<EventQueue> queue, uint32_t key) {
    thread->setCompletionQueue(std::move(queue), key);
}

void GenericSoundEncodingStream::newRate(uint32_t samplesPerSec) { thread->addRateChange(samplesPerSec); }

void GenericSoundEncodingStream::finish(bool force) { thread->finish(force); }

void GenericSoundEncodingStream::setEncoder(smartptr<ISoundEncoder> encoder) { thread->setEncoder(std::move(encoder)); }

}  // namespace kit
