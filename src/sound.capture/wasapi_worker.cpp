#include "sound.capture/wasapi_worker.h"

#include <algorithm>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/wasapi_capture";

constexpr REFERENCE_TIME kHnsPerMs = 10000;
constexpr std::size_t kMaxPacketsPerPoll = 256;
constexpr std::size_t kCompactBytes = 1 << 20;

const char* stateName(int state) {
    static const char* const names[] = {"stopped", "running", "lost", "closed"};
    return names[state];
}

DWORD streamFlags(bool loopback) {
    DWORD flags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    return loopback ? flags | AUDCLNT_STREAMFLAGS_LOOPBACK : flags;
}

}  // namespace

CaptureWorker::CaptureWorker(WasapiStream& stream_)
    : stream(stream_),
      setup(stream_.setup()),
      changed(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      fill(SilenceFill::Settings{stream_.setup().format.nSamplesPerSec, kSlackMs, kBufferMs, kStartMs,
                                 stream_.setup().loopback}),
      rate(stream_.setup().format.nSamplesPerSec) {}

const char* CaptureWorker::kind() const { return setup.loopback ? "playback" : "recording"; }

void CaptureWorker::enter(State next) {
    auto from = state;
    bool allowed = next == State::closed || (next == State::running && from != State::running) ||
                   (next == State::lost && from != State::lost) || (next == State::stopped && from != State::stopped);
    if (!allowed) fw::assertionFailed(kTraceSource, __LINE__, "a capture state may only change to another");
    FW_TRACE("wasapi capture: %s -> %s", stateName(static_cast<int>(from)), stateName(static_cast<int>(next)));
    state = next;
    stream.counters.searching.store(next == State::lost);
}

// The default endpoint; where it cannot be used, the first active endpoint
// that can (a platform may go on naming a removed device as the default).
HRESULT CaptureWorker::connect() {
    EDataFlow flow = setup.loopback ? eRender : eCapture;
    std::wstring failedDefault;
    HRESULT hr = connectTo([&](EndpointClient& e) { return setup.endpoints->activateDefault(flow, e); }, failedDefault);
    for (std::size_t i = 0; FAILED(hr); ++i) {
        bool listed = true;
        std::wstring failed;
        HRESULT other = connectTo(
            [&](EndpointClient& e) {
                HRESULT a = setup.endpoints->activateActive(flow, i, e);
                listed = a != HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
                return SUCCEEDED(a) && !failedDefault.empty() && e.id == failedDefault ? E_FAIL : a;
            },
            failed);
        if (!listed) break;
        if (SUCCEEDED(other)) hr = other;
    }
    return hr;  // where no endpoint can be used: why the default could not
}

template <typename Activate>
HRESULT CaptureWorker::connectTo(Activate activate, std::wstring& failedId) {
    auto next = std::make_unique<Session>();
    HRESULT hr = activate(next->endpoint);
    const char* step = "activating the endpoint";
    if (SUCCEEDED(hr)) {
        step = "Initialize";
        hr = initialize(*next);
    }
    if (SUCCEEDED(hr)) {
        step = "GetService (IAudioCaptureClient)";
        hr = next->endpoint.client->GetService(__uuidof(IAudioCaptureClient), next->capture.receiveVoid());
    }
    if (FAILED(hr)) {
        if (hr != HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
            FW_TRACE("wasapi %s capture of \"%s\": %s answered 0x%08lx", kind(), next->endpoint.name.c_str(), step,
                     static_cast<unsigned long>(hr));
        failedId = next->endpoint.id;
        return hr;  // whatever was activated is released with `next`
    }
    FW_TRACE("wasapi %s capture of \"%s\"%s", kind(), next->endpoint.name.c_str(), setup.loopback ? " (loopback)" : "");
    session = std::move(next);
    if (session->converts && session->mix.rate != rate) switchRate(session->mix.rate);
    return S_OK;
}

// Loopback takes the playback device's mix format as it is when it runs at
// the recording's rate, or, once the recording has started, when a device at
// another rate than the one before takes over (the recording's rate changes
// with it: switchRate): the samples are converted here
// (sample_convert.h) and the platform resamples nothing. Before the start at
// another rate, or in a coding that is not converted, the platform converts
// to the recording's format; a recording of 32-bit samples takes the
// platform's float then, converted here as the mix format's would be.
HRESULT CaptureWorker::initialize(Session& next) {
    IAudioClient* client = next.endpoint.client.get();
    bool wide = setup.format.wBitsPerSample == 32;
    bool stereo = setup.format.nChannels == 2 && (setup.format.wBitsPerSample == 16 || wide);
    if (setup.loopback && stereo) {
        CoTaskMem<WAVEFORMATEX> mix;
        HRESULT got = client->GetMixFormat(mix.receive());
        uint32_t before = deviceRate;
        if (SUCCEEDED(got) && mix.get()) deviceRate = mix.get()->nSamplesPerSec;
        if (SUCCEEDED(got) && mix.get() && describeMixFormat(*mix.get(), next.mix) &&
            (next.mix.rate == rate || (started && before != 0 && next.mix.rate != before))) {
            HRESULT hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                            kBufferMs * kHnsPerMs, 0, mix.get(), nullptr);
            next.converts = SUCCEEDED(hr);
            FW_TRACE("wasapi loopback at the mix format (%u channels, %u-bit %s, %u Hz): 0x%08lx",
                     unsigned{next.mix.channels}, unsigned{next.mix.containerBits},
                     next.mix.isFloat ? "float" : "integer", static_cast<unsigned>(next.mix.rate),
                     static_cast<unsigned long>(hr));
            if (hr != AUDCLNT_E_UNSUPPORTED_FORMAT) return hr;
        } else if (SUCCEEDED(got) && mix.get()) {
            FW_TRACE("wasapi loopback: mix format %u Hz, tag 0x%04x, %u-bit; the platform converts",
                     static_cast<unsigned>(mix.get()->nSamplesPerSec), unsigned{mix.get()->wFormatTag},
                     unsigned{mix.get()->wBitsPerSample});
        }
    }
    WAVEFORMATEX format = setup.format;  // at the rate the recording has now
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    if (setup.loopback && stereo && wide) {  // 32-bit samples are made here, from the platform's float
        format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        next.mix = SampleLayout{2, 32, true, rate};
        HRESULT hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags(setup.loopback), kBufferMs * kHnsPerMs, 0,
                                        &format, nullptr);
        next.converts = SUCCEEDED(hr);
        return hr;
    }
    return client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags(setup.loopback), kBufferMs * kHnsPerMs, 0, &format,
                              nullptr);
}

void CaptureWorker::loop() {
    watch = setup.endpoints->watch(changed.get());
    while (state != State::closed) {
        HANDLE handles[2] = {stream.wakeEvent(), changed.get()};
        DWORD timeout = state == State::running || state == State::lost ? kPollMs : INFINITE;
        DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (woke == WAIT_OBJECT_0 + 1) endpointsChanged();
        WasapiStream::Command command = stream.takeCommand();
        if (command != WasapiStream::Command::none) {
            serve(command);
        } else {
            poll();
        }
    }
    session.reset();
    watch.reset();
    publishCounters();
    FW_TRACE(
        "wasapi capture closed: %llu frames from the device, %llu of silence (%llu withdrawn), %llu dropped, "
        "%u device changes, %u changes of rate",
        static_cast<unsigned long long>(stream.counters.deviceFrames.load()),
        static_cast<unsigned long long>(fill.silence()), static_cast<unsigned long long>(fill.withdrawn()),
        static_cast<unsigned long long>(stream.counters.droppedFrames.load()), stream.counters.deviceChanges.load(),
        stream.counters.rateChanges.load());
}

void CaptureWorker::serve(WasapiStream::Command command) {
    switch (command) {
    case WasapiStream::Command::start: start(); break;
    case WasapiStream::Command::stop: stop(false); break;
    case WasapiStream::Command::reset: stop(true); break;
    case WasapiStream::Command::close:
        if (session) session->endpoint.client->Stop();
        enter(State::closed);
        stream.notify(WIM_CLOSE);
        break;
    case WasapiStream::Command::none: break;
    }
    publishCounters();
    stream.complete(MMSYSERR_NOERROR);
}

void CaptureWorker::start() {
    if (state == State::running || state == State::lost) return;
    uint32_t now = setup.ticks();
    fill.start(now);
    started = true;
    if (!session) {
        lostAt = now;
        enter(State::lost);
        reconnect(now);
        return;
    }
    HRESULT hr = session->endpoint.client->Start();
    if (FAILED(hr)) {
        lose(hr, "Start");
        return;
    }
    enter(State::running);
}

// Stop: what was recorded up to now (and the silence owed) goes into the
// blocks, and the block being filled comes back. Reset: every block comes
// back, the endpoint drops what it still holds and its positions restart.
void CaptureWorker::stop(bool reset) {
    bool capturing = state == State::running || state == State::lost;
    uint32_t now = setup.ticks();
    if (state == State::running) readPackets(now);
    if (state == State::running && changing) changeHeld();  // it answered up to the end
    if (capturing) {
        append(nullptr, fill.stop(now));
        if (session) session->endpoint.client->Stop();
        enter(State::stopped);
    }
    deliver();
    if (capturing || reset) {
        for (WAVEHDR* block : stream.take(reset)) stream.handBack(block);
    }
    if (reset) {
        discardStaged();
        if (session) session->endpoint.client->Reset();
        fill.newStream(false);
    }
}

void CaptureWorker::poll() {
    uint32_t now = setup.ticks();
    if (state == State::running) {
        if (!readPackets(now) && state == State::running) append(nullptr, fill.quiet(now, quietRoom()));
    } else if (state == State::lost) {
        append(nullptr, fill.absent(now));
        if (now - lastAttempt >= kRetryMs) reconnect(now);
    }
    deliver();
    stream.counters.polls.fetch_add(1);
    publishCounters();
}

// Every packet the endpoint holds now, each after the silence that belongs
// before it. True when there was at least one.
bool CaptureWorker::readPackets(uint32_t now) {
    std::size_t count = 0;
    for (; count < kMaxPacketsPerPoll; ++count) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0;
        UINT64 qpc = 0;
        HRESULT hr = session->capture->GetBuffer(&data, &frames, &flags, &position, &qpc);
        if (hr == AUDCLNT_S_BUFFER_EMPTY) {
            if (changing && now - changedAt >= kHoldMs) changeHeld();
            break;
        }
        if (FAILED(hr)) {
            lose(hr, "GetBuffer");
            return count > 0;
        }
        if (changing) changeHeld();
        append(nullptr, fill.packet(now, position, frames, (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0));
        if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) || !data) {
            append(nullptr, frames);
        } else if (session->converts && setup.format.wBitsPerSample == 32) {
            converted32.resize(std::size_t{frames} * 2);
            convertTo32Stereo(session->mix, data, frames, converted32.data());
            append(reinterpret_cast<const BYTE*>(converted32.data()), frames);
        } else if (session->converts) {
            converted.resize(std::size_t{frames} * 2);
            convertTo16Stereo(session->mix, data, frames, converted.data());
            append(reinterpret_cast<const BYTE*>(converted.data()), frames);
        } else {
            append(data, frames);
        }
        stream.counters.deviceFrames.fetch_add(frames);
        hr = session->capture->ReleaseBuffer(frames);
        if (FAILED(hr)) {
            lose(hr, "ReleaseBuffer");
            return true;
        }
    }
    return count > 0;
}

// The endpoint is gone, failed, or is no longer the default: capture goes on
// with silence until the default endpoint is there. An endpoint taken since
// the last loss that failed before it answered once is no change: the loss
// goes on from where it began.
void CaptureWorker::lose(HRESULT why, const char* call) {
    const char* what = why == AUDCLNT_E_DEVICE_INVALIDATED ? "is gone"
                       : why == S_OK                       ? "is no longer the default"
                                                           : "failed";
    std::string name = session ? session->endpoint.name : std::string();
    if (changing) {
        FW_TRACE("the %s device \"%s\" taken in its place %s too (%s: 0x%08lx)", kind(), name.c_str(), what, call,
                 static_cast<unsigned long>(why));
    } else {
        FW_LOG(fw::LEVEL_WARN, "CaptureDeviceLost",
               "the %s device \"%s\" %s (%s: 0x%08lx); silence is recorded until the "
               "capture continues on the default device",
               kind(), name.c_str(), what, call, static_cast<unsigned long>(why));
        lostAt = setup.ticks();
    }
    changing = false;
    if (session) session->endpoint.client->Stop();
    session.reset();
    fill.newStream(true);
    searchNoted = false;
    enter(State::lost);
    reconnect(setup.ticks());
}

// The capture goes on on the endpoint found; the change counts once the
// endpoint holds (changeHeld): it delivers a packet, or answers for kHoldMs, or
// up to the end of the recording. Until then the capture still searches.
void CaptureWorker::reconnect(uint32_t now) {
    lastAttempt = now;
    HRESULT hr = connect();
    if (SUCCEEDED(hr)) {
        hr = session->endpoint.client->Start();
        if (FAILED(hr)) session.reset();
    }
    if (FAILED(hr)) {
        if (!searchNoted) FW_TRACE("no %s device to continue on yet (0x%08lx)", kind(), static_cast<unsigned long>(hr));
        searchNoted = true;
        return;
    }
    changing = true;
    changedAt = setup.ticks();
    enter(State::running);
    stream.counters.searching.store(true);  // until the endpoint holds
}

void CaptureWorker::changeHeld() {
    changing = false;
    stream.counters.searching.store(false);
    stream.counters.deviceChanges.fetch_add(1);
    uint32_t without = changedAt - lostAt;
    stream.counters.switchMs.store(without);
    FW_LOG(fw::LEVEL_WARN, "CaptureDeviceChanged",
           "the recording continues on the %s device \"%s\" (%u ms without one)", kind(),
           session->endpoint.name.c_str(), static_cast<unsigned>(without));
}

void CaptureWorker::endpointsChanged() {
    if (state == State::lost) {
        reconnect(setup.ticks());
        return;
    }
    std::wstring id;
    HRESULT hr = setup.endpoints->defaultId(setup.loopback ? eRender : eCapture, id);
    if (session && SUCCEEDED(hr) && id == session->endpoint.id) return;  // not ours
    if (state == State::running) {
        uint32_t changes = stream.counters.deviceChanges.load();
        readPackets(setup.ticks());  // what the old endpoint still holds; a gone endpoint shows here
        if (state == State::running && stream.counters.deviceChanges.load() == changes)
            lose(S_OK, "the default endpoint changed");
    } else if (state == State::stopped) {
        session.reset();  // the next start takes the new default
        if (SUCCEEDED(connect())) fill.newStream(false);
    }
}

// The frames staged from here on are at `next`: the silence owed up to now
// goes in at the old rate first.
void CaptureWorker::switchRate(uint32_t next) {
    append(nullptr, fill.changeRate(setup.ticks(), next));
    FW_LOG(fw::LEVEL_WARN, "CaptureRateChanged",
           "the %s device runs at %u Hz (the recording so far: %u Hz): the recording goes on at that rate", kind(),
           static_cast<unsigned>(next), static_cast<unsigned>(rate));
    rateChanges.push_back({staging.size(), next});
    rate = next;
    stream.counters.rateChanges.fetch_add(1);
}

void CaptureWorker::append(const BYTE* data, uint64_t frames) {
    if (frames == 0) return;
    uint64_t bytes = frames * setup.format.nBlockAlign;
    uint64_t limit = uint64_t{rate} * setup.format.nBlockAlign * 10;
    if (staging.size() - head + bytes > limit) {
        stream.counters.droppedFrames.fetch_add(frames);
        if (!overrunNoted)
            FW_LOG(fw::LEVEL_WARN, "CaptureOverrun", "no block to record into for 10 s: %llu frames dropped",
                   static_cast<unsigned long long>(frames));
        overrunNoted = true;
        return;
    }
    overrunNoted = false;
    if (data) {
        staging.insert(staging.end(), reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + bytes);
    } else {
        staging.resize(staging.size() + bytes, 0);
    }
}

// The staged frames into the queued blocks, in order. At a change of rate
// the block being filled goes back with the old rate's last frames, and the
// recorder learns the new rate before any block that holds it.
void CaptureWorker::deliver() {
    std::vector<WAVEHDR*> full;
    for (;;) {
        std::size_t end = rateChanges.empty() ? staging.size() : rateChanges.front().at;
        if (head < end) head += stream.fill(staging.data() + head, end - head, full);
        if (head < end || rateChanges.empty()) break;
        if (WAVEHDR* partial = stream.takePartial()) full.push_back(partial);
        for (WAVEHDR* block : full) stream.handBack(block);
        full.clear();
        stream.notify(kWimRateChanged, rateChanges.front().rate);
        rateChanges.pop_front();
    }
    if (head == staging.size() || head >= kCompactBytes) {
        staging.erase(staging.begin(), staging.begin() + static_cast<std::ptrdiff_t>(head));
        for (RateChange& change : rateChanges) change.at -= head;
        head = 0;
    }
    for (WAVEHDR* block : full) stream.handBack(block);
}

uint64_t CaptureWorker::room() const {
    std::size_t free = stream.freeBytes();
    std::size_t staged = staging.size() - head;
    return free > staged ? (free - staged) / setup.format.nBlockAlign : 0;
}

uint64_t CaptureWorker::quietRoom() const {
    return std::min<uint64_t>(room(), SilenceFill::framesIn(kQuietRoomMs, rate));
}

void CaptureWorker::discardStaged() {
    std::size_t bytes = staging.size() - head;
    if (bytes) {
        stream.counters.droppedFrames.fetch_add(bytes / setup.format.nBlockAlign);
        FW_TRACE("reset: %llu frames had no block", static_cast<unsigned long long>(bytes / setup.format.nBlockAlign));
    }
    staging.clear();
    head = 0;
    // The rate the next frames have, though the frames before it are gone.
    if (!rateChanges.empty()) stream.notify(kWimRateChanged, rateChanges.back().rate);
    rateChanges.clear();
}

void CaptureWorker::publishCounters() {
    stream.counters.silenceFrames.store(fill.silence());
    stream.counters.withdrawnFrames.store(fill.withdrawn());
    stream.counters.stagedFrames.store((staging.size() - head) / setup.format.nBlockAlign);
    if (fill.stalled() > stream.counters.stalledFrames.load()) {
        FW_LOG(fw::LEVEL_WARN, "CaptureStall",
               "the %s device delivered late: %llu ms of silence were put in before it "
               "caught up (no sample is lost; what follows comes that much later)",
               kind(),
               static_cast<unsigned long long>((fill.stalled() - stream.counters.stalledFrames.load()) * 1000 / rate));
        stream.counters.stalledFrames.store(fill.stalled());
    }
}

}  // namespace kit
