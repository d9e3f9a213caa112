// A wave-input device that records through WASAPI in shared mode: the same
// contract as the platform's waveIn (see wave_in_device.h), so the recorder,
// its pending list and the encoding stream stay as they are.
//
// Source: the default playback endpoint in loopback mode (what the computer
// plays), or the default recording endpoint. What reaches the blocks is
// exactly the format that open() is given (stereo, 16-bit, or 32-bit for a
// loopback recording that keeps the depth of 24-bit files). A
// loopback stream at the rate of the endpoint's mix format takes that mix
// format as it is and converts its samples (sample_convert.h), never the
// rate; any other stream asks for the format with the platform's conversion
// (AUTOCONVERTPCM | SRC_DEFAULT_QUALITY). A loopback endpoint that takes over
// during a recording (a new default device, or the device's format changed)
// at another rate is taken at its own rate too: the blocks of the old rate
// are handed back, the callback is told the new rate (kWimRateChanged), and
// the blocks that follow hold the new rate's frames. Nothing is resampled, and
// a block never holds frames of two rates.
//
// Each open device has a capture thread of its own. It initialises COM
// (multithreaded), activates the endpoint, reads the packets about every
// 20 ms and fills the queued blocks in order; a filled block goes back through
// the callback (WIM_DATA) on that thread. Every COM interface lives and is
// released on that thread, before it uninitialises COM.
//
// Silence is recorded, not skipped: while the device delivers nothing (a
// loopback stream while nothing plays, a device change) the clock adds
// silence, so the recording's length follows the time (SilenceFill).
//
// Device changes: when the default endpoint changes or the endpoint is gone
// (AUDCLNT_E_DEVICE_INVALIDATED, or any other failure of a running stream),
// the capture continues on the new default endpoint; the gap is silence and
// the events file notes it. With no endpoint at all silence is recorded and
// the thread looks for one every half second.
//
// open() fails (with the HRESULT kept in lastOpenResult()) when the stream
// cannot be set up: no endpoint, a format the endpoint refuses, or loopback
// refused (Wine 8: GetService answers AUDCLNT_E_WRONG_ENDPOINT_TYPE).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <map>
#include <memory>
#include <string>

#include "kit/clock.h"
#include "sound.capture/audio_endpoints.h"
#include "sound.capture/wave_in_device.h"

namespace kit {

// The wave-input result for a failure of the stream's set-up.
MMRESULT mmResultFor(HRESULT hr) noexcept;

class WasapiStream;

class WasapiWaveIn final : public WaveInDevice {
public:
    enum class Source { loopback, recording };

    // What a stream did.
    struct Stats {
        uint64_t deviceFrames = 0;     // frames read from the endpoint
        uint64_t silenceFrames = 0;    // frames of silence added by the clock
        uint64_t withdrawnFrames = 0;  // provisional silence the device made up for
        uint64_t stalledFrames = 0;    // silence added during a stall of the device
        uint64_t droppedFrames = 0;    // frames with no room (never in a normal recording)
        uint64_t stagedFrames = 0;     // frames waiting for a queued block now
        uint64_t polls = 0;            // rounds of the capture thread
        uint32_t deviceChanges = 0;    // capture continued on another endpoint
        uint32_t switchMs = 0;         // the latest change: ms from losing the endpoint to capturing again
        uint32_t rateChanges = 0;      // the capture went on at another rate (kWimRateChanged)
        bool searching = false;        // capturing, with no endpoint to capture from
    };

    explicit WasapiWaveIn(Source source, AudioEndpoints& endpoints = systemAudioEndpoints(),
                          TickSource ticks = systemTicks);
    ~WasapiWaveIn() override;
    WasapiWaveIn(const WasapiWaveIn&) = delete;
    WasapiWaveIn& operator=(const WasapiWaveIn&) = delete;

    MMRESULT open(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) override;
    MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) override;
    MMRESULT start(HWAVEIN device) override;
    MMRESULT stop(HWAVEIN device) override;
    MMRESULT reset(HWAVEIN device) override;
    MMRESULT close(HWAVEIN device) override;
    Presence presence() const override;

    Source source() const noexcept { return src; }
    HRESULT lastOpenResult() const noexcept { return openResult.load(); }
    // The rate of the default endpoint's mix format, where it is one the
    // capture converts (sample_convert.h); 0 when there is no such endpoint.
    // A loopback recording asks for this rate, so that only the samples are
    // converted. Callable from any thread.
    uint32_t mixRate() const;
    // The friendly name of the default endpoint ("" when there is none).
    // Callable from any thread.
    std::string deviceName() const;
    // The open stream's figures as the capture thread last published them
    // (the newest one when several are open), else the last closed stream's.
    Stats stats() const;

private:
    WasapiStream* find(HWAVEIN device) const;

    Source src;
    AudioEndpoints& endpoints;
    TickSource ticks;
    mutable std::mutex m;
    std::map<WasapiStream*, std::unique_ptr<WasapiStream>> streams;
    std::atomic<HRESULT> openResult{S_OK};
    WasapiStream* newest = nullptr;
    Stats closedStats;
};

// The process's loopback capture of the default playback endpoint.
WasapiWaveIn& wasapiLoopback() noexcept;

}  // namespace kit
