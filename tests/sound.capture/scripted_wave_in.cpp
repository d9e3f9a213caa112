#include "sound.capture/scripted_wave_in.h"

#include <algorithm>
#include <cstring>

namespace testsupport {
namespace {
using WaveInProc = void(CALLBACK*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
std::atomic<uintptr_t> nextHandle{0x5eed0000};
}  // namespace

ScriptedWaveIn::ScriptedWaveIn() {
    callbackWorker = std::thread([this] { callbackLoop(); });
}

ScriptedWaveIn::~ScriptedWaveIn() {
    stopAutoFeed();
    {
        std::lock_guard<std::mutex> g(m);
        quitting = true;
    }
    changed.notify_all();
    callbackWorker.join();
}

// ---- helpers ---------------------------------------------------------------------------

void ScriptedWaveIn::violation(std::string text) { breaches.push_back(std::move(text)); }

bool ScriptedWaveIn::takeFailure(Call call, MMRESULT& result) {
    int i = static_cast<int>(call);
    ++callCount[i];
    if (failures[i].empty()) return false;
    result = failures[i].front();
    failures[i].erase(failures[i].begin());
    return true;
}

bool ScriptedWaveIn::checkHandle(HWAVEIN device, const char* what) {
    if (opened && device == handle) return true;
    violation(std::string(what) + " on a device that is not open");
    return false;
}

uint64_t ScriptedWaveIn::post(UINT message, WAVEHDR* block) {
    messages.push_back({message, block});
    changed.notify_all();
    return ++posted;
}

void ScriptedWaveIn::waitDispatched(std::unique_lock<std::mutex>& lock, uint64_t number) {
    if (::GetCurrentThreadId() == callbackThread.load()) return;  // never wait for ourselves
    changed.wait(lock, [&] { return dispatched >= number || quitting; });
}

void ScriptedWaveIn::callbackLoop() {
    callbackThread.store(::GetCurrentThreadId());
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
        changed.wait(lock, [&] { return !messages.empty() || quitting; });
        if (messages.empty()) return;
        Message msg = messages.front();
        messages.pop_front();
        auto proc = reinterpret_cast<WaveInProc>(callback);
        HWAVEIN h = handle;
        DWORD_PTR inst = instance;
        lock.unlock();
        if (proc) proc(h, msg.message, inst, msg.block ? reinterpret_cast<DWORD_PTR>(msg.block) : msg.rate, 0);
        lock.lock();
        ++dispatched;
        changed.notify_all();
    }
}

void ScriptedWaveIn::fillFromSource(WAVEHDR* block, uint32_t bytes) {
    bytes = std::min<uint32_t>(bytes, block->dwBufferLength);
    auto* out = reinterpret_cast<uint8_t*>(block->lpData);
    const auto* src = reinterpret_cast<const uint8_t*>(source.data());
    uint64_t available = source.size() * 2;
    for (uint32_t i = 0; i < bytes; ++i) {
        uint64_t at = sourcePos + i;
        out[i] = at < available ? src[at] : 0;
    }
    sourcePos += bytes;
    block->dwBytesRecorded = bytes;
}

void ScriptedWaveIn::returnBlock(WAVEHDR* block) {
    block->dwFlags = (block->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    ++returned;
    post(WIM_DATA, block);
}

// ---- the device ----------------------------------------------------------------------

MMRESULT ScriptedWaveIn::open(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* fmt, DWORD_PTR cb, DWORD_PTR inst,
                              DWORD flags) {
    std::unique_lock<std::mutex> lock(m);
    MMRESULT r = 0;
    if (takeFailure(Call::open, r)) return r;
    if (opened) {
        violation("open while already open");
        return MMSYSERR_ALLOCATED;
    }
    if (!device || !fmt || !cb || flags != CALLBACK_FUNCTION) {
        violation("open without a function callback");
        return MMSYSERR_INVALPARAM;
    }
    if (fmt->wFormatTag != WAVE_FORMAT_PCM || fmt->nChannels == 0 ||
        fmt->nBlockAlign != fmt->nChannels * fmt->wBitsPerSample / 8 ||
        fmt->nAvgBytesPerSec != fmt->nBlockAlign * fmt->nSamplesPerSec) {
        violation("open with an inconsistent PCM format");
        return WAVERR_BADFORMAT;
    }
    (void)deviceId;
    opened = true;
    started = false;
    format = *fmt;
    callback = cb;
    instance = inst;
    handle = reinterpret_cast<HWAVEIN>(nextHandle.fetch_add(1));
    *device = handle;
    waitDispatched(lock, post(WIM_OPEN, nullptr));
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) {
    std::lock_guard<std::mutex> g(m);
    MMRESULT r = 0;
    if (takeFailure(Call::prepare, r)) return r;
    if (!checkHandle(device, "prepare")) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR) || !block->lpData || block->dwBufferLength == 0) {
        violation("prepare of an invalid block");
        return MMSYSERR_INVALPARAM;
    }
    if (preparedBlocks.count(block)) violation("block prepared twice");
    if (block->dwBufferLength % format.nBlockAlign) violation("block length is not a whole number of frames");
    preparedBlocks.insert(block);
    block->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) {
    std::lock_guard<std::mutex> g(m);
    MMRESULT r = 0;
    if (takeFailure(Call::unprepare, r)) return r;
    if (!checkHandle(device, "unprepare")) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (std::find(queue.begin(), queue.end(), block) != queue.end()) {
        violation("unprepare of a block the device holds");
        return WAVERR_STILLPLAYING;
    }
    if (!preparedBlocks.erase(block)) return MMSYSERR_NOERROR;  // as the platform: nothing to do
    block->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) {
    std::lock_guard<std::mutex> g(m);
    MMRESULT r = 0;
    if (takeFailure(Call::addBuffer, r)) return r;
    if (!checkHandle(device, "addBuffer")) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!preparedBlocks.count(block) || !(block->dwFlags & WHDR_PREPARED)) {
        violation("addBuffer of an unprepared block");
        return WAVERR_UNPREPARED;
    }
    if (std::find(queue.begin(), queue.end(), block) != queue.end()) {
        violation("addBuffer of a block the device already holds");
        return WAVERR_STILLPLAYING;
    }
    block->dwFlags = (block->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    block->dwBytesRecorded = 0;
    blockLength = block->dwBufferLength;
    queue.push_back(block);
    changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::start(HWAVEIN device) {
    std::lock_guard<std::mutex> g(m);
    MMRESULT r = 0;
    if (takeFailure(Call::start, r)) return r;
    if (!checkHandle(device, "start")) return MMSYSERR_INVALHANDLE;
    started = true;
    changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::stop(HWAVEIN device) {
    std::unique_lock<std::mutex> lock(m);
    MMRESULT r = 0;
    if (takeFailure(Call::stop, r)) return r;
    if (!checkHandle(device, "stop")) return MMSYSERR_INVALHANDLE;
    if (gone) return MMSYSERR_ERROR;
    started = false;
    uint64_t last = posted;
    if (!queue.empty()) {
        WAVEHDR* block = queue.front();
        queue.pop_front();
        fillFromSource(block, partialBytes);
        returnBlock(block);
        last = posted;
    }
    waitDispatched(lock, last);
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::reset(HWAVEIN device) {
    std::unique_lock<std::mutex> lock(m);
    MMRESULT r = 0;
    if (takeFailure(Call::reset, r)) return r;
    if (!checkHandle(device, "reset")) return MMSYSERR_INVALHANDLE;
    if (gone) return MMSYSERR_ERROR;  // the blocks stay queued
    bool first = true;
    while (!queue.empty()) {
        WAVEHDR* block = queue.front();
        queue.pop_front();
        if (first && started) {
            fillFromSource(block, partialBytes);
        } else {
            block->dwBytesRecorded = 0;
        }
        first = false;
        returnBlock(block);
    }
    started = false;
    waitDispatched(lock, posted);
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::close(HWAVEIN device) {
    std::unique_lock<std::mutex> lock(m);
    MMRESULT r = 0;
    if (takeFailure(Call::close, r)) return r;
    if (!checkHandle(device, "close")) return MMSYSERR_INVALHANDLE;
    if (gone) {
        for (WAVEHDR* block : queue) preparedBlocks.erase(block);  // forgotten with the device
        queue.clear();
    }
    if (!queue.empty()) {
        violation("close while the device holds blocks");
        return WAVERR_STILLPLAYING;
    }
    waitDispatched(lock, post(WIM_CLOSE, nullptr));
    opened = false;
    started = false;
    handle = nullptr;
    return MMSYSERR_NOERROR;
}

// ---- scripting -------------------------------------------------------------------------

void ScriptedWaveIn::setSource(std::vector<int16_t> samples) {
    std::lock_guard<std::mutex> g(m);
    source = std::move(samples);
    sourcePos = 0;
}

void ScriptedWaveIn::failNext(Call call, MMRESULT result) {
    std::lock_guard<std::mutex> g(m);
    failures[static_cast<int>(call)].push_back(result);
}

void ScriptedWaveIn::setPartialBytes(uint32_t bytes) {
    std::lock_guard<std::mutex> g(m);
    partialBytes = bytes;
}

bool ScriptedWaveIn::waitQueued(std::size_t n, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return queue.size() >= n; });
}

bool ScriptedWaveIn::deliverWith(const std::function<void(WAVEHDR*)>& fill, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    if (!changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return (started && !queue.empty()) || quitting || gone; }))
        return false;
    if (quitting || gone) return false;
    WAVEHDR* block = queue.front();
    queue.pop_front();
    fill(block);
    returnBlock(block);
    waitDispatched(lock, posted);
    return true;
}

bool ScriptedWaveIn::deliver(uint32_t bytes, DWORD timeoutMs) {
    return deliverWith([&](WAVEHDR* block) { fillFromSource(block, bytes); }, timeoutMs);
}

bool ScriptedWaveIn::deliverData(const void* data, uint32_t bytes, DWORD timeoutMs) {
    return deliverWith(
        [&](WAVEHDR* block) {
            uint32_t n = std::min<uint32_t>(bytes, block->dwBufferLength);
            std::memcpy(block->lpData, data, n);
            block->dwBytesRecorded = n;
        },
        timeoutMs);
}

void ScriptedWaveIn::changeRate(uint32_t rate) {
    std::unique_lock<std::mutex> lock(m);
    messages.push_back({kit::kWimRateChanged, nullptr, rate});
    changed.notify_all();
    waitDispatched(lock, ++posted);
}

bool ScriptedWaveIn::deliverOrLose() {
    {
        std::lock_guard<std::mutex> g(m);
        if (!started || queue.empty() || gone) {
            sourcePos += blockLength;  // what the block would have held

            return false;
        }
    }
    return deliverFull(0);
}

void ScriptedWaveIn::goAway() {
    std::lock_guard<std::mutex> g(m);
    gone = true;
    changed.notify_all();
}

void ScriptedWaveIn::startAutoFeed(DWORD intervalMs) {
    stopAutoFeed();
    feeding.store(true);
    feeder = std::thread([this, intervalMs] {
        while (feeding.load()) {
            deliver(UINT32_MAX, 20);
            if (intervalMs) ::Sleep(intervalMs);
        }
    });
}

void ScriptedWaveIn::stopAutoFeed() {
    feeding.store(false);
    if (feeder.joinable()) feeder.join();
}

// ---- observation -----------------------------------------------------------------------

std::size_t ScriptedWaveIn::queued() const {
    std::lock_guard<std::mutex> g(m);
    return queue.size();
}

std::size_t ScriptedWaveIn::prepared() const {
    std::lock_guard<std::mutex> g(m);
    return preparedBlocks.size();
}

unsigned ScriptedWaveIn::calls(Call call) const {
    std::lock_guard<std::mutex> g(m);
    return callCount[static_cast<int>(call)];
}

bool ScriptedWaveIn::isOpen() const {
    std::lock_guard<std::mutex> g(m);
    return opened;
}

bool ScriptedWaveIn::isStarted() const {
    std::lock_guard<std::mutex> g(m);
    return started;
}

WAVEFORMATEX ScriptedWaveIn::openedFormat() const {
    std::lock_guard<std::mutex> g(m);
    return format;
}

uint64_t ScriptedWaveIn::sourceBytesUsed() const {
    std::lock_guard<std::mutex> g(m);
    return sourcePos;
}

uint64_t ScriptedWaveIn::blocksReturned() const {
    std::lock_guard<std::mutex> g(m);
    return returned;
}

std::vector<std::string> ScriptedWaveIn::violations() const {
    std::lock_guard<std::mutex> g(m);
    return breaches;
}

}  // namespace testsupport
