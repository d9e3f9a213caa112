// The platform's audio endpoints behind a seam, so that tests can script the
// audio client that a WASAPI capture reads.
//
// Production code uses systemAudioEndpoints(): the MMDevice enumerator, the
// default endpoint of a data flow (role eConsole) activated as an IAudioClient,
// and the enumerator's endpoint notifications. What the capture then does with
// the IAudioClient and its IAudioCaptureClient is the platform's documented
// behaviour, which a scripted client (tests/sound.capture) must honour:
//   - Initialize once (AUDCLNT_E_ALREADY_INITIALIZED after); shared mode with a
//     periodicity of 0; a format other than the mix format only with
//     AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM (else AUDCLNT_E_UNSUPPORTED_FORMAT);
//     AUDCLNT_STREAMFLAGS_LOOPBACK only on a render endpoint.
//   - GetService(IAudioCaptureClient) on a capture endpoint or a loopback
//     stream; elsewhere AUDCLNT_E_WRONG_ENDPOINT_TYPE (as Wine 8 also answers
//     on a loopback stream, where loopback is not available).
//   - Start on a stopped stream (AUDCLNT_E_NOT_STOPPED otherwise), Stop (S_FALSE
//     when already stopped), Reset only when stopped: it drops what is queued
//     and the positions start again at 0.
//   - Packets in order: GetNextPacketSize (0: none), GetBuffer (AUDCLNT_S_
//     BUFFER_EMPTY when none; AUDCLNT_E_OUT_OF_ORDER while one is held) with
//     the packet's device position (frames from the stream's start) and flags
//     (DATA_DISCONTINUITY: not continuous with the previous packet; SILENT:
//     the data is to be taken as silence), ReleaseBuffer with 0 or the whole
//     packet (AUDCLNT_E_INVALID_SIZE otherwise).
//   - A loopback stream delivers no packet while nothing plays.
//   - Once the endpoint is gone every call answers AUDCLNT_E_DEVICE_INVALIDATED.
//
// Every call, and the release of every interface, is made on the thread that
// activated the endpoint, with COM initialised there (multithreaded).
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <memory>
#include <string>

#include "kit/scoped.h"

namespace kit {

// The default endpoint of a data flow, activated.
struct EndpointClient {
    ComPtr<IAudioClient> client;
    std::wstring id;   // tells whether the default endpoint has changed
    std::string name;  // its friendly name, for the events file
};

// Watching the endpoints ends when this object goes.
class EndpointWatch {
public:
    virtual ~EndpointWatch() = default;
};

class AudioEndpoints {
public:
    virtual ~AudioEndpoints() = default;

    // Activates the default endpoint of `flow`; a failure HRESULT when there is
    // none (HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) or it cannot be activated.
    virtual HRESULT activateDefault(EDataFlow flow, EndpointClient& endpoint) = 0;
    // Activates the active endpoint number `index` of `flow`, in the platform's
    // order; HRESULT_FROM_WIN32(ERROR_NOT_FOUND) past the last. For when the
    // default endpoint cannot be used: a platform that keeps naming a removed
    // device as the default (Wine does) still lists the one that replaced it.
    virtual HRESULT activateActive(EDataFlow flow, std::size_t index, EndpointClient& endpoint) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    // The id of the default endpoint of `flow`, or a failure when there is none.
    virtual HRESULT defaultId(EDataFlow flow, std::wstring& id) = 0;
    // Sets `changed` (an event) whenever an endpoint or a default endpoint
    // changes. The notification never blocks and calls nothing back.
    virtual std::unique_ptr<EndpointWatch> watch(HANDLE changed) = 0;
};

// The platform's endpoints (MMDeviceEnumerator).
AudioEndpoints& systemAudioEndpoints() noexcept;

}  // namespace kit
