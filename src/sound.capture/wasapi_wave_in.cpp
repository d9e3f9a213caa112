#include "sound.capture/wasapi_wave_in.h"

#include <memory>

#include "diagnostics/eventlog.h"
#include "kit/scoped.h"
#include "sound.capture/sample_convert.h"
#include "sound.capture/wasapi_stream.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/wasapi_capture";

bool consistentPcm(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels != 0 && f.wBitsPerSample % 8 == 0 && f.wBitsPerSample &&
           f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 && f.nAvgBytesPerSec == f.nBlockAlign * f.nSamplesPerSec;
}

}  // namespace

MMRESULT mmResultFor(HRESULT hr) noexcept {
    switch (hr) {
    case S_OK: return MMSYSERR_NOERROR;
    case AUDCLNT_E_UNSUPPORTED_FORMAT: return WAVERR_BADFORMAT;
    case E_OUTOFMEMORY: return MMSYSERR_NOMEM;
    case AUDCLNT_E_DEVICE_IN_USE: return MMSYSERR_ALLOCATED;
    case HRESULT_FROM_WIN32(ERROR_NOT_FOUND):
    case AUDCLNT_E_DEVICE_INVALIDATED: return MMSYSERR_NODRIVER;
    case AUDCLNT_E_WRONG_ENDPOINT_TYPE:
    case E_INVALIDARG:
    case E_NOTIMPL:
    case E_NOINTERFACE:
    case REGDB_E_CLASSNOTREG: return MMSYSERR_NOTSUPPORTED;
    default: return MMSYSERR_ERROR;
    }
}

uint32_t WasapiWaveIn::mixRate() const {
    ComApartment com;  // where this thread has none (an apartment it has already is used as it is)
    EndpointClient endpoint;
    if (FAILED(endpoints.activateDefault(src == Source::loopback ? eRender : eCapture, endpoint))) return 0;
    CoTaskMem<WAVEFORMATEX> mix;
    SampleLayout layout;
    if (FAILED(endpoint.client->GetMixFormat(mix.receive())) || !mix.get() || !describeMixFormat(*mix.get(), layout))
        return 0;
    return layout.rate;
}

std::string WasapiWaveIn::deviceName() const {
    ComApartment com;
    EndpointClient endpoint;
    if (FAILED(endpoints.activateDefault(src == Source::loopback ? eRender : eCapture, endpoint))) return {};
    return endpoint.name;
}

WasapiWaveIn::WasapiWaveIn(Source source, AudioEndpoints& endpoints_, TickSource ticks_)
    : src(source), endpoints(endpoints_), ticks(ticks_) {}

// Streams their users left open are closed with the device.
WasapiWaveIn::~WasapiWaveIn() = default;

WasapiStream* WasapiWaveIn::find(HWAVEIN device) const {
    std::lock_guard<std::mutex> g(m);
    auto* stream = reinterpret_cast<WasapiStream*>(device);
    return streams.count(stream) ? stream : nullptr;
}

MMRESULT WasapiWaveIn::open(HWAVEIN* device, UINT, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
    if (!device || !format || !callback || (flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION) return MMSYSERR_INVALPARAM;
    if (!consistentPcm(*format)) return WAVERR_BADFORMAT;
    CaptureSetup setup;
    setup.loopback = src == Source::loopback;
    setup.format = *format;
    setup.format.cbSize = 0;
    setup.callback = reinterpret_cast<WaveInProc>(callback);
    setup.instance = instance;
    setup.endpoints = &endpoints;
    setup.ticks = ticks;
    auto stream = std::make_unique<WasapiStream>(setup);
    HRESULT hr = stream->open();
    openResult.store(hr);
    if (FAILED(hr)) {
        FW_TRACE("wasapi %s capture not available: 0x%08lx", setup.loopback ? "loopback" : "recording",
                 static_cast<unsigned long>(hr));
        MMRESULT r = mmResultFor(hr);
        return r == MMSYSERR_NOERROR ? MMSYSERR_ERROR : r;
    }
    std::lock_guard<std::mutex> g(m);
    *device = stream->handle();
    WasapiStream* key = stream.get();
    newest = key;
    streams.emplace(key, std::move(stream));
    return MMSYSERR_NOERROR;
}

MMRESULT WasapiWaveIn::prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) {
    WasapiStream* s = find(device);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return s->prepare(block);
}

MMRESULT WasapiWaveIn::unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) {
    WasapiStream* s = find(device);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return s->unprepare(block);
}

MMRESULT WasapiWaveIn::addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) {
    WasapiStream* s = find(device);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!block || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return s->add(block);
}

MMRESULT WasapiWaveIn::start(HWAVEIN device) {
    WasapiStream* s = find(device);
    return s ? s->command(WasapiStream::Command::start) : MMSYSERR_INVALHANDLE;
}

MMRESULT WasapiWaveIn::stop(HWAVEIN device) {
    WasapiStream* s = find(device);
    return s ? s->command(WasapiStream::Command::stop) : MMSYSERR_INVALHANDLE;
}

MMRESULT WasapiWaveIn::reset(HWAVEIN device) {
    WasapiStream* s = find(device);
    return s ? s->command(WasapiStream::Command::reset) : MMSYSERR_INVALHANDLE;
}

MMRESULT WasapiWaveIn::close(HWAVEIN device) {
    WasapiStream* s = find(device);
    if (!s) return MMSYSERR_INVALHANDLE;
    MMRESULT r = s->close();
    if (r != MMSYSERR_NOERROR) return r;
    std::lock_guard<std::mutex> g(m);
    closedStats = s->stats();
    if (newest == s) newest = nullptr;
    streams.erase(s);
    return MMSYSERR_NOERROR;
}

WasapiWaveIn::Stats WasapiWaveIn::stats() const {
    std::lock_guard<std::mutex> g(m);
    return newest ? newest->stats() : closedStats;
}

WaveInDevice::Presence WasapiWaveIn::presence() const {
    Stats s = stats();
    return {s.deviceChanges, s.searching};
}

WasapiWaveIn& wasapiLoopback() noexcept {
    static WasapiWaveIn device(WasapiWaveIn::Source::loopback);
    return device;
}

}  // namespace kit
