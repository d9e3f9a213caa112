#include "sound.capture/sound_recorder.h"

#include <cmath>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/sound_capture";

constexpr const char* kTooSlowMessage =
    "Sonotape doesn\x92t have enough memory to continue recording. It is possible that your trying to save the file "
    "on a low-speed disk. Try to select a lower quality or save the file on another drive.";

std::atomic<int> liveBlockCount{0};

// The cookie of one write: laid out like the platform's OVERLAPPED record (its
// Offset holds the bytes written before this block), followed by the block.
struct WriteCookie {
    OVERLAPPED overlapped;
    WAVEHDR* block;
};

[[noreturn]] void throwMM(int line, const char* function, const char* text, MMRESULT code) {
    setOrigin(kTraceSource, line, function);
    throw MMError(text, code);
}

void deleteBlockMemory(WAVEHDR* block) {
    delete[] block->lpData;
    delete block;
    liveBlockCount.fetch_sub(1);
}

}  // namespace

std::atomic<RecCrashFunc> recCrashFunc{nullptr};

WAVEFORMATEX captureFormat(const SoundFormat& f) noexcept {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = static_cast<WORD>(f.channels);
    w.wBitsPerSample = static_cast<WORD>(f.bitsPerSample);
    w.nBlockAlign = static_cast<WORD>(w.nChannels * w.wBitsPerSample / 8);
    w.nSamplesPerSec = static_cast<DWORD>(f.samplesPerSec);
    w.nAvgBytesPerSec = w.nBlockAlign * w.nSamplesPerSec;
    w.cbSize = 0;
    return w;
}

int16_t scaleSample(int16_t sample, double coefficient) noexcept {
    double product = sample * coefficient;
    // Beyond the 64-bit range (or NaN) nothing meaningful is left to keep.
    if (!(product > -9.0e18 && product < 9.0e18)) return 0;
    auto truncated = static_cast<int64_t>(product);  // toward zero
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(truncated) & 0xFFFFu));
}

void scaleSamples(int16_t* samples, std::size_t count, double coefficient) noexcept {
    if (coefficient == 1.0) return;  // x * 1.0 is x: nothing to do
    for (std::size_t i = 0; i < count; ++i) samples[i] = scaleSample(samples[i], coefficient);
}

// ---- CaptureQueue ------------------------------------------------------------------

// The recorder's event queue. It may outlive the recorder (the stream holds it
// for its completions); whatever events it still holds then carry memory of
// the recorder that it frees: the block of a write the stream had not yet
// completed when the recorder was destroyed, and that write's cookie.
class CaptureQueue : public EventQueue {
public:
    ~CaptureQueue() override {
        uint32_t count = 0;
        ULONG_PTR key = 0;
        void* pointer = nullptr;
        while (getEventFor(0, count, key, pointer)) {
            if (key == SoundRecorder::keyWriteDone && pointer) {
                auto* cookie = static_cast<WriteCookie*>(pointer);
                if (cookie->block && cookie->block == orphan) {
                    deleteBlockMemory(orphan);
                    orphan = nullptr;
                }
                delete cookie;
            } else if (key == SoundRecorder::keyData && pointer) {
                deleteBlockMemory(static_cast<WAVEHDR*>(pointer));  // the device is closed by now
            }
        }
        if (orphan) {
            FW_LOG(fw::LEVEL_WARN, "CaptureBlockLost", "block %p never came back from the stream: %lu bytes not freed",
                   static_cast<void*>(orphan), static_cast<unsigned long>(orphan->dwBufferLength));
        }
    }

    // The block of an outstanding write, left to this queue by a destroyed recorder.
    WAVEHDR* orphan = nullptr;
};

// ---- SoundRecorder -----------------------------------------------------------------

SoundRecorder::SoundRecorder(smartptr<IAsyncOutStream> stream, const SoundFormat& soundFormat, double volumeCoeff,
                             unsigned bufferMs, WaveInDevice& device, TickSource ticks)
    : stream(std::move(stream)), bufferMs(bufferMs), volumeCoeff(volumeCoeff), api(device), ticks(ticks) {
    FW_TRACE("SoundRecorder::SoundRecorder (%d ch, %d bits, %d Hz, coeff %g, %u ms)", soundFormat.channels,
             soundFormat.bitsPerSample, soundFormat.samplesPerSec, volumeCoeff, bufferMs);
    format = captureFormat(soundFormat);
    MMRESULT r = api.open(&this->device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&SoundRecorder::waveInProc),
                          reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) throwMM(__LINE__, "kit::SoundRecorder::SoundRecorder", "waveInOpen() failed", r);
    try {
        queue = smartptr<CaptureQueue>(new CaptureQueue);
        this->stream->setCompletionQueue(smartptr<EventQueue>(queue), static_cast<uint32_t>(keyWriteDone));
        bufferBytes = static_cast<uint32_t>(static_cast<uint64_t>(format.nAvgBytesPerSec) * bufferMs / 1000);
        thread = smartptr<SoundThread>(new SoundThread(this, volumeCoeff));
        thread->start();
    } catch (...) {
        api.close(this->device);
        this->device = nullptr;
        throw;
    }
}

SoundRecorder::~SoundRecorder() {
    // Destroyed without finish: end the capture thread before freeing what it owns.
    fw::catchAndReport(kTraceSource, __LINE__, [this] {
        if (thread && thread->isRunning()) finish(true);
    });
    fw::takeExceptionReported();
    drainQueue();
    int count = 0;
    for (std::deque<WAVEHDR*>* list : {&spare, &pending}) {
        for (WAVEHDR* block : *list) {
            freeBlock(block, true);
            ++count;
        }
        list->clear();
    }
    FW_TRACE("~SoundRecorder(), count = %d", count);
    if (pBufferBeingWritten) {
        // The stream may still read this block: unprepare it while the device is
        // open and leave its memory to the queue, which frees it on completion.
        MMRESULT r = api.unprepareHeader(device, pBufferBeingWritten, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR)
            FW_LOG(fw::LEVEL_WARN, "WaveInUnprepareFailed", "waveInUnprepareHeader (%p,%p,%d) failed = %d",
                   static_cast<void*>(device), static_cast<void*>(pBufferBeingWritten),
                   static_cast<int>(sizeof(WAVEHDR)), static_cast<int>(r));
        if (queue) queue->orphan = pBufferBeingWritten;
        pBufferBeingWritten = nullptr;
    }
    if (device) {
        MMRESULT r = api.close(device);
        if (r != MMSYSERR_NOERROR)
            FW_LOG(fw::LEVEL_WARN, "WaveInCloseFailed", "waveInClose (%p) failed = %d",
                   static_cast<void*>(device), static_cast<int>(r));
        device = nullptr;
    }
}

// Events that arrived after the capture thread ended: blocks the device gave
// back late, and the completion of the last write.
void SoundRecorder::drainQueue() {
    if (!queue) return;
    uint32_t count = 0;
    ULONG_PTR key = 0;
    void* pointer = nullptr;
    while (queue->getEventFor(0, count, key, pointer)) {
        if (key == keyData && pointer) {
            freeBlock(static_cast<WAVEHDR*>(pointer), true);
        } else if (key == keyWriteDone && pointer) {
            auto* cookie = static_cast<WriteCookie*>(pointer);
            if (cookie->block && cookie->block == pBufferBeingWritten) {
                freeBlock(pBufferBeingWritten, true);
                pBufferBeingWritten = nullptr;
                writeInProgress = 0;
            }
            delete cookie;
        }
    }
}

void CALLBACK SoundRecorder::waveInProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto* self = reinterpret_cast<SoundRecorder*>(instance);
    fw::catchAndReportFatal(kTraceSource, __LINE__,
                            [&] { self->queue.get()->postEvent(keyData, reinterpret_cast<void*>(param1)); });
}

void SoundRecorder::start() {
    FW_TRACE("SoundRecorder::start");
    queue->postEvent(keyStart, nullptr);
}

void SoundRecorder::pause() {
    FW_TRACE("SoundRecorder::pause");
    queue->postEvent(keyPause, nullptr);
}

void SoundRecorder::finish(bool abort) {
    FW_TRACE("SoundRecorder::finish (%d)", abort ? 1 : 0);
    // The flag goes first, so the capture thread handles the finish already in abort mode.
    if (abort) thread->requestAbort();
    queue->postEvent(keyFinish, nullptr);
    thread->wait();
    FW_TRACE("SoundRecorder::finish done: %u written, %u dropped", blocksWritten(), blocksDropped());
}

int SoundRecorder::liveBlocks() noexcept { return liveBlockCount.load(); }

WAVEHDR* SoundRecorder::newBlock() {
    auto* block = new WAVEHDR{};
    block->dwBufferLength = bufferBytes;
    block->lpData = new char[bufferBytes];
    liveBlockCount.fetch_add(1);
    return block;
}

void SoundRecorder::freeBlock(WAVEHDR* block, bool deviceOpen) {
    if (deviceOpen && device) {
        MMRESULT r = api.unprepareHeader(device, block, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR)
            FW_LOG(fw::LEVEL_WARN, "WaveInUnprepareFailed", "waveInUnprepareHeader (%p,%p,%d) failed = %d",
                   static_cast<void*>(device), static_cast<void*>(block),
                   static_cast<int>(sizeof(WAVEHDR)), static_cast<int>(r));
    }
    deleteBlockMemory(block);
}

// ---- SoundThread -------------------------------------------------------------------

SoundThread::SoundThread(SoundRecorder* recorder, double volumeCoeff) : recorder(recorder), volumeCoeff(volumeCoeff) {}

uint32_t SoundThread::run() {
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        stop = false;
        while (!stop) {
            uint32_t count = 0;
            ULONG_PTR key = 0;
            void* pointer = nullptr;
            recorder->queue->getEvent(count, key, pointer);
            fw::catchAndReportFatal(kTraceSource, __LINE__, [&] { dispatch(key, count, pointer); });
        }
    });
    return 0;
}

void SoundThread::dispatch(ULONG_PTR key, uint32_t count, void* pointer) {
    switch (key) {
    case SoundRecorder::keyData: handleData(static_cast<WAVEHDR*>(pointer)); break;
    case SoundRecorder::keyStart: handleStart(); break;
    case SoundRecorder::keyPause: handlePause(); break;
    case SoundRecorder::keyFinish: handleFinish(); break;
    case SoundRecorder::keyWriteDone: handleWriteDone(count, pointer); break;
    default: break;
    }
}

void SoundThread::addBuffer() {
    SoundRecorder& r = *recorder;
    WAVEHDR* block = nullptr;
    if (r.spare.empty()) {
        block = r.newBlock();
        MMRESULT res = r.api.prepareHeader(r.device, block, sizeof(WAVEHDR));
        if (res != MMSYSERR_NOERROR) {
            r.freeBlock(block, false);
            throwMM(__LINE__, "kit::SoundThread::addBuffer", "waveInPrepareHeader() failed", res);
        }
    } else {
        block = r.spare.front();
        r.spare.pop_front();
        while (r.spare.size() > 1) {
            WAVEHDR* extra = r.spare.front();
            r.spare.pop_front();
            r.freeBlock(extra, true);
        }
    }
    MMRESULT res = r.api.addBuffer(r.device, block, sizeof(WAVEHDR));
    if (res != MMSYSERR_NOERROR) {
        r.spare.push_back(block);
        throwMM(__LINE__, "kit::SoundThread::addBuffer", "waveInAddBuffer() failed", res);
    }
    ++r.buffersInDevice;
}

void SoundThread::handleStart() {
    if (recorder->finishing) return;  // a start after finish would keep the thread alive
    addBuffer();
    addBuffer();
    MMRESULT res = recorder->api.start(recorder->device);
    if (res != MMSYSERR_NOERROR) throwMM(__LINE__, "kit::SoundThread::handleStart", "waveInStart() failed", res);
}

void SoundThread::handlePause() {
    MMRESULT res = recorder->api.stop(recorder->device);
    if (res != MMSYSERR_NOERROR) throwMM(__LINE__, "kit::SoundThread::handlePause", "waveInStop() failed", res);
}

void SoundThread::handleFinish() {
    recorder->finishing = true;
    MMRESULT res = recorder->api.reset(recorder->device);
    if (res != MMSYSERR_NOERROR) throwMM(__LINE__, "kit::SoundThread::handleFinish", "waveInReset() failed", res);
    checkStop();
}

void SoundThread::handleData(WAVEHDR* block) {
    SoundRecorder& r = *recorder;
    --r.buffersInDevice;
    scaleSamples(reinterpret_cast<int16_t*>(block->lpData), block->dwBytesRecorded / 2, volumeCoeff);
    if (block->dwBytesRecorded) r.counters.recorded.fetch_add(1);

    if (abortRequested.load()) {
        toSpare(block);  // in abort mode nothing more is written
    } else if (r.writeInProgress) {
        if (r.pending.size() < SoundRecorder::kPendingLimit) {
            r.pending.push_back(block);
            uint32_t n = static_cast<uint32_t>(r.pending.size());
            if (n > r.counters.pendingPeak.load()) r.counters.pendingPeak.store(n);
        } else {
            toSpare(block);
            uint32_t dropped = r.counters.dropped.fetch_add(1) + 1;
            FW_LOG(fw::LEVEL_WARN, "CaptureBlockDropped", "pending list full (%u blocks): block of %lu bytes dropped, %u so far",
                   static_cast<unsigned>(r.pending.size()), static_cast<unsigned long>(block->dwBytesRecorded), dropped);
        }
    } else if (block->dwBytesRecorded) {
        writeBlock(block);
    } else {
        toSpare(block);  // nothing recorded: nothing to write
    }

    if (!r.finishing) addBuffer();
    checkStop();
}

void SoundThread::writeBlock(WAVEHDR* block) {
    SoundRecorder& r = *recorder;
    if (block->dwBytesRecorded == 0) fw::assertionFailed(kTraceSource, __LINE__, "0 != buf->dwBytesRecorded");
    auto* cookie = new WriteCookie{};
    cookie->overlapped.Offset = static_cast<DWORD>(r.bytesWritten);
    cookie->block = block;
    r.writeInProgress = 1;
    r.pBufferBeingWritten = block;
    r.counters.written.fetch_add(1);
    // The completion may be posted before write returns; it is handled only
    // after this event, on this thread.
    r.stream->write(block->lpData, block->dwBytesRecorded, cookie);
}

void SoundThread::watchSpeed() {
    SoundRecorder& r = *recorder;
    if (lastWriteTick == 0) {
        lastWriteTick = r.ticks();
        return;
    }
    uint32_t now = r.ticks();
    if (now - lastWriteTick > SoundRecorder::kSlowMs) {
        slow = true;
        ++slowCount;
        if (slowCount > SoundRecorder::kSlowLimit) {
            FW_LOG(fw::LEVEL_WARN, "TooSlowDevice", "%s", "TOO SLOW DEVICE -- crashing");
            if (RecCrashFunc crash = recCrashFunc.load()) {
                crash(kTooSlowMessage);
            } else {
                FW_LOG(fw::LEVEL_WARN, "NoCrashFunc", "%s", "recCrashFunc = 0!!!");
            }
        }
    } else {
        slowCount = 0;
        slow = false;
    }
    lastWriteTick = now;
}

void SoundThread::handleWriteDone(uint32_t count, void* cookie) {
    SoundRecorder& r = *recorder;
    if (!r.pBufferBeingWritten) return;
    watchSpeed();
    toSpare(r.pBufferBeingWritten);
    r.pBufferBeingWritten = nullptr;
    delete static_cast<WriteCookie*>(cookie);
    r.writeInProgress = 0;
    r.bytesWritten += static_cast<int32_t>(count);
    r.counters.bytes.fetch_add(count);

    while (!r.pending.empty() && !abortRequested.load()) {
        WAVEHDR* block = r.pending.front();
        r.pending.pop_front();
        if (block->dwBytesRecorded) {
            writeBlock(block);
            break;
        }
        toSpare(block);
    }
    checkStop();
}

void SoundThread::toSpare(WAVEHDR* block) { recorder->spare.push_back(block); }

void SoundThread::checkStop() {
    const SoundRecorder& r = *recorder;
    if (r.finishing && r.buffersInDevice <= 0 && (!r.writeInProgress || abortRequested.load())) stop = true;
}

}  // namespace kit
