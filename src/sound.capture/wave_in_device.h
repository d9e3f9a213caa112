// The wave-input device behind a seam, so that tests can script it.
//
// Production code uses systemWaveIn(), which calls the platform's waveIn*
// functions and nothing else. A scripted implementation for tests lives under
// tests/sound.capture (ScriptedWaveIn); it must behave like the platform in
// every point listed here.
//
// What the caller guarantees:
//   - open() comes first and close() last; no call is made on a closed device.
//   - A block (WAVEHDR, 32 bytes) is prepared once before it is first added,
//     and is unprepared, freed or reused only while the device does not hold it
//     (from the WIM_DATA callback on, until it is added again).
//   - lpData points to dwBufferLength bytes that stay valid while the block is
//     prepared; dwBufferLength is a whole number of frames.
//   - Every block has come back (reset() returns them) before close().
//   - The callback only posts (it calls no waveIn function and takes no lock
//     that a waveIn caller might hold). It may write the returned block's
//     dwUser (the recorder stamps the tick of the return there).
//   - Up to SoundRecorder::kDeviceBlocks blocks (ten) are queued at a time
//     while recording; each returned block is replaced at once.
//   - Any call may fail: the caller never ends the process for it. A device
//     that keeps failing, or returns no block for seconds while started, is
//     taken as lost; the recording ends with what came before.
//   - A block the device still holds after a failed reset() is neither
//     unprepared nor freed until close() has succeeded.
//
// What an implementation must check and do:
//   - Answer MMSYSERR_NOERROR or the platform's error code; never throw.
//   - addBuffer: refuse an unprepared block (WAVERR_UNPREPARED); on success the
//     block is queued behind the others (WHDR_INQUEUE set, WHDR_DONE cleared).
//   - Fill queued blocks in order; a filled block is returned with WHDR_DONE
//     set, WHDR_INQUEUE cleared and dwBytesRecorded = the bytes it holds, by a
//     call of the callback with WIM_DATA and the block as first parameter, made
//     on a thread of the device (never on the thread that called a waveIn
//     function, and possibly while that call is still running).
//   - stop(): recording pauses; the block being filled comes back with what it
//     holds (possibly 0 bytes); the other queued blocks stay queued.
//   - reset(): recording stops and every queued block comes back, each through
//     the callback; blocks with nothing recorded have dwBytesRecorded = 0.
//   - unprepareHeader refuses a queued block (WAVERR_STILLPLAYING); close
//     refuses while blocks are queued (WAVERR_STILLPLAYING).
//   - Never change dwUser.
//   - A device whose rate changes while it records (kWimRateChanged) hands
//     back the block being filled with what it holds at the old rate first:
//     no block holds frames of two rates.
//   - Sound arriving while no block is queued is lost, as on the platform; the
//     caller finds such loss by the tick clock (it keeps enough blocks queued
//     that a short hold-up of its own loses nothing).
//   - When the device goes away (unplugged, its driver or sound server gone):
//     stop returning blocks, and answer an error from then on where the
//     platform does (Wine's waveInReset answers MMSYSERR_ERROR and keeps the
//     queued blocks; its waveInClose still succeeds).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

namespace kit {

// Sent through the callback by a device whose rate changes while it records
// (the loopback capture when the playback device changes to another rate),
// between the last block at the old rate and the first at the new one; the
// first parameter is the new rate in frames per second. The platform's wave
// input never sends it (its rate is the one it was opened with).
constexpr UINT kWimRateChanged = WIM_DATA + 0x40;

class WaveInDevice {
public:
    virtual ~WaveInDevice() = default;

    virtual MMRESULT open(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                          DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) = 0;
    virtual MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) = 0;
    virtual MMRESULT addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) = 0;
    virtual MMRESULT start(HWAVEIN device) = 0;
    virtual MMRESULT stop(HWAVEIN device) = 0;
    virtual MMRESULT reset(HWAVEIN device) = 0;
    virtual MMRESULT close(HWAVEIN device) = 0;

    // Where the device records from, while it records: how often the capture
    // moved on to another endpoint, and whether it has none to record from now
    // (it records silence until one is there). The platform's wave input keeps
    // one device: it never moves and never searches.
    struct Presence {
        uint32_t deviceChanges = 0;
        bool searching = false;
    };
    virtual Presence presence() const { return {}; }
};

// The platform's wave input (waveInOpen, waveInPrepareHeader, ...).
WaveInDevice& systemWaveIn() noexcept;

}  // namespace kit
