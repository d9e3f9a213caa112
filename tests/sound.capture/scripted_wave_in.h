// A wave-input device driven by the test: it honours the same contract as the
// platform's (see sound.capture/wave_in_device.h) and lets the test decide
// when a block comes back and what it holds.
//
//   ScriptedWaveIn device;
//   device.setSource(samples);             // what blocks record, in order
//   SoundRecorder recorder(stream, format, 1.0, 100, device);
//   recorder.start();
//   device.deliverFull();                  // the oldest block comes back full
//   device.deliver(0);                     // ... or empty
//
// Blocks come back through the callback (WIM_DATA) on the device's own
// thread, oldest first; deliver() waits until the device is started and holds
// a block, and returns once the callback has returned. deliverOrLose() is a
// device at its own pace: with no block queued, the sound is lost. stop()
// returns the block being filled, reset() every block, as the platform does.
// goAway() is an unplugged device: nothing comes back any more, reset and stop
// fail and the queued blocks stay, close still succeeds (as Wine's when its
// sound server is gone). Breaches of the contract by the caller are answered
// with the platform's error codes and listed in violations(). changeRate()
// is the loopback capture's change of rate (kit::kWimRateChanged).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sound.capture/wave_in_device.h"

namespace testsupport {

class ScriptedWaveIn : public kit::WaveInDevice {
public:
    enum class Call { open, prepare, unprepare, addBuffer, start, stop, reset, close, count_ };

    ScriptedWaveIn();
    ~ScriptedWaveIn() override;
    ScriptedWaveIn(const ScriptedWaveIn&) = delete;
    ScriptedWaveIn& operator=(const ScriptedWaveIn&) = delete;

    // ---- the device ----
    MMRESULT open(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) override;
    MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT start(HWAVEIN device) override;
    MMRESULT stop(HWAVEIN device) override;
    MMRESULT reset(HWAVEIN device) override;
    MMRESULT close(HWAVEIN device) override;

    // ---- scripting ----
    // What recorded blocks hold, consumed in order; past its end they hold zeros.
    void setSource(std::vector<int16_t> samples);
    // The next call of this kind answers `result` and changes nothing.
    void failNext(Call call, MMRESULT result);
    // Bytes of the source the block being filled holds when stop() or reset()
    // returns it (default 0).
    void setPartialBytes(uint32_t bytes);
    // Waits until the device holds at least `n` blocks.
    bool waitQueued(std::size_t n, DWORD timeoutMs = 5000);
    // Returns the oldest block holding the next `bytes` bytes of the source (cut
    // to the block's length; 0 gives an empty block). False on time-out.
    bool deliver(uint32_t bytes, DWORD timeoutMs = 5000);
    bool deliverFull(DWORD timeoutMs = 5000) { return deliver(UINT32_MAX, timeoutMs); }
    // Returns the oldest block holding exactly these bytes.
    bool deliverData(const void* data, uint32_t bytes, DWORD timeoutMs = 5000);
    // The device's rate changes: the callback is told (kit::kWimRateChanged)
    // after the blocks returned so far; returns once it has been.
    void changeRate(uint32_t rate);
    // A thread of the device returns a full block every `intervalMs` while
    // started, as a real device does at its own pace (0: as fast as blocks come).
    void startAutoFeed(DWORD intervalMs);
    void stopAutoFeed();
    // Returns the oldest block full when one is queued and the device is
    // started; otherwise a block's worth of the source is lost. True when delivered.
    bool deliverOrLose();
    void goAway();

    // ---- observation ----
    std::size_t queued() const;
    std::size_t prepared() const;  // blocks prepared and not yet unprepared
    unsigned calls(Call call) const;
    bool isOpen() const;
    bool isStarted() const;
    WAVEFORMATEX openedFormat() const;
    uint64_t sourceBytesUsed() const;
    uint64_t blocksReturned() const;
    DWORD callbackThreadId() const { return callbackThread; }
    std::vector<std::string> violations() const;

private:
    struct Message {
        UINT message;
        WAVEHDR* block;
        DWORD_PTR rate = 0;  // kit::kWimRateChanged
    };
    bool takeFailure(Call call, MMRESULT& result);
    bool checkHandle(HWAVEIN device, const char* what);
    void violation(std::string text);
    void fillFromSource(WAVEHDR* block, uint32_t bytes);
    void returnBlock(WAVEHDR* block);             // with the lock held
    uint64_t post(UINT message, WAVEHDR* block);  // with the lock held; returns its number
    void waitDispatched(std::unique_lock<std::mutex>& lock, uint64_t number);
    void callbackLoop();
    bool deliverWith(const std::function<void(WAVEHDR*)>& fill, DWORD timeoutMs);

    mutable std::mutex m;
    std::condition_variable changed;
    std::vector<MMRESULT> failures[static_cast<int>(Call::count_)];
    unsigned callCount[static_cast<int>(Call::count_)] = {};
    std::vector<std::string> breaches;

    bool opened = false;
    bool started = false;
    bool gone = false;
    HWAVEIN handle = nullptr;
    WAVEFORMATEX format{};
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    std::deque<WAVEHDR*> queue;
    std::set<WAVEHDR*> preparedBlocks;
    std::vector<int16_t> source;
    uint64_t sourcePos = 0;    // bytes
    uint32_t blockLength = 0;  // of the blocks added last
    uint32_t partialBytes = 0;
    uint64_t returned = 0;

    std::deque<Message> messages;
    uint64_t posted = 0;
    uint64_t dispatched = 0;
    bool quitting = false;
    std::atomic<DWORD> callbackThread{0};
    std::thread callbackWorker;

    std::atomic<bool> feeding{false};
    std::thread feeder;
};

}  // namespace testsupport
