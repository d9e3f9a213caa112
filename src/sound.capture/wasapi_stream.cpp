#include "sound.capture/wasapi_stream.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/report.h"
#include "sound.capture/wasapi_worker.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/wasapi_capture";

// The capture thread: COM for its whole life, the worker inside it.
class CaptureThread final : public Thread {
public:
    explicit CaptureThread(WasapiStream& stream_) : stream(stream_) {}

protected:
    uint32_t run() override {
        fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
            ComApartment com(COINIT_MULTITHREADED);
            if (!com.ok()) {
                stream.opened(com.result());
                return;
            }
            CaptureWorker worker(stream);
            HRESULT hr = worker.connect();
            if (FAILED(hr)) {
                stream.opened(hr);
                return;
            }
            stream.notify(WIM_OPEN);
            stream.opened(S_OK);
            worker.loop();
        });
        return 0;
    }

private:
    WasapiStream& stream;
};

}  // namespace

WasapiStream::WasapiStream(const CaptureSetup& setup)
    : config(setup), wake(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

// A stream that was opened is closed by its owner; one that is still running
// here (its owner broke the contract) is closed without its blocks.
WasapiStream::~WasapiStream() {
    if (thread && thread->isRunning()) {
        command(Command::close);
        thread->wait();
    }
}

HRESULT WasapiStream::open() {
    if (!wake) return HRESULT_FROM_WIN32(::GetLastError());
    thread = smartptr<Thread>(new CaptureThread(*this));
    thread->start();
    HRESULT result;
    {
        std::unique_lock<std::mutex> lock(m);
        changed.wait(lock, [&] { return openDone; });
        result = openResult;
    }
    if (FAILED(result)) thread->wait();
    return result;
}

void WasapiStream::opened(HRESULT result) {
    std::lock_guard<std::mutex> g(m);
    openDone = true;
    openResult = result;
    changed.notify_all();
}

MMRESULT WasapiStream::prepare(WAVEHDR* block) {
    if (!block->lpData || block->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(m);
    prepared.insert(block);
    block->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WasapiStream::unprepare(WAVEHDR* block) {
    std::lock_guard<std::mutex> g(m);
    if (std::find(queued.begin(), queued.end(), block) != queued.end()) return WAVERR_STILLPLAYING;
    prepared.erase(block);
    block->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WasapiStream::add(WAVEHDR* block) {
    std::lock_guard<std::mutex> g(m);
    if (!prepared.count(block) || !(block->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (std::find(queued.begin(), queued.end(), block) != queued.end()) return WAVERR_STILLPLAYING;
    block->dwFlags = (block->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    block->dwBytesRecorded = 0;
    queued.push_back(block);
    return MMSYSERR_NOERROR;
}

MMRESULT WasapiStream::command(Command c) {
    std::unique_lock<std::mutex> lock(m);
    pending = c;
    uint64_t number = ++issued;
    ::SetEvent(wake.get());
    changed.wait(lock, [&] { return completed >= number; });
    return commandResult;
}

MMRESULT WasapiStream::close() {
    {
        std::lock_guard<std::mutex> g(m);
        if (!queued.empty()) return WAVERR_STILLPLAYING;
    }
    command(Command::close);
    thread->wait();
    return MMSYSERR_NOERROR;
}

WasapiStream::Command WasapiStream::takeCommand() {
    std::lock_guard<std::mutex> g(m);
    return completed < issued ? pending : Command::none;
}

void WasapiStream::complete(MMRESULT result) {
    std::lock_guard<std::mutex> g(m);
    commandResult = result;
    completed = issued;
    changed.notify_all();
}

std::size_t WasapiStream::fill(const char* data, std::size_t bytes, std::vector<WAVEHDR*>& full) {
    std::lock_guard<std::mutex> g(m);
    std::size_t taken = 0;
    while (taken < bytes && !queued.empty()) {
        WAVEHDR* block = queued.front();
        std::size_t n = std::min<std::size_t>(block->dwBufferLength - block->dwBytesRecorded, bytes - taken);
        std::memcpy(block->lpData + block->dwBytesRecorded, data + taken, n);
        block->dwBytesRecorded += static_cast<DWORD>(n);
        taken += n;
        if (block->dwBytesRecorded == block->dwBufferLength) {
            queued.pop_front();
            full.push_back(block);
        }
    }
    return taken;
}

std::size_t WasapiStream::freeBytes() const {
    std::lock_guard<std::mutex> g(m);
    std::size_t bytes = 0;
    for (const WAVEHDR* block : queued) bytes += block->dwBufferLength - block->dwBytesRecorded;
    return bytes;
}

std::vector<WAVEHDR*> WasapiStream::take(bool all) {
    std::lock_guard<std::mutex> g(m);
    std::vector<WAVEHDR*> blocks;
    while (!queued.empty() && (all || blocks.empty())) {
        blocks.push_back(queued.front());
        queued.pop_front();
    }
    return blocks;
}

WAVEHDR* WasapiStream::takePartial() {
    std::lock_guard<std::mutex> g(m);
    if (queued.empty() || queued.front()->dwBytesRecorded == 0) return nullptr;
    WAVEHDR* block = queued.front();
    queued.pop_front();
    return block;
}

void WasapiStream::handBack(WAVEHDR* block) {
    block->dwFlags = (block->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    config.callback(handle(), WIM_DATA, config.instance, reinterpret_cast<DWORD_PTR>(block), 0);
}

void WasapiStream::notify(UINT message, DWORD_PTR param) {
    config.callback(handle(), message, config.instance, param, 0);
}

WasapiWaveIn::Stats WasapiStream::stats() const {
    WasapiWaveIn::Stats s;
    s.deviceFrames = counters.deviceFrames.load();
    s.silenceFrames = counters.silenceFrames.load();
    s.withdrawnFrames = counters.withdrawnFrames.load();
    s.stalledFrames = counters.stalledFrames.load();
    s.droppedFrames = counters.droppedFrames.load();
    s.stagedFrames = counters.stagedFrames.load();
    s.polls = counters.polls.load();
    s.deviceChanges = counters.deviceChanges.load();
    s.switchMs = counters.switchMs.load();
    s.rateChanges = counters.rateChanges.load();
    s.searching = counters.searching.load();
    return s;
}

}  // namespace kit
