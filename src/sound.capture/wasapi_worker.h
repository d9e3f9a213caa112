// The capture thread of one WASAPI wave-input device (internal to
// sound.capture). It lives on the stack of that thread, after COM has been
// initialised there, so every interface it holds is released on that thread
// before COM is uninitialised.
//
// States, changed only by enter():
//   stopped  - not capturing (after open, stop, reset)
//   running  - reading packets from the endpoint
//   lost     - capturing, but the endpoint is gone or has been replaced: the
//              clock records silence and the thread looks for the default
//              endpoint every kRetryMs
//   closed   - the thread ends
//
// Rate: a loopback endpoint taken once the recording has started whose mix
// format runs at another rate than the endpoint's before is captured at its
// own rate (switchRate): the frames staged before it are delivered at the
// old rate, the block being filled goes back with them, the recorder is told
// the new rate (kWimRateChanged), and the frames after it follow in the next
// blocks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kit/scoped.h"
#include "sound.capture/audio_endpoints.h"
#include "sound.capture/sample_convert.h"
#include "sound.capture/silence_fill.h"
#include "sound.capture/wasapi_stream.h"

namespace kit {

class CaptureWorker {
public:
    static constexpr DWORD kPollMs = 20;
    static constexpr DWORD kRetryMs = 100;
    static constexpr uint32_t kHoldMs = 200;  // an endpoint taken after a loss that answers this long holds
    static constexpr uint32_t kSlackMs = 100;
    static constexpr uint32_t kBufferMs = 2000;  // the endpoint's buffer, and how long silence stays provisional
    static constexpr uint32_t kStartMs = 1000;   // how long a stream may take to deliver its first packet
    // Silence stays provisional in at most this much of the waiting blocks,
    // however many the recorder queues: the blocks come back at the clock's
    // pace during a quiet, and the recorder takes blocks that come back later
    // than that as sound lost by the device.
    static constexpr uint32_t kQuietRoomMs = 200;

    explicit CaptureWorker(WasapiStream& stream);
    CaptureWorker(const CaptureWorker&) = delete;
    CaptureWorker& operator=(const CaptureWorker&) = delete;

    // Sets up the stream on the default endpoint; a failure answers open().
    HRESULT connect();
    // Serves commands and reads packets until the device is closed.
    void loop();

private:
    enum class State { stopped, running, lost, closed };
    struct Session {
        EndpointClient endpoint;
        ComPtr<IAudioCaptureClient> capture;
        // Loopback at the mix format: its samples become the recording's here.
        bool converts = false;
        SampleLayout mix;
    };

    template <typename Activate>
    HRESULT connectTo(Activate activate, std::wstring& failedId);
    HRESULT initialize(Session& next);
    void enter(State next);
    void serve(WasapiStream::Command command);
    void start();
    void stop(bool reset);
    void poll();
    bool readPackets(uint32_t now);
    void lose(HRESULT why, const char* call);
    void reconnect(uint32_t now);
    void changeHeld();
    void endpointsChanged();
    void switchRate(uint32_t next);
    void append(const BYTE* data, uint64_t frames);  // null data: silence
    void deliver();
    void discardStaged();
    uint64_t room() const;       // frames the queued blocks can take beyond what is staged
    uint64_t quietRoom() const;  // room(), at most kQuietRoomMs of it
    void publishCounters();
    const char* kind() const;

    WasapiStream& stream;
    const CaptureSetup& setup;
    ScopedHandle changed;  // set by the endpoint notifications
    std::unique_ptr<EndpointWatch> watch;
    std::unique_ptr<Session> session;
    SilenceFill fill;
    std::vector<char> staging;  // frames waiting for a queued block, from `head` on
    std::size_t head = 0;
    // Where the staged frames change rate: the staging offset and the new rate.
    struct RateChange {
        std::size_t at;
        uint32_t rate;
    };
    std::deque<RateChange> rateChanges;
    uint32_t rate;                     // of the frames staged last
    bool started = false;              // the recording has started: a new rate goes into new blocks
    uint32_t deviceRate = 0;           // the mix format's rate of the endpoint set up last
    std::vector<int16_t> converted;    // one packet in the recording's format (2 x 16 bits)...
    std::vector<int32_t> converted32;  // ...or 2 x 32 bits
    State state = State::stopped;
    uint32_t lastAttempt = 0;
    uint32_t lostAt = 0;    // when the endpoint was lost
    bool changing = false;  // running on an endpoint taken after a loss that does not hold yet
    uint32_t changedAt = 0;
    bool searchNoted = false;
    bool overrunNoted = false;
};

}  // namespace kit
