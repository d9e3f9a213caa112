// The sound recorder: captures PCM (16-bit, or 32-bit from loopback) from the
// wave-input device and hands every recorded block, scaled by the level
// coefficient, to an output stream.
//
// One capture thread (SoundThread) owns all recording state. Everything that
// happens to the recorder reaches it through the recorder's event queue:
//   key 1  block recorded  (posted by the device callback; pointer: the WAVEHDR,
//          whose dwUser the callback stamps with the tick of its return)
//   key 2  start           key 3  pause          key 4  finish
//   key 5  block written   (posted by the stream; count: bytes, pointer: the write's cookie)
//   key 6  rate changed    (posted by the device callback; count: the new rate)
// A device whose rate changes (kWimRateChanged) says so between the last
// block at the old rate and the first at the new one; every block is stamped
// with the rate it holds, and the stream is told the new rate (newRate) just
// before the first block at it is written: the stream sees the change exactly
// where it falls in the sound.
// Ten blocks (bufferMs each) circulate in the device, so a capture path held
// up for most of a second loses nothing. One write is outstanding at a time,
// so the stream receives the blocks in recording order; blocks recorded
// meanwhile wait in the pending list, up to backlogMs of sound (a block
// recorded while the list is full is dropped, counted as lost and logged, and
// recording goes on). Written blocks are reused through the spare list,
// trimmed to one.
//
// Lost sound is counted, logged and kept for the caller (lostMs): blocks
// dropped from a full pending list, and sound the device recorded but never
// returned, found by comparing the tick clock with the frames received
// (CaptureClock).
//
// A lost device (a call that fails, or no block returned for kSilentDeviceMs
// while recording) ends nothing by itself: the recorder stops giving the
// device blocks, keeps everything it received and says so (deviceLost); the
// owner ends the recording with finish(). A device whose reset fails keeps the
// blocks it holds; they are freed once the device is closed, and left alone
// when even that fails. No device failure ends the process.
//
// Finishing: finish() resets the device (every block comes back) and the
// thread ends once no block is left in the device and no write is
// outstanding. finish(true) posts the finish as an abort: from then on no
// block is written, returned blocks go to the spare list, and the thread ends
// as soon as the device has given back every block, without waiting for the
// outstanding write (an abort also cuts a finish in progress short). A finish
// without start ends the thread at once. The phases and their changes:
// SoundThread::Phase.
//
// Memory: every block has one owner at a time: the list of blocks the device
// holds, the pending list, the spare list, or the cookie of the write that
// carries it to the stream. Dropped and empty blocks go back to the spare list
// (trimmed to one at the next addBuffer). A block leaves the recorder
// unprepared while the device is open. A write the stream has not completed
// when the recorder is destroyed keeps its block in its cookie; the cookie
// goes, with the block, when its completion is taken from the event queue or
// the queue itself goes (the stream holds the queue until then).
//
// Usage: construct (device opened, thread waiting), start(), ... finish() or
// finish(true); destroy only after finish has returned (a recorder destroyed
// while its thread runs is finished with abort first).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "encoding.common/sound_encoding.h"
#include "encoding.common/sound_format.h"
#include "kit/clock.h"
#include "kit/refcounted.h"
#include "kit/threads.h"
#include "sound.capture/capture_clock.h"
#include "sound.capture/level_meter.h"
#include "sound.capture/wave_in_device.h"

namespace kit {

// Called on the capture thread when the output has been too slow for six write
// completions in a row (and on each further slow one).
using TooSlowHandler = std::function<void(const char* message)>;

// The capture format for a format record: PCM, channels and bits as 16-bit values.
WAVEFORMATEX captureFormat(const SoundFormat& format) noexcept;

// A sample times the coefficient, truncated toward zero and then held to the
// 16-bit range: loud passages clip instead of wrapping around (20000 x 2.0
// gives 32767, -3 x 0.5 gives -1). A coefficient that is not a number gives 0.
int16_t scaleSample(int16_t sample, double coefficient) noexcept;
void scaleSamples(int16_t* samples, std::size_t count, double coefficient) noexcept;
// The same for 32-bit samples (a recording that keeps the depth of 24-bit
// files), held to the 32-bit range.
void scaleSamples32(int32_t* samples, std::size_t count, double coefficient) noexcept;

// The blocks of `blockMs` that hold `backlogMs` of sound (at least one).
std::size_t backlogBlocks(unsigned backlogMs, unsigned blockMs) noexcept;
// The milliseconds of sound a block of `blockBytes` holds at `rate` frames of
// `frameBytes` a second (rounded, at least 1): the blocks keep their size in
// bytes when the device's rate changes, and hold more or less time.
unsigned blockMsAt(uint32_t blockBytes, uint32_t frameBytes, uint32_t rate) noexcept;

// True for the results of waveInOpen that say there is no recording device
// at all (none installed, none enabled, no driver).
bool isMissingDevice(MMRESULT openResult) noexcept;

class SoundRecorder;
class CaptureQueue;
struct CallbackLink;

// One block of sound: the header the device fills and the memory it points at.
struct CaptureBlock {
    explicit CaptureBlock(uint32_t bytes) : data(new char[bytes]) {
        header.lpData = data.get();
        header.dwBufferLength = bytes;
    }
    WAVEHDR header{};
    std::unique_ptr<char[]> data;
    uint32_t rate = 0;  // of the frames it holds
};
using BlockPtr = std::unique_ptr<CaptureBlock>;

class SoundThread : public Thread {
public:
    SoundThread(SoundRecorder* recorder, double volumeCoeff);

    // The recording's life on the capture thread. Every change goes through
    // enter(), which allows only these:
    //   opened -> recording (start) <-> paused (pause, start)
    //   opened, recording, paused -> finishing (finish) or aborting (finish(true))
    //   finishing -> aborting (an abort cuts a finish short)
    //   finishing, aborting -> ended (the device has given back its blocks and,
    //   when finishing, the last write is done; the thread then ends)
    // Finishing writes every block that came back; aborting writes nothing more.
    enum class Phase { opened, recording, paused, finishing, aborting, ended };

protected:
    uint32_t run() override;

private:
    void dispatch(ULONG_PTR key, uint32_t count, void* pointer);
    void addBuffer();
    void handleStart();
    void handlePause();
    void handleFinish(bool abort);
    void handleData(WAVEHDR* header);
    void keepOrDrop(BlockPtr block);
    void countMissed(const WAVEHDR& block);
    void handleWriteDone(uint32_t count, void* cookie);
    void handleRate(uint32_t rate);
    void watchSpeed();
    void watchDevice();
    void deviceFailed(const char* call, MMRESULT result);
    void writeBlock(BlockPtr block);
    void toSpare(BlockPtr block);
    void checkStop();
    void enter(Phase next);
    bool ending() const noexcept { return phase == Phase::finishing || phase == Phase::aborting; }

    SoundRecorder* recorder;  // outlives its thread
    Phase phase = Phase::opened;
    uint32_t lastWriteTick = 0;
    uint32_t clockDeviceChanges = 0;  // the device changes the lost-sound clock has seen
    uint32_t slowCount = 0;           // slow write completions in a row
    double volumeCoeff;
    bool anyBlock = false;    // a block with sound came back since the start
    uint32_t quietWaits = 0;  // watch periods in a row without a block from the device
    uint32_t deviceRate = 0;  // of the blocks the device returns now
    uint32_t streamRate = 0;  // of the blocks last handed to the stream
    uint32_t doneRate = 0;    // of the blocks last reported written
};

class SoundRecorder : public refcounted {
public:
    static constexpr ULONG_PTR keyData = 1;
    static constexpr ULONG_PTR keyStart = 2;
    static constexpr ULONG_PTR keyPause = 3;
    static constexpr ULONG_PTR keyFinish = 4;
    static constexpr ULONG_PTR keyWriteDone = 5;
    static constexpr ULONG_PTR keyRate = 6;
    // Blocks the device holds while recording: with 100 ms blocks a capture
    // path held up for up to 0.9 s loses nothing.
    static constexpr std::size_t kDeviceBlocks = 10;
    static constexpr uint32_t kSlowMs = 150;
    static constexpr uint32_t kSlowLimit = 5;  // the sixth slow completion in a row calls the too-slow handler
    // The capture thread looks at the device whenever its queue has been
    // quiet this long; a device that has returned no block for
    // kSilentDeviceMs (kFirstBlockMs before its first block: a device may be
    // slow to begin) is lost.
    static constexpr uint32_t kWatchMs = 250;
    static constexpr uint32_t kSilentDeviceMs = 3000;
    static constexpr uint32_t kFirstBlockMs = 6000;

    // Opens the device (throws MMError "waveInOpen() failed") and starts the
    // capture thread; recording begins with start(). `backlogMs` is the sound
    // the pending list holds while the stream takes nothing.
    SoundRecorder(smartptr<IAsyncOutStream> stream, const SoundFormat& format, double volumeCoeff, unsigned bufferMs,
                  unsigned backlogMs, WaveInDevice& device = systemWaveIn(), TickSource ticks = systemTicks);
    ~SoundRecorder() override;
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // Before start: who is told that the output is too slow (nobody: traced only).
    void setTooSlowHandler(TooSlowHandler handler) { tooSlow = std::move(handler); }
    void start();
    void pause();
    // Ends the recording and waits until the capture thread has ended. Normal:
    // every recorded block has been handed to the stream and written. Abort:
    // the device is reset, nothing more is written, no write is awaited.
    void finish(bool abort = false);

    uint32_t blockBytes() const noexcept { return bufferBytes; }
    uint32_t bytesPerSecond() const noexcept { return format.nAvgBytesPerSec; }  // of the recording's format
    // The blocks that may wait for the stream: backlogMs of sound at the
    // device's current rate.
    std::size_t backlogLimit() const noexcept { return pendingLimit.load(); }
    DWORD captureThreadId() const noexcept { return thread ? thread->threadId() : 0; }

    // Counters, readable from any thread at any time.
    uint32_t blocksRecorded() const noexcept { return counters.recorded.load(); }  // non-empty blocks from the device
    uint32_t blocksWritten() const noexcept { return counters.written.load(); }    // writes handed to the stream
    uint32_t blocksDropped() const noexcept { return counters.dropped.load(); }    // lost to a full pending list
    uint32_t pendingPeak() const noexcept { return counters.pendingPeak.load(); }
    uint64_t bytesDelivered() const noexcept { return counters.bytes.load(); }  // reported written by the stream
    // The sound the stream has written, in milliseconds (over every rate).
    uint64_t recordedMs() const noexcept;
    // How often the device's rate changed during the recording.
    uint32_t rateChanges() const noexcept { return counters.rateChanges.load(); }
    // Sound lost so far: dropped blocks and sound the device never returned.
    uint64_t lostMs() const noexcept;
    // The device failed or stopped returning sound; the recording holds what came before.
    bool deviceLost() const noexcept { return lost.load(); }
    // Where the device records from (changes of the endpoint, none to record from).
    WaveInDevice::Presence devicePresence() const { return api.presence(); }
    // What the capture hears: the peaks of the latest block, the silence watch.
    const LevelMeter& levels() const noexcept { return levelMeter; }

private:
    friend class SoundThread;
    static void CALLBACK waveInProc(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                    DWORD_PTR param2);
    BlockPtr newBlock() const;
    void discard(BlockPtr block);
    void unprepare(WAVEHDR& header);
    void drainQueue();
    BlockPtr takeFromDevice(const WAVEHDR* header);
    void cutLink();
    void closeDevice();

    HWAVEIN device = nullptr;
    smartptr<CaptureQueue> queue;
    WAVEFORMATEX format{};
    smartptr<IAsyncOutStream> stream;
    smartptr<SoundThread> thread;
    std::vector<BlockPtr> inDevice;  // the blocks the device holds
    bool deviceKeepsBlocks = false;  // its reset failed: the blocks it holds are not waited for
    uint32_t bufferBytes = 0;
    uint32_t bufferMs = 0;
    unsigned backlogMs = 0;
    std::atomic<std::size_t> pendingLimit{1};
    CaptureBlock* beingWritten = nullptr;  // owned by the outstanding write's cookie
    std::deque<BlockPtr> pending;
    std::deque<BlockPtr> spare;
    int32_t bytesWritten = 0;
    CaptureClock clock;
    CallbackLink* link = nullptr;  // the callback's way to this recorder

    WaveInDevice& api;
    TickSource ticks;
    TooSlowHandler tooSlow;
    std::atomic<bool> lost{false};
    LevelMeter levelMeter;
    struct Counters {
        std::atomic<uint32_t> recorded{0};       // blocks the device returned with sound
        std::atomic<uint32_t> written{0};        // blocks handed to the stream
        std::atomic<uint32_t> dropped{0};        // blocks with sound that a full pending list turned away
        std::atomic<uint32_t> pendingPeak{0};    // most blocks ever waiting behind a write
        std::atomic<uint64_t> bytes{0};          // bytes the stream has written
        std::atomic<uint64_t> droppedFrames{0};  // the frames of the dropped blocks
        std::atomic<uint64_t> missedFrames{0};   // recorded by the device, never returned
        std::atomic<uint32_t> lostRate{0};       // the rate of the two counts above
        std::atomic<uint64_t> earlierLostMs{0};  // lost at the rates before it
        std::atomic<uint64_t> doneBytes{0};      // written at doneRate
        std::atomic<uint32_t> doneRate{0};
        std::atomic<uint64_t> earlierDoneUs{0};  // written at the rates before it
        std::atomic<uint32_t> rateChanges{0};
    } counters;
};

}  // namespace kit
