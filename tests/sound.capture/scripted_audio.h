// Audio endpoints driven by the test: scripted IAudioClient and
// IAudioCaptureClient objects that honour the platform's documented contract
// (see sound.capture/audio_endpoints.h) and let the test decide which
// endpoints exist, which is the default, and what packets a stream delivers.
//
//   ScriptedAudio audio;                     // "Speakers" (render) and "Microphone" (capture), both default
//   WasapiWaveIn device(WasapiWaveIn::Source::loopback, audio, ScriptedClock::now);
//   ... a SoundRecorder on `device`, started ...
//   ScriptedClock::advance(10);
//   audio.deliver(samples, 441);            // a packet for the running stream
//   audio.waitDrained();                    // the capture thread has read it
//
// Packets follow each other at the stream's device position; skipFrames()
// lets the position run on without packets (a loopback stream while nothing
// plays). remove() makes every client of an endpoint answer
// AUDCLNT_E_DEVICE_INVALIDATED; setDefault() and remove() notify the watchers.
// Breaches of the contract (a call from a thread other than the one that
// activated the endpoint, a thread without COM, a second Initialize, a
// ReleaseBuffer of a part of a packet, ...) are answered as the platform does
// and listed in violations(). liveObjects() counts the COM objects not yet
// released.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sound.capture/audio_endpoints.h"

namespace testsupport {

// A millisecond clock that only the test moves.
struct ScriptedClock {
    static uint32_t now() noexcept;
    static void set(uint32_t ms) noexcept;
    static void advance(uint32_t ms) noexcept;
};

class ScriptedClient;
class ScriptedCapture;
class ScriptedWatch;

class ScriptedAudio : public kit::AudioEndpoints {
public:
    static constexpr int kSpeakers = 0;
    static constexpr int kMicrophone = 1;

    ScriptedAudio();
    ~ScriptedAudio() override;
    ScriptedAudio(const ScriptedAudio&) = delete;
    ScriptedAudio& operator=(const ScriptedAudio&) = delete;

    // ---- the seam ----
    HRESULT activateDefault(EDataFlow flow, kit::EndpointClient& endpoint) override;
    HRESULT defaultId(EDataFlow flow, std::wstring& id) override;
    std::unique_ptr<kit::EndpointWatch> watch(HANDLE changed) override;

    // ---- scripting ----
    int addEndpoint(EDataFlow flow, const std::string& name);
    void setDefault(EDataFlow flow, int endpoint);  // -1: none
    void remove(int endpoint);
    // GetService(IAudioCaptureClient) on a loopback stream answers
    // AUDCLNT_E_WRONG_ENDPOINT_TYPE, as Wine 8 does.
    void refuseLoopbackCapture(bool refuse);
    // A packet of `frames` interleaved 16-bit frames for the newest started
    // stream (of `endpoint`; -1: of any endpoint). False on time-out.
    bool deliver(const int16_t* samples, uint32_t frames, DWORD flags = 0, int endpoint = -1, DWORD timeoutMs = 5000);
    // The newest started stream's device position runs on by `frames`.
    void skipFrames(uint64_t frames);
    // Waits until the newest started stream holds no packet.
    bool waitDrained(DWORD timeoutMs = 5000);
    // Waits until GetBuffer has been called `n` more times.
    bool waitReads(unsigned n, DWORD timeoutMs = 5000);
    bool waitStarted(int endpoint, DWORD timeoutMs = 5000);

    // ---- observation ----
    struct Initialization {
        int endpoint = -1;
        DWORD flags = 0;
        WAVEFORMATEX format{};
        REFERENCE_TIME duration = 0;
    };
    std::vector<Initialization> initializations() const;
    int liveObjects() const { return live.load(); }
    std::vector<std::string> violations() const;

private:
    friend class ScriptedClient;
    friend class ScriptedCapture;
    friend class ScriptedWatch;
    struct Endpoint {
        EDataFlow flow;
        std::string name;
        std::wstring id;
        bool present = true;
    };

    void violation(std::string text);                   // with the lock held
    void notifyWatchers();                              // with the lock held
    ScriptedClient* newestStarted(int endpoint) const;  // with the lock held

    mutable std::mutex m;
    std::condition_variable changed;
    std::vector<Endpoint> endpoints;
    int defaults[2] = {kSpeakers, kMicrophone};  // eRender, eCapture
    bool refuseLoopback = false;
    std::vector<ScriptedClient*> clients;
    std::set<HANDLE> watchers;
    std::vector<Initialization> inits;
    std::vector<std::string> breaches;
    uint64_t reads = 0;
    std::atomic<int> live{0};
};

}  // namespace testsupport
