#include "sound.capture/scripted_audio.h"

#include <algorithm>
#include <cstring>

namespace testsupport {
namespace {

std::atomic<uint32_t> clockNow{1000};

struct Packet {
    std::vector<char> data;
    uint32_t frames = 0;
    DWORD flags = 0;
    uint64_t position = 0;
};

// The mix format of every scripted endpoint: 48 kHz float stereo, so that the
// capture's 44.1 kHz 16-bit stereo needs the platform's conversion.
WAVEFORMATEX mixFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.wBitsPerSample = 32;
    f.nBlockAlign = 8;
    f.nAvgBytesPerSec = 48000 * 8;
    return f;
}

bool sameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample;
}

// Whether the calling thread has COM initialised in the multithreaded apartment.
bool threadHasMtaCom() {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return hr == S_FALSE;
}

}  // namespace

uint32_t ScriptedClock::now() noexcept { return clockNow.load(); }
void ScriptedClock::set(uint32_t ms) noexcept { clockNow.store(ms); }
void ScriptedClock::advance(uint32_t ms) noexcept { clockNow.fetch_add(ms); }

// ---- the scripted COM objects ----------------------------------------------------------

class ScriptedClient final : public IAudioClient {
public:
    ScriptedClient(ScriptedAudio& audio, int endpoint)
        : audio(audio), endpoint(endpoint), owner(::GetCurrentThreadId()) {
        ++audio.live;
        std::lock_guard<std::mutex> g(audio.m);
        audio.clients.push_back(this);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IAudioClient)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IAudioClient*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        check("Release");
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID) override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("Initialize", false);
        if (FAILED(hr)) return hr;
        if (initialized) {
            audio.violation("Initialize called twice");
            return AUDCLNT_E_ALREADY_INITIALIZED;
        }
        if (!format) return E_POINTER;
        if (mode != AUDCLNT_SHAREMODE_SHARED || periodicity != 0 || (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK)) {
            audio.violation("Initialize: only shared mode without event and periodicity is scripted");
            return E_INVALIDARG;
        }
        bool loop = (flags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
        if (loop && audio.endpoints[endpoint].flow != eRender) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        if (!sameFormat(*format, mixFormat()) && !(flags & AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        initialized = true;
        loopback = loop;
        streamFormat = *format;
        audio.inits.push_back({endpoint, flags, *format, duration});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("GetBufferSize", true);
        if (SUCCEEDED(hr)) *frames = streamFormat.nSamplesPerSec * 2;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("GetStreamLatency", true);
        if (SUCCEEDED(hr)) *latency = 100000;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("GetCurrentPadding", true);
        if (SUCCEEDED(hr)) {
            *frames = 0;
            for (const Packet& p : packets) *frames += p.frames;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override {
        if (closest) *closest = nullptr;
        return format && sameFormat(*format, mixFormat()) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        if (!format) return E_POINTER;
        *format = static_cast<WAVEFORMATEX*>(::CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        **format = mixFormat();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* standard, REFERENCE_TIME* minimum) override {
        if (standard) *standard = 100000;
        if (minimum) *minimum = 30000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("Start", true);
        if (FAILED(hr)) return hr;
        if (started) return AUDCLNT_E_NOT_STOPPED;
        started = true;
        audio.changed.notify_all();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("Stop", true);
        if (FAILED(hr)) return hr;
        if (!started) return S_FALSE;
        started = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard<std::mutex> g(audio.m);
        HRESULT hr = callable("Reset", true);
        if (FAILED(hr)) return hr;
        if (started) return AUDCLNT_E_NOT_STOPPED;
        if (held) return AUDCLNT_E_BUFFER_OPERATION_PENDING;
        packets.clear();
        position = 0;
        audio.changed.notify_all();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override {
        std::lock_guard<std::mutex> g(audio.m);
        audio.violation("SetEventHandle is not scripted");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override;

    // ---- for the capture client and the script, with the lock held ----
    HRESULT callable(const char* what, bool needsInit) {
        check(what);
        if (!audio.endpoints[endpoint].present) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (needsInit && !initialized) return AUDCLNT_E_NOT_INITIALIZED;
        return S_OK;
    }
    void check(const char* what) {
        if (::GetCurrentThreadId() != owner) {
            std::lock_guard<std::mutex> g(threadCheck);
            crossThread.push_back(std::string(what) + " called from a thread other than the one that activated");
        }
    }

    ScriptedAudio& audio;
    const int endpoint;
    const DWORD owner;
    std::atomic<ULONG> refs{1};
    bool initialized = false;
    bool loopback = false;
    bool started = false;
    WAVEFORMATEX streamFormat{};
    std::deque<Packet> packets;
    bool held = false;
    uint64_t position = 0;
    std::mutex threadCheck;
    std::vector<std::string> crossThread;

private:
    ~ScriptedClient() {
        std::lock_guard<std::mutex> g(audio.m);
        for (std::string& text : crossThread) audio.violation(text);
        audio.clients.erase(std::find(audio.clients.begin(), audio.clients.end(), this));
        --audio.live;
        audio.changed.notify_all();
    }
};

class ScriptedCapture final : public IAudioCaptureClient {
public:
    explicit ScriptedCapture(ScriptedClient& client) : client(client) {
        client.AddRef();  // a service keeps its client
        ++client.audio.live;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IAudioCaptureClient)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IAudioCaptureClient*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        client.check("IAudioCaptureClient::Release");
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position,
                                        UINT64* qpc) override {
        std::lock_guard<std::mutex> g(client.audio.m);
        ++client.audio.reads;
        client.audio.changed.notify_all();
        HRESULT hr = client.callable("GetBuffer", true);
        if (FAILED(hr)) return hr;
        if (client.held) {
            client.audio.violation("GetBuffer while a packet is held");
            return AUDCLNT_E_OUT_OF_ORDER;
        }
        *frames = 0;
        if (client.packets.empty()) return AUDCLNT_S_BUFFER_EMPTY;
        Packet& p = client.packets.front();
        *data = reinterpret_cast<BYTE*>(p.data.data());
        *frames = p.frames;
        *flags = p.flags;
        if (position) *position = p.position;
        if (qpc) *qpc = 0;
        client.held = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        std::lock_guard<std::mutex> g(client.audio.m);
        HRESULT hr = client.callable("ReleaseBuffer", true);
        if (FAILED(hr)) return hr;
        if (!client.held) {
            client.audio.violation("ReleaseBuffer without GetBuffer");
            return AUDCLNT_E_OUT_OF_ORDER;
        }
        if (frames != 0 && frames != client.packets.front().frames) {
            client.audio.violation("ReleaseBuffer of a part of a packet");
            return AUDCLNT_E_INVALID_SIZE;
        }
        client.held = false;
        if (frames) client.packets.pop_front();
        client.audio.changed.notify_all();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        std::lock_guard<std::mutex> g(client.audio.m);
        HRESULT hr = client.callable("GetNextPacketSize", true);
        if (SUCCEEDED(hr)) *frames = client.packets.empty() ? 0 : client.packets.front().frames;
        return hr;
    }

private:
    ~ScriptedCapture() {
        --client.audio.live;
        client.Release();
    }
    ScriptedClient& client;
    std::atomic<ULONG> refs{1};
};

HRESULT STDMETHODCALLTYPE ScriptedClient::GetService(REFIID iid, void** out) {
    std::lock_guard<std::mutex> g(audio.m);
    HRESULT hr = callable("GetService", true);
    if (FAILED(hr)) return hr;
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
    bool render = audio.endpoints[endpoint].flow == eRender;
    if ((render && !loopback) || (loopback && audio.refuseLoopback)) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    *out = static_cast<IAudioCaptureClient*>(new ScriptedCapture(*this));
    return S_OK;
}

class ScriptedWatch final : public kit::EndpointWatch {
public:
    ScriptedWatch(ScriptedAudio& audio, HANDLE event) : audio(audio), event(event) {
        std::lock_guard<std::mutex> g(audio.m);
        audio.watchers.insert(event);
        ++audio.live;
    }
    ~ScriptedWatch() override {
        std::lock_guard<std::mutex> g(audio.m);
        audio.watchers.erase(event);
        --audio.live;
    }

private:
    ScriptedAudio& audio;
    HANDLE event;
};

// ---- ScriptedAudio ----------------------------------------------------------------------

ScriptedAudio::ScriptedAudio() {
    addEndpoint(eRender, "Speakers");
    addEndpoint(eCapture, "Microphone");
}

ScriptedAudio::~ScriptedAudio() = default;

void ScriptedAudio::violation(std::string text) { breaches.push_back(std::move(text)); }

void ScriptedAudio::notifyWatchers() {
    for (HANDLE event : watchers) ::SetEvent(event);
}

HRESULT ScriptedAudio::activateDefault(EDataFlow flow, kit::EndpointClient& endpoint) {
    int index;
    {
        std::lock_guard<std::mutex> g(m);
        if (!threadHasMtaCom()) violation("an endpoint activated on a thread without multithreaded COM");
        index = defaults[flow == eRender ? 0 : 1];
        if (index < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        endpoint.id = endpoints[index].id;
        endpoint.name = endpoints[index].name;
    }
    endpoint.client.reset(new ScriptedClient(*this, index));
    return S_OK;
}

HRESULT ScriptedAudio::defaultId(EDataFlow flow, std::wstring& id) {
    std::lock_guard<std::mutex> g(m);
    int index = defaults[flow == eRender ? 0 : 1];
    if (index < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    id = endpoints[index].id;
    return S_OK;
}

std::unique_ptr<kit::EndpointWatch> ScriptedAudio::watch(HANDLE event) {
    return std::make_unique<ScriptedWatch>(*this, event);
}

int ScriptedAudio::addEndpoint(EDataFlow flow, const std::string& name) {
    std::lock_guard<std::mutex> g(m);
    Endpoint e{flow, name, L"{scripted}." + std::to_wstring(endpoints.size()), true};
    endpoints.push_back(e);
    notifyWatchers();
    return static_cast<int>(endpoints.size()) - 1;
}

void ScriptedAudio::setDefault(EDataFlow flow, int endpoint) {
    std::lock_guard<std::mutex> g(m);
    defaults[flow == eRender ? 0 : 1] = endpoint;
    notifyWatchers();
}

void ScriptedAudio::remove(int endpoint) {
    std::lock_guard<std::mutex> g(m);
    endpoints[endpoint].present = false;
    for (int& d : defaults)
        if (d == endpoint) d = -1;
    notifyWatchers();
    changed.notify_all();
}

void ScriptedAudio::refuseLoopbackCapture(bool refuse) {
    std::lock_guard<std::mutex> g(m);
    refuseLoopback = refuse;
}

ScriptedClient* ScriptedAudio::newestStarted(int endpoint) const {
    for (auto it = clients.rbegin(); it != clients.rend(); ++it)
        if ((*it)->started && endpoints[(*it)->endpoint].present && (endpoint < 0 || (*it)->endpoint == endpoint))
            return *it;
    return nullptr;
}

bool ScriptedAudio::deliver(const int16_t* samples, uint32_t frames, DWORD flags, int endpoint, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    if (!changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return newestStarted(endpoint) != nullptr; }))
        return false;
    ScriptedClient* client = newestStarted(endpoint);
    Packet p;
    std::size_t bytes = std::size_t{frames} * client->streamFormat.nBlockAlign;
    p.data.assign(reinterpret_cast<const char*>(samples), reinterpret_cast<const char*>(samples) + bytes);
    p.frames = frames;
    p.flags = flags;
    p.position = client->position;
    client->position += frames;
    client->packets.push_back(std::move(p));
    return true;
}

void ScriptedAudio::skipFrames(uint64_t frames) {
    std::lock_guard<std::mutex> g(m);
    if (ScriptedClient* client = newestStarted(-1)) client->position += frames;
}

bool ScriptedAudio::waitDrained(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        ScriptedClient* client = newestStarted(-1);
        return !client || (client->packets.empty() && !client->held);
    });
}

bool ScriptedAudio::waitReads(unsigned n, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    uint64_t until = reads + n;
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return reads >= until; });
}

bool ScriptedAudio::waitStarted(int endpoint, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return newestStarted(endpoint) != nullptr; });
}

std::vector<ScriptedAudio::Initialization> ScriptedAudio::initializations() const {
    std::lock_guard<std::mutex> g(m);
    return inits;
}

std::vector<std::string> ScriptedAudio::violations() const {
    std::lock_guard<std::mutex> g(m);
    return breaches;
}

}  // namespace testsupport
