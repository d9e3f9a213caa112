#include "sound.capture/sound_recorder.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/sound_capture";

constexpr const char* kTooSlowMessage =
    "Sonotape can\x92t write the recording as fast as the sound comes in, so the recording was stopped. The disk "
    "may be too slow: select a lower quality or save the file on another drive.";

// The cookie of one write: laid out like the platform's OVERLAPPED record (its
// Offset holds the bytes written before this block), followed by the block,
// which it owns until the completion is taken.
struct WriteCookie {
    OVERLAPPED overlapped{};
    BlockPtr block;
};

[[noreturn]] void throwMM(int line, const char* function, const char* text, MMRESULT code) {
    setOrigin(kTraceSource, line, function);
    throw MMError(text, code);
}

}  // namespace

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

namespace {

// The product held to the 16-bit range, then truncated toward zero: the same
// as truncating first, as every value between the limits truncates inside
// them. Written without branches, so the loop below vectorizes.
inline int16_t clampTruncate(double product) noexcept {
    product = product < -32768.0 ? -32768.0 : product;
    product = product > 32767.0 ? 32767.0 : product;
    return static_cast<int16_t>(static_cast<int32_t>(product));
}

inline int32_t clampTruncate32(double product) noexcept {
    product = product < -2147483648.0 ? -2147483648.0 : product;
    product = product > 2147483647.0 ? 2147483647.0 : product;
    return static_cast<int32_t>(product);
}

}  // namespace

int16_t scaleSample(int16_t sample, double coefficient) noexcept {
    double product = sample * coefficient;
    if (product != product) return 0;  // not a number: nothing meaningful to keep
    return clampTruncate(product);
}

void scaleSamples(int16_t* samples, std::size_t count, double coefficient) noexcept {
    if (coefficient == 1.0) return;  // x * 1.0 is x: nothing to do
    if (!std::isfinite(coefficient)) {
        for (std::size_t i = 0; i < count; ++i) samples[i] = scaleSample(samples[i], coefficient);
        return;
    }
    // A finite coefficient times a 16-bit sample is a finite product.
    for (std::size_t i = 0; i < count; ++i) samples[i] = clampTruncate(samples[i] * coefficient);
}

void scaleSamples32(int32_t* samples, std::size_t count, double coefficient) noexcept {
    if (coefficient == 1.0) return;
    for (std::size_t i = 0; i < count; ++i) {
        double product = samples[i] * coefficient;
        samples[i] = product != product ? 0 : clampTruncate32(product);
    }
}

std::size_t backlogBlocks(unsigned backlogMs, unsigned blockMs) noexcept {
    if (blockMs == 0) return 1;
    std::size_t blocks = (static_cast<std::size_t>(backlogMs) + blockMs - 1) / blockMs;
    return std::max<std::size_t>(blocks, 1);
}

unsigned blockMsAt(uint32_t blockBytes, uint32_t frameBytes, uint32_t rate) noexcept {
    uint64_t perSecond = static_cast<uint64_t>(frameBytes) * rate;
    if (perSecond == 0) return 1;
    uint64_t ms = (static_cast<uint64_t>(blockBytes) * 1000 + perSecond / 2) / perSecond;
    return static_cast<unsigned>(std::max<uint64_t>(ms, 1));
}

bool isMissingDevice(MMRESULT openResult) noexcept {
    return openResult == MMSYSERR_BADDEVICEID || openResult == MMSYSERR_NODRIVER || openResult == MMSYSERR_NODRIVERCB;
}

// The callback's way to its recorder. The destructor cuts it before the
// device is closed; a device that cannot be closed may still call, so its
// link is then left behind instead of freed.
struct CallbackLink {
    std::mutex m;
    SoundRecorder* owner = nullptr;
};

// ---- CaptureQueue ------------------------------------------------------------------

// The recorder's event queue. It may outlive the recorder (the stream holds it
// for its completions): the cookie of a write the stream completes after the
// recorder was destroyed goes, with its block, when the queue goes. Headers
// of returned blocks are never owned by an event (the recorder's device list
// owns their blocks).
class CaptureQueue : public EventQueue {
public:
    ~CaptureQueue() override {
        drain([](const WAVEHDR*) {}, [](std::unique_ptr<WriteCookie>) {});
    }

    // Takes every event the queue holds: the header of a block the device gave
    // back goes to `onBlock`, the cookie of a completed write to `onWriteDone`.
    template <class OnBlock, class OnWriteDone>
    void drain(OnBlock onBlock, OnWriteDone onWriteDone) {
        uint32_t count = 0;
        ULONG_PTR key = 0;
        void* pointer = nullptr;
        while (getEventFor(0, count, key, pointer)) {
            if (!pointer) continue;
            if (key == SoundRecorder::keyData) {
                onBlock(static_cast<const WAVEHDR*>(pointer));
            } else if (key == SoundRecorder::keyWriteDone) {
                onWriteDone(std::unique_ptr<WriteCookie>(static_cast<WriteCookie*>(pointer)));
            }
        }
    }
};

// ---- SoundRecorder -----------------------------------------------------------------

SoundRecorder::SoundRecorder(smartptr<IAsyncOutStream> stream_, const SoundFormat& soundFormat, double volumeCoeff_,
                             unsigned bufferMs_, unsigned backlogMs_, WaveInDevice& device_, TickSource ticks_)
    : stream(std::move(stream_)),
      bufferMs(bufferMs_),
      backlogMs(backlogMs_),
      pendingLimit(backlogBlocks(backlogMs_, bufferMs_)),
      clock(static_cast<uint32_t>(soundFormat.samplesPerSec), bufferMs_),
      api(device_),
      ticks(ticks_) {
    FW_TRACE("SoundRecorder::SoundRecorder (%d ch, %d bits, %d Hz, coeff %g, %u ms, backlog %u blocks)",
             soundFormat.channels, soundFormat.bitsPerSample, soundFormat.samplesPerSec, volumeCoeff_, bufferMs_,
             static_cast<unsigned>(pendingLimit.load()));
    format = captureFormat(soundFormat);
    counters.lostRate = format.nSamplesPerSec;
    counters.doneRate = format.nSamplesPerSec;
    link = new CallbackLink;
    link->owner = this;
    MMRESULT r = api.open(&this->device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&SoundRecorder::waveInProc),
                          reinterpret_cast<DWORD_PTR>(link), CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        delete link;
        link = nullptr;
        throwMM(__LINE__, "kit::SoundRecorder::SoundRecorder", "waveInOpen() failed", r);
    }
    try {
        queue = smartptr<CaptureQueue>(new CaptureQueue);
        this->stream->setCompletionQueue(smartptr<EventQueue>(queue), static_cast<uint32_t>(keyWriteDone));
        bufferBytes = static_cast<uint32_t>(static_cast<uint64_t>(format.nAvgBytesPerSec) * bufferMs_ / 1000);
        thread = smartptr<SoundThread>(new SoundThread(this, volumeCoeff_));
        thread->start();
    } catch (...) {
        closeDevice();
        throw;
    }
}

SoundRecorder::~SoundRecorder() {
    // Destroyed without finish: end the capture thread before freeing what it owns.
    fw::catchAndReport(kTraceSource, __LINE__, [this] {
        if (thread && thread->isRunning()) finish(true);
    });
    cutLink();
    drainQueue();
    int count = 0;
    for (std::deque<BlockPtr>* list : {&spare, &pending}) {
        for (BlockPtr& block : *list) {
            discard(std::move(block));
            ++count;
        }
        list->clear();
    }
    FW_TRACE("~SoundRecorder(), count = %d", count);
    if (beingWritten) {
        // The stream may still read this block: it is unprepared while the
        // device is open and stays with its write's cookie.
        unprepare(beingWritten->header);
        beingWritten = nullptr;
    }
    closeDevice();
}

// From now on the callback posts nothing: whatever the device returns later
// stays with the blocks it holds.
void SoundRecorder::cutLink() {
    if (!link) return;
    std::lock_guard<std::mutex> g(link->m);
    link->owner = nullptr;
}

// Closes the device. The blocks a failed device kept are freed once it is
// closed; a device that cannot be closed may still use them, so they are left
// to it, with the callback's link.
void SoundRecorder::closeDevice() {
    cutLink();
    if (!device) {
        delete link;
        link = nullptr;
        return;
    }
    MMRESULT r = api.close(device);
    device = nullptr;
    if (r == MMSYSERR_NOERROR) {
        inDevice.clear();
        delete link;
    } else {
        FW_LOG(fw::LEVEL_WARN, "WaveInCloseFailed", "waveInClose failed = %d: %u blocks left to the device",
               static_cast<int>(r), static_cast<unsigned>(inDevice.size()));
        for (BlockPtr& block : inDevice) (void)block.release();  // the device may still write into them
    }
    link = nullptr;
}

// Events that arrived after the capture thread ended: blocks the device gave
// back late, and the completion of the last write.
void SoundRecorder::drainQueue() {
    if (!queue) return;
    queue->drain([this](const WAVEHDR* header) { discard(takeFromDevice(header)); },
                 [this](std::unique_ptr<WriteCookie> cookie) {
                     if (cookie->block.get() == beingWritten) beingWritten = nullptr;
                     discard(std::move(cookie->block));
                 });
}

void CALLBACK SoundRecorder::waveInProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA && message != kWimRateChanged) return;
    auto* link = reinterpret_cast<CallbackLink*>(instance);
    if (message == kWimRateChanged) {
        std::lock_guard<std::mutex> g(link->m);
        if (SoundRecorder* self = link->owner)
            fw::catchAndReportFatal(kTraceSource, __LINE__, [&] {
                self->queue.get()->postEvent(static_cast<uint32_t>(param1), keyRate, nullptr);
            });
        return;
    }
    auto* block = reinterpret_cast<WAVEHDR*>(param1);
    std::lock_guard<std::mutex> g(link->m);
    SoundRecorder* self = link->owner;
    if (!self) return;              // the recorder is gone; its destructor sees to the block
    block->dwUser = self->ticks();  // when the device returned it, for the capture clock
    fw::catchAndReportFatal(kTraceSource, __LINE__, [&] { self->queue.get()->postEvent(keyData, block); });
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
    queue->postEvent(abort ? 1 : 0, keyFinish, nullptr);
    thread->wait();
    FW_TRACE("SoundRecorder::finish done: %u written, %u dropped, %llu ms lost%s", blocksWritten(), blocksDropped(),
             static_cast<unsigned long long>(lostMs()), deviceLost() ? ", device lost" : "");
}

uint64_t SoundRecorder::lostMs() const noexcept {
    uint64_t frames = counters.droppedFrames.load() + counters.missedFrames.load();
    uint64_t rate = counters.lostRate.load();
    uint64_t earlier = counters.earlierLostMs.load();
    return earlier + (rate ? (frames * 1000 + rate / 2) / rate : 0);  // to the nearest millisecond
}

uint64_t SoundRecorder::recordedMs() const noexcept {
    uint64_t bytesPerSecond = uint64_t{counters.doneRate.load()} * format.nBlockAlign;
    uint64_t us = counters.earlierDoneUs.load();
    if (bytesPerSecond) us += counters.doneBytes.load() * 1000000 / bytesPerSecond;
    return us / 1000;
}

BlockPtr SoundRecorder::newBlock() const { return std::make_unique<CaptureBlock>(bufferBytes); }

// A block leaves the recorder unprepared while the device is open (the
// platform forgets a header it never prepared); it is freed on return.
void SoundRecorder::discard(BlockPtr block) {
    if (block) unprepare(block->header);
}

void SoundRecorder::unprepare(WAVEHDR& header) {
    if (!device) return;
    MMRESULT r = api.unprepareHeader(device, &header, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR)
        FW_LOG(fw::LEVEL_WARN, "WaveInUnprepareFailed", "waveInUnprepareHeader (%p,%p,%d) failed = %d",
               static_cast<void*>(device), static_cast<void*>(&header), static_cast<int>(sizeof(WAVEHDR)),
               static_cast<int>(r));
}

// The owner of the block whose header the device gave back (none for a header
// it does not hold).
BlockPtr SoundRecorder::takeFromDevice(const WAVEHDR* header) {
    auto at = std::find_if(inDevice.begin(), inDevice.end(), [&](const BlockPtr& b) { return &b->header == header; });
    if (at == inDevice.end()) return nullptr;
    BlockPtr block = std::move(*at);
    inDevice.erase(at);
    return block;
}

// ---- SoundThread -------------------------------------------------------------------

SoundThread::SoundThread(SoundRecorder* recorder_, double volumeCoeff_)
    : recorder(recorder_), volumeCoeff(volumeCoeff_) {}

uint32_t SoundThread::run() {
    deviceRate = streamRate = doneRate = recorder->format.nSamplesPerSec;
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        while (phase != Phase::ended) {
            uint32_t count = 0;
            ULONG_PTR key = 0;
            void* pointer = nullptr;
            bool quiet = !recorder->queue->getEventFor(SoundRecorder::kWatchMs, count, key, pointer) && key == 0;
            fw::catchAndReportFatal(kTraceSource, __LINE__, [&] {
                if (quiet)
                    watchDevice();
                else
                    dispatch(key, count, pointer);
            });
        }
    });
    return 0;
}

void SoundThread::dispatch(ULONG_PTR key, uint32_t count, void* pointer) {
    switch (key) {
    case SoundRecorder::keyData: handleData(static_cast<WAVEHDR*>(pointer)); break;
    case SoundRecorder::keyStart: handleStart(); break;
    case SoundRecorder::keyPause: handlePause(); break;
    case SoundRecorder::keyFinish: handleFinish(count != 0); break;
    case SoundRecorder::keyWriteDone: handleWriteDone(count, pointer); break;
    case SoundRecorder::keyRate: handleRate(count); break;
    default: break;
    }
}

// The device has failed: the recording keeps what it has, the device gets no
// more blocks, and the owner learns it from deviceLost().
void SoundThread::deviceFailed(const char* call, MMRESULT result) {
    SoundRecorder& r = *recorder;
    if (r.lost.exchange(true)) return;
    FW_LOG(fw::LEVEL_WARN, "CaptureDeviceLost", "%s (result %u): the recording keeps the %u blocks received", call,
           static_cast<unsigned>(result), r.counters.recorded.load());
}

// Called whenever the queue has been quiet for a watch period.
void SoundThread::watchDevice() {
    if (phase != Phase::recording || recorder->lost.load()) return;
    ++quietWaits;
    uint32_t limit = anyBlock ? SoundRecorder::kSilentDeviceMs : SoundRecorder::kFirstBlockMs;
    if (quietWaits * SoundRecorder::kWatchMs >= limit) deviceFailed("the device returns no sound", 0);
}

void SoundThread::addBuffer() {
    SoundRecorder& r = *recorder;
    if (r.lost.load()) return;  // a lost device gets no more blocks
    BlockPtr block;
    if (r.spare.empty()) {
        block = r.newBlock();
        MMRESULT res = r.api.prepareHeader(r.device, &block->header, sizeof(WAVEHDR));
        if (res != MMSYSERR_NOERROR) {
            deviceFailed("waveInPrepareHeader() failed", res);
            return;
        }
    } else {
        block = std::move(r.spare.front());
        r.spare.pop_front();
        while (r.spare.size() > 1) {
            r.discard(std::move(r.spare.front()));
            r.spare.pop_front();
        }
    }
    MMRESULT res = r.api.addBuffer(r.device, &block->header, sizeof(WAVEHDR));
    if (res != MMSYSERR_NOERROR) {
        r.spare.push_back(std::move(block));
        deviceFailed("waveInAddBuffer() failed", res);
        return;
    }
    r.inDevice.push_back(std::move(block));
}

void SoundThread::handleStart() {
    SoundRecorder& r = *recorder;
    if (ending() || phase == Phase::recording) return;  // a start after finish would keep the thread alive
    r.clock.restart();                                  // a pause is no loss
    quietWaits = 0;
    anyBlock = false;
    enter(Phase::recording);
    for (std::size_t i = 0; i < SoundRecorder::kDeviceBlocks; ++i) addBuffer();
    if (r.lost.load()) return;
    MMRESULT res = r.api.start(r.device);
    if (res != MMSYSERR_NOERROR) deviceFailed("waveInStart() failed", res);
}

void SoundThread::handlePause() {
    if (ending()) return;
    enter(Phase::paused);  // a paused device returns nothing, and is not lost for it
    MMRESULT res = recorder->api.stop(recorder->device);
    if (res != MMSYSERR_NOERROR) deviceFailed("waveInStop() failed", res);
}

void SoundThread::handleFinish(bool abort) {
    SoundRecorder& r = *recorder;
    if (ending()) {
        if (abort && phase != Phase::aborting) enter(Phase::aborting);
        checkStop();
        return;
    }
    enter(abort ? Phase::aborting : Phase::finishing);
    MMRESULT res = r.api.reset(r.device);
    if (res != MMSYSERR_NOERROR) {
        // The device keeps its blocks: the recording ends without them.
        deviceFailed("waveInReset() failed", res);
        r.deviceKeepsBlocks = true;
        FW_LOG(fw::LEVEL_WARN, "CaptureBlocksKept", "the device keeps %u blocks after its reset failed",
               static_cast<unsigned>(r.inDevice.size()));
    }
    checkStop();
}

// Sound the device recorded but never returned shows as lateness of the
// blocks that follow (see CaptureClock).
void SoundThread::countMissed(const WAVEHDR& block) {
    SoundRecorder& r = *recorder;
    auto frames = static_cast<uint32_t>(block.dwBytesRecorded / r.format.nBlockAlign);
    auto stamp = static_cast<uint32_t>(block.dwUser);
    // Without a device, or on another one (whose delay is its own), the
    // capture puts in the silence of the change itself: the count starts anew.
    WaveInDevice::Presence presence = r.api.presence();
    if (presence.searching || presence.deviceChanges != clockDeviceChanges) {
        clockDeviceChanges = presence.deviceChanges;
        r.clock.restart();
    }
    uint64_t missed = ending() ? r.clock.lastBlockReturned(stamp, frames) : r.clock.blockReturned(stamp, frames);
    if (missed == 0) return;
    uint64_t total = r.counters.missedFrames.fetch_add(missed) + missed;
    FW_LOG(fw::LEVEL_WARN, "CaptureSoundLost", "the device never returned %llu ms of sound (%llu ms so far)",
           static_cast<unsigned long long>(missed * 1000 / deviceRate),
           static_cast<unsigned long long>(total * 1000 / deviceRate));
}

void SoundThread::handleData(WAVEHDR* header) {
    SoundRecorder& r = *recorder;
    BlockPtr block = r.takeFromDevice(header);
    if (!block) return;  // not one of the device's blocks
    const WAVEHDR& h = block->header;
    if (h.dwBytesRecorded) {
        r.counters.recorded.fetch_add(1);
        quietWaits = 0;
        anyBlock = true;
        if (phase != Phase::aborting) countMissed(h);
    }
    bool wide = r.format.wBitsPerSample == 32;
    if (wide)
        scaleSamples32(reinterpret_cast<int32_t*>(h.lpData), h.dwBytesRecorded / 4, volumeCoeff);
    else
        scaleSamples(reinterpret_cast<int16_t*>(h.lpData), h.dwBytesRecorded / 2, volumeCoeff);
    if (h.dwBytesRecorded && phase != Phase::aborting) {
        std::size_t frames = h.dwBytesRecorded / r.format.nBlockAlign;
        if (wide)
            r.levelMeter.measure(reinterpret_cast<const int32_t*>(h.lpData), frames, r.format.nChannels, deviceRate);
        else
            r.levelMeter.measure(reinterpret_cast<const int16_t*>(h.lpData), frames, r.format.nChannels, deviceRate);
    }
    block->rate = deviceRate;
    keepOrDrop(std::move(block));
    if (!ending()) addBuffer();
    checkStop();
}

// A returned block is written at once, waits in pending behind the write in
// progress, or is dropped from a full pending list (counted as lost). A block
// that holds nothing (the device returns its blocks so at the end) goes back.
void SoundThread::keepOrDrop(BlockPtr block) {
    SoundRecorder& r = *recorder;
    DWORD bytes = block->header.dwBytesRecorded;
    if (phase == Phase::aborting || bytes == 0) {
        toSpare(std::move(block));  // in abort mode nothing more is written
    } else if (r.beingWritten) {
        if (r.pending.size() < r.pendingLimit) {
            r.pending.push_back(std::move(block));
            uint32_t n = static_cast<uint32_t>(r.pending.size());
            if (n > r.counters.pendingPeak.load()) r.counters.pendingPeak.store(n);
        } else {
            toSpare(std::move(block));
            uint32_t dropped = r.counters.dropped.fetch_add(1) + 1;
            r.counters.droppedFrames.fetch_add(bytes / r.format.nBlockAlign);
            FW_LOG(fw::LEVEL_WARN, "CaptureBlockDropped",
                   "pending list full (%u blocks): block of %lu bytes dropped, %u so far",
                   static_cast<unsigned>(r.pending.size()), static_cast<unsigned long>(bytes), dropped);
        }
    } else {
        writeBlock(std::move(block));
    }
}

void SoundThread::writeBlock(BlockPtr block) {
    SoundRecorder& r = *recorder;
    const WAVEHDR& h = block->header;
    if (h.dwBytesRecorded == 0) fw::assertionFailed(kTraceSource, __LINE__, "0 != buf->dwBytesRecorded");
    auto cookie = std::make_unique<WriteCookie>();
    cookie->overlapped.Offset = static_cast<DWORD>(r.bytesWritten);
    r.beingWritten = block.get();
    cookie->block = std::move(block);
    r.counters.written.fetch_add(1);
    if (cookie->block->rate != streamRate) {
        streamRate = cookie->block->rate;
        r.stream->newRate(streamRate);  // in order: before the first block at it
    }
    // The completion may be posted before write returns; it is handled only
    // after this event, on this thread. From here the stream holds the cookie.
    r.stream->write(h.lpData, h.dwBytesRecorded, cookie.release());
}

void SoundThread::watchSpeed() {
    SoundRecorder& r = *recorder;
    if (lastWriteTick == 0) {
        lastWriteTick = r.ticks();
        return;
    }
    uint32_t now = r.ticks();
    if (now - lastWriteTick > SoundRecorder::kSlowMs) {
        ++slowCount;
        if (slowCount > SoundRecorder::kSlowLimit) {
            FW_LOG(fw::LEVEL_WARN, "TooSlowDevice", "%s", "TOO SLOW DEVICE -- crashing");
            if (r.tooSlow) {
                r.tooSlow(kTooSlowMessage);
            } else {
                FW_LOG(fw::LEVEL_WARN, "NoCrashFunc", "%s", "no forced-stop handler");
            }
        }
    } else {
        slowCount = 0;
    }
    lastWriteTick = now;
}

void SoundThread::handleWriteDone(uint32_t count, void* pointer) {
    SoundRecorder& r = *recorder;
    std::unique_ptr<WriteCookie> cookie(static_cast<WriteCookie*>(pointer));
    if (!cookie) return;
    if (cookie->block.get() != r.beingWritten) {
        r.discard(std::move(cookie->block));  // not the write in progress: nothing to count
        return;
    }
    watchSpeed();
    if (cookie->block->rate != doneRate) {
        uint64_t us = r.counters.doneBytes.exchange(0) * 1000000 / (uint64_t{doneRate} * r.format.nBlockAlign);
        r.counters.earlierDoneUs.fetch_add(us);
        doneRate = cookie->block->rate;
        r.counters.doneRate.store(doneRate);
    }
    r.counters.doneBytes.fetch_add(count);
    toSpare(std::move(cookie->block));
    r.beingWritten = nullptr;
    r.bytesWritten += static_cast<int32_t>(count);
    r.counters.bytes.fetch_add(count);

    if (!r.pending.empty() && phase != Phase::aborting) {
        BlockPtr block = std::move(r.pending.front());  // pending holds only blocks with sound
        r.pending.pop_front();
        writeBlock(std::move(block));
    }
    checkStop();
}

// The blocks that come back from now on hold frames at `rate`; the lost
// sound counted so far keeps the rate it was counted at.
void SoundThread::handleRate(uint32_t rate) {
    SoundRecorder& r = *recorder;
    if (rate == 0 || rate == deviceRate) return;
    FW_LOG(fw::LEVEL_WARN, "CaptureRateChanged", "the device records at %u Hz from now on (%u Hz before)",
           static_cast<unsigned>(rate), static_cast<unsigned>(deviceRate));
    uint64_t frames = r.counters.droppedFrames.exchange(0) + r.counters.missedFrames.exchange(0);
    r.counters.earlierLostMs.fetch_add((frames * 1000 + deviceRate / 2) / deviceRate);
    r.counters.lostRate.store(rate);
    deviceRate = rate;
    // The blocks keep their bytes: at the new rate each holds another time.
    unsigned blockMs = blockMsAt(r.bufferBytes, r.format.nBlockAlign, rate);
    r.clock = CaptureClock(rate, blockMs);
    r.pendingLimit.store(backlogBlocks(r.backlogMs, blockMs));
    r.counters.rateChanges.fetch_add(1);
}

void SoundThread::toSpare(BlockPtr block) { recorder->spare.push_back(std::move(block)); }

void SoundThread::checkStop() {
    const SoundRecorder& r = *recorder;
    bool deviceDone = r.inDevice.empty() || r.deviceKeepsBlocks;
    bool writeDone = !r.beingWritten || phase == Phase::aborting;
    if (ending() && deviceDone && writeDone) enter(Phase::ended);
}

void SoundThread::enter(Phase next) {
    bool allowed = false;
    switch (next) {
    case Phase::opened: break;
    case Phase::recording: allowed = phase == Phase::opened || phase == Phase::paused; break;
    case Phase::paused: allowed = phase == Phase::recording || phase == Phase::opened; break;
    case Phase::finishing: allowed = !ending() && phase != Phase::ended; break;
    case Phase::aborting: allowed = phase != Phase::aborting && phase != Phase::ended; break;
    case Phase::ended: allowed = ending(); break;
    }
    if (!allowed) fw::assertionFailed(kTraceSource, __LINE__, "capture phase change not allowed");
    phase = next;
}

}  // namespace kit
