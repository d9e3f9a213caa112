// One open WASAPI wave-input device (internal to sound.capture): the blocks the
// caller queued, the commands it gives, and the capture thread that serves
// them (CaptureWorker). The caller's side and the capture thread meet only
// here, under one lock; the callback is called without it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

#include "kit/clock.h"
#include "kit/refcounted.h"
#include "kit/scoped.h"
#include "kit/threads.h"
#include "sound.capture/audio_endpoints.h"
#include "sound.capture/wasapi_wave_in.h"

namespace kit {

using WaveInProc = void(CALLBACK*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct CaptureSetup {
    bool loopback = true;
    WAVEFORMATEX format{};
    WaveInProc callback = nullptr;
    DWORD_PTR instance = 0;
    AudioEndpoints* endpoints = nullptr;
    TickSource ticks = systemTicks;
};

class WasapiStream {
public:
    enum class Command { none, start, stop, reset, close };

    explicit WasapiStream(const CaptureSetup& setup);
    ~WasapiStream();
    WasapiStream(const WasapiStream&) = delete;
    WasapiStream& operator=(const WasapiStream&) = delete;

    HWAVEIN handle() const noexcept { return reinterpret_cast<HWAVEIN>(const_cast<WasapiStream*>(this)); }

    // ---- the caller's side ----
    // Starts the capture thread and waits until it has set up the stream; on
    // failure the thread has ended.
    HRESULT open();
    MMRESULT prepare(WAVEHDR* block);
    MMRESULT unprepare(WAVEHDR* block);
    MMRESULT add(WAVEHDR* block);
    // Hands the command to the capture thread and waits until it is done.
    MMRESULT command(Command c);
    // close: refused while blocks are queued; then the thread ends.
    MMRESULT close();
    WasapiWaveIn::Stats stats() const;

    // ---- the capture thread's side ----
    const CaptureSetup& setup() const noexcept { return config; }
    HANDLE wakeEvent() const noexcept { return wake.get(); }
    void opened(HRESULT result);
    Command takeCommand();
    void complete(MMRESULT result);
    // Copies bytes into the queued blocks, in order; the blocks that became
    // full are appended to `full`. Answers the bytes taken.
    std::size_t fill(const char* data, std::size_t bytes, std::vector<WAVEHDR*>& full);
    // Bytes the queued blocks can still take.
    std::size_t freeBytes() const;
    // Takes the block being filled (the front one) or every queued block.
    std::vector<WAVEHDR*> take(bool all);
    // The block being filled, when it holds anything (else null).
    WAVEHDR* takePartial();
    // A block back to the caller: WHDR_DONE set, WHDR_INQUEUE cleared, WIM_DATA.
    void handBack(WAVEHDR* block);
    void notify(UINT message, DWORD_PTR param = 0);
    struct Counters {
        std::atomic<uint64_t> deviceFrames{0};
        std::atomic<uint64_t> silenceFrames{0};
        std::atomic<uint64_t> withdrawnFrames{0};
        std::atomic<uint64_t> stalledFrames{0};
        std::atomic<uint64_t> droppedFrames{0};
        std::atomic<uint64_t> stagedFrames{0};
        std::atomic<uint64_t> polls{0};
        std::atomic<uint32_t> deviceChanges{0};
        std::atomic<uint32_t> switchMs{0};  // the latest change: from losing the endpoint to capturing again
        std::atomic<uint32_t> rateChanges{0};
        std::atomic<bool> searching{false};  // no endpoint to capture from now
    } counters;

private:
    CaptureSetup config;
    ScopedHandle wake;  // auto-reset: a command waits
    smartptr<Thread> thread;

    mutable std::mutex m;
    std::condition_variable changed;
    std::deque<WAVEHDR*> queued;
    std::set<WAVEHDR*> prepared;
    bool openDone = false;
    HRESULT openResult = E_FAIL;
    Command pending = Command::none;
    uint64_t issued = 0;
    uint64_t completed = 0;
    MMRESULT commandResult = MMSYSERR_NOERROR;
};

}  // namespace kit
