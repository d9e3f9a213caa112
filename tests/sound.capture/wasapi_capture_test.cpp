// The WASAPI capture on scripted endpoints: the real capture thread reads a
// scripted audio client that behaves as the platform documents, and the real
// recorder, stream and WAV encoder write what it delivers. The clock is the
// test's: a packet of the stream is delivered once the clock has reached its
// end, the way a device delivers what it has recorded.
#include <gmock/gmock.h>

#include <mutex>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "kit/exceptions.h"
#include "sound.capture/scripted_audio.h"
#include "sound.capture/silence_fill.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/wasapi_wave_in.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using kit::smartptr;
using kit::WasapiWaveIn;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testsupport::ScriptedAudio;
using testsupport::ScriptedClock;
using testsupport::waitUntil;

constexpr uint32_t kRate = 44100;
constexpr uint64_t kSlackFrames = 4410;  // the 100 ms a device may lag before it owes silence
constexpr uint32_t kStart = 100000;

uint64_t framesIn(uint64_t ms) { return kit::SilenceFill::framesIn(ms, kRate); }

std::vector<int16_t> slice(const std::vector<int16_t>& s, std::size_t fromFrame, std::size_t frames) {
    return std::vector<int16_t>(s.begin() + static_cast<std::ptrdiff_t>(fromFrame * 2),
                                s.begin() + static_cast<std::ptrdiff_t>((fromFrame + frames) * 2));
}

// A recording through the WASAPI device on scripted endpoints.
struct Rig {
    explicit Rig(WasapiWaveIn::Source source = WasapiWaveIn::Source::loopback)
        : device(source, audio, ScriptedClock::now) {
        ScriptedClock::set(kStart);
    }
    ~Rig() {
        if (recorder) recorder->finish(true);
        if (stream) stream->finish(true);
    }

    void record() {
        kit::SoundFormat format = kit::kRecordingFormat;
        stream = new kit::GenericSoundEncodingStream(
            smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format)));
        recorder = new kit::SoundRecorder(stream, format, 1.0, 100, 10000, device);
        recorder->start();
        ASSERT_TRUE(audio.waitStarted(-1));
    }
    // Frames of `signal` in packets of `packetFrames`, each delivered when the
    // clock has reached its end and read before the next.
    void play(const std::vector<int16_t>& signal, uint32_t packetFrames, int endpoint = -1, DWORD firstFlags = 0) {
        std::size_t frames = signal.size() / 2;
        for (std::size_t at = 0; at < frames; at += packetFrames) {
            uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(packetFrames, frames - at));
            playedFrames += n;
            ScriptedClock::set(kStart + static_cast<uint32_t>(playedFrames * 1000 / kRate) + quietMs);
            ASSERT_TRUE(audio.deliver(signal.data() + at * 2, n, at == 0 ? firstFlags : 0, endpoint));
            ASSERT_TRUE(audio.waitDrained());
        }
    }
    // Nothing is delivered for `ms`. The clock moves in steps of 50 ms, as
    // time does: after each the capture thread has polled and handed on what
    // it owes.
    void quiet(uint32_t ms) {
        for (uint32_t step = 0; step < ms; step += 50) {
            quietMs += std::min<uint32_t>(50, ms - step);
            ScriptedClock::set(kStart + static_cast<uint32_t>(playedFrames * 1000 / kRate) + quietMs);
            settle();
        }
    }
    void settle() {
        uint64_t polls = device.stats().polls;
        ASSERT_TRUE(waitUntil(
            [&] {
                WasapiWaveIn::Stats s = device.stats();
                return s.polls >= polls + 2 && s.stagedFrames == 0;
            },
            5000));
    }
    uint32_t elapsedMs() const { return ScriptedClock::now() - kStart; }
    testsupport::WavFile finish() {
        settle();  // what the device delivered has reached the blocks
        recorder->finish();
        stream->finish();
        recorder.reset();
        stream.reset();
        return testsupport::readWav(path);
    }

    testsupport::TempDir dir;
    std::string path = dir.file("take.wav");
    ScriptedAudio audio;
    WasapiWaveIn device;
    smartptr<kit::GenericSoundEncodingStream> stream;
    smartptr<kit::SoundRecorder> recorder;
    testsupport::EventsFile events;
    uint64_t playedFrames = 0;
    uint32_t quietMs = 0;
};

// The recording is `parts` one after the other: signals, and runs of zeros.
void expectRecording(const std::vector<int16_t>& recorded, const std::vector<std::vector<int16_t>>& parts) {
    std::vector<int16_t> expected;
    for (const auto& p : parts) expected.insert(expected.end(), p.begin(), p.end());
    ASSERT_EQ(recorded.size(), expected.size()) << "frames recorded";
    std::size_t first = 0;
    while (first < expected.size() && recorded[first] == expected[first]) ++first;
    EXPECT_EQ(first, expected.size()) << "the recording departs at frame " << first / 2;
}

std::vector<int16_t> zeros(uint64_t frames) { return std::vector<int16_t>(frames * 2, 0); }

void expectClean(Rig& rig) {
    EXPECT_EQ(rig.audio.liveObjects(), 0) << "every interface is released";
    EXPECT_THAT(rig.audio.violations(), IsEmpty());
}

TEST(WasapiCapture, TheLoopbackStreamAsksForCdFormatWithThePlatformsConversionAndRecordsItExactly) {
    Rig rig;
    rig.record();
    std::vector<ScriptedAudio::Initialization> inits = rig.audio.initializations();
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].endpoint, ScriptedAudio::kSpeakers) << "the default playback endpoint";
    EXPECT_EQ(inits[0].flags, static_cast<DWORD>(AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                                 AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY));
    EXPECT_EQ(inits[0].format.wFormatTag, WAVE_FORMAT_PCM) << "not the endpoint's 48 kHz float mix format";
    EXPECT_EQ(inits[0].format.nSamplesPerSec, 44100u);
    EXPECT_EQ(inits[0].format.wBitsPerSample, 16);
    EXPECT_EQ(inits[0].format.nChannels, 2);

    // Packets of a size unrelated to the 100 ms blocks; one of them marked silent.
    std::vector<int16_t> signal = testsupport::pseudoRandomSignal(kRate, 31);
    std::vector<int16_t> silentPart = slice(signal, 9000, 1000);
    rig.play(slice(signal, 0, 9000), 1000);
    rig.play(silentPart, 1000, -1, AUDCLNT_BUFFERFLAGS_SILENT);
    rig.play(slice(signal, 10000, kRate - 10000), 1000);
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {slice(signal, 0, 9000), zeros(1000), slice(signal, 10000, kRate - 10000)});
    EXPECT_EQ(rig.device.stats().silenceFrames, 0u);
    expectClean(rig);
}

TEST(WasapiCapture, JitterNeitherDuplicatesNorDropsASample) {
    Rig rig;
    rig.record();
    std::vector<int16_t> signal = testsupport::pseudoRandomSignal(2 * kRate, 7);
    // Packets of 10 ms that come in bursts, up to 90 ms late.
    std::size_t frames = signal.size() / 2;
    for (std::size_t at = 0, burst = 0; at < frames; ++burst) {
        std::size_t count = burst % 2 ? 9 : 3;
        rig.quiet(count * 10);
        for (std::size_t i = 0; i < count && at < frames; ++i, at += 441) {
            uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(441, frames - at));
            ASSERT_TRUE(rig.audio.deliver(signal.data() + at * 2, n));
        }
        ASSERT_TRUE(rig.audio.waitDrained());
    }
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {signal});
    EXPECT_EQ(rig.device.stats().silenceFrames, 0u);
    expectClean(rig);
}

// A stall longer than the blocks waiting in the device can hold: the clock
// has put silence in by the time the device delivers what it recorded.
TEST(WasapiCapture, AStallPutsInSilenceButLosesNoSample) {
    Rig rig;
    rig.record();
    std::vector<int16_t> signal = testsupport::pseudoRandomSignal(kRate, 17);
    std::size_t half = kRate / 2;
    rig.play(slice(signal, 0, half), 441);
    rig.quiet(600);
    for (std::size_t at = half; at < kRate; at += 441) {
        ASSERT_TRUE(
            rig.audio.deliver(signal.data() + at * 2, static_cast<uint32_t>(std::min<std::size_t>(441, kRate - at))));
    }
    ASSERT_TRUE(rig.audio.waitDrained());
    testsupport::WavFile w = rig.finish();
    WasapiWaveIn::Stats stats = rig.device.stats();
    ASSERT_GT(stats.stalledFrames, 0u);
    EXPECT_LT(stats.stalledFrames, framesIn(600));
    expectRecording(w.samples, {slice(signal, 0, half), zeros(stats.stalledFrames), slice(signal, half, kRate - half)});
    EXPECT_THAT(rig.events.added(), HasSubstr("the playback device delivered late"));
    expectClean(rig);
}

TEST(WasapiCapture, WhileNothingPlaysTheClockRecordsSilence) {
    Rig rig;
    rig.record();
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate, 1);
    std::vector<int16_t> b = testsupport::pseudoRandomSignal(kRate / 2, 2);
    rig.play(a, 1323);
    uint32_t before = rig.recorder->blocksRecorded();
    rig.quiet(4000);
    EXPECT_GE(rig.recorder->blocksRecorded(), before + 36) << "silence is handed on while the quiet lasts";
    rig.play(b, 1323, -1, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY);
    // The first packet of b (30 ms) is read when the clock is at 5030 ms.
    uint64_t silence = framesIn(1000 + 4000 + 30) - kSlackFrames - kRate;
    testsupport::WavFile w = rig.finish();
    // The quiet up to the clock minus the lag a device may have.
    expectRecording(w.samples, {a, zeros(silence), b});
    EXPECT_EQ(rig.device.stats().silenceFrames, silence);
    expectClean(rig);
}

TEST(WasapiCapture, APositionThatRanOnDuringTheQuietPlacesTheSoundExactly) {
    Rig rig;
    rig.record();
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate / 2, 3);
    std::vector<int16_t> b = testsupport::pseudoRandomSignal(kRate / 2, 4);
    rig.play(a, 441);
    rig.quiet(3000);
    rig.audio.skipFrames(framesIn(3000));
    rig.play(b, 441, -1, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY);
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {a, zeros(framesIn(3000)), b});
    expectClean(rig);
}

TEST(WasapiCapture, ARecordingOfNothingHasTheLengthOfTheTimeRecorded) {
    Rig rig;
    rig.record();
    rig.quiet(5000);
    EXPECT_GE(rig.recorder->blocksRecorded(), 46u) << "silence is handed on while the quiet lasts";
    EXPECT_EQ(rig.recorder->lostMs(), 0u) << "the recorder takes no quiet for lost sound";
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {zeros(framesIn(5000))});
    expectClean(rig);
}

TEST(WasapiCapture, UnpluggedHeadphonesAreFollowedByTheNewDefaultDevice) {
    Rig rig;
    int headphones = rig.audio.addEndpoint(eRender, "Headphones");
    rig.audio.setDefault(eRender, headphones);
    rig.record();
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate / 2, 5);
    std::vector<int16_t> b = testsupport::pseudoRandomSignal(kRate / 2, 6);
    rig.play(a, 441, headphones);
    rig.audio.remove(headphones);
    rig.audio.setDefault(eRender, ScriptedAudio::kSpeakers);
    rig.quiet(300);
    ASSERT_TRUE(rig.audio.waitStarted(ScriptedAudio::kSpeakers));
    rig.play(b, 441, ScriptedAudio::kSpeakers);
    uint64_t silence = framesIn(500 + 300 + 10) - kSlackFrames - kRate / 2;
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {a, zeros(silence), b});
    EXPECT_EQ(rig.device.stats().deviceChanges, 1u);
    std::string log = rig.events.added();
    EXPECT_THAT(log, HasSubstr("the playback device \"Headphones\" is gone"));
    EXPECT_THAT(log, HasSubstr("the recording continues on the playback device \"Speakers\""));
    expectClean(rig);
}

TEST(WasapiCapture, ANewDefaultDeviceTakesOverWhileTheOldOneStays) {
    Rig rig;
    int usb = rig.audio.addEndpoint(eRender, "USB Speakers");
    rig.record();
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate / 4, 8);
    rig.play(a, 441, ScriptedAudio::kSpeakers);
    rig.audio.setDefault(eRender, usb);
    ASSERT_TRUE(rig.audio.waitStarted(usb));
    rig.play(a, 441, usb);
    testsupport::WavFile w = rig.finish();
    EXPECT_EQ(rig.device.stats().deviceChanges, 1u);
    EXPECT_THAT(rig.events.added(), HasSubstr("the playback device \"Speakers\" is no longer the default"));
    EXPECT_EQ(testsupport::findSignal(w.samples, a), 0);
    expectClean(rig);
}

TEST(WasapiCapture, WithNoDeviceLeftSilenceIsRecordedUntilOneAppears) {
    Rig rig;
    rig.record();
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate / 2, 9);
    rig.play(a, 441);
    rig.audio.remove(ScriptedAudio::kSpeakers);
    uint32_t before = rig.recorder->blocksRecorded();
    rig.quiet(4000);
    EXPECT_GE(rig.recorder->blocksRecorded(), before + 36) << "silence goes on being recorded without a device";
    int headset = rig.audio.addEndpoint(eRender, "USB Headset");
    rig.audio.setDefault(eRender, headset);
    ASSERT_TRUE(rig.audio.waitStarted(headset));
    rig.play(a, 441, headset);
    testsupport::WavFile w = rig.finish();
    // Without a device nothing can come late: the silence is the 4 s without one.
    expectRecording(w.samples, {a, zeros(framesIn(4000)), a});
    EXPECT_THAT(rig.events.added(), HasSubstr("continues on the playback device \"USB Headset\""));
    expectClean(rig);
}

TEST(WasapiCapture, ARecordingWithoutAnyDeviceEndsCleanly) {
    Rig rig;
    rig.record();
    rig.audio.remove(ScriptedAudio::kSpeakers);
    rig.quiet(1500);
    testsupport::WavFile w = rig.finish();
    EXPECT_TRUE(w.valid);
    EXPECT_EQ(w.samples.size(), 2 * framesIn(1500));
    expectClean(rig);
}

TEST(WasapiCapture, LoopbackRefusedAsOnWine8FailsTheOpenAndReleasesEverything) {
    Rig rig;
    rig.audio.refuseLoopbackCapture(true);
    try {
        rig.record();
        FAIL() << "a refused loopback stream must not open";
    } catch (const kit::MMError& e) {
        EXPECT_STREQ(e.message().c_str(), "waveInOpen() failed");
        EXPECT_EQ(e.resultCode(), static_cast<uint32_t>(MMSYSERR_NOTSUPPORTED));
    }
    EXPECT_EQ(rig.device.lastOpenResult(), AUDCLNT_E_WRONG_ENDPOINT_TYPE);
    rig.stream->finish(true);
    rig.stream.reset();
    expectClean(rig);
}

TEST(WasapiCapture, TheRecordingSourceReadsTheDefaultRecordingEndpoint) {
    Rig rig(WasapiWaveIn::Source::recording);
    rig.record();
    std::vector<ScriptedAudio::Initialization> inits = rig.audio.initializations();
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].endpoint, ScriptedAudio::kMicrophone);
    EXPECT_FALSE(inits[0].flags & AUDCLNT_STREAMFLAGS_LOOPBACK);
    std::vector<int16_t> a = testsupport::pseudoRandomSignal(kRate / 2, 10);
    rig.play(a, 441, ScriptedAudio::kMicrophone);
    testsupport::WavFile w = rig.finish();
    expectRecording(w.samples, {a});
    expectClean(rig);
}

// The wave-input contract, without the recorder.
struct Returned {
    std::mutex m;
    std::vector<WAVEHDR*> blocks;
    std::vector<UINT> messages;
    DWORD thread = 0;
    std::size_t count() {
        std::lock_guard<std::mutex> g(m);
        return blocks.size();
    }
};

void CALLBACK collect(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* r = reinterpret_cast<Returned*>(instance);
    std::lock_guard<std::mutex> g(r->m);
    r->messages.push_back(message);
    r->thread = ::GetCurrentThreadId();
    if (message == WIM_DATA) r->blocks.push_back(reinterpret_cast<WAVEHDR*>(param1));
}

TEST(WasapiWaveIn, HonoursTheWaveInContract) {
    ScriptedAudio audio;
    ScriptedClock::set(kStart);
    WasapiWaveIn device(WasapiWaveIn::Source::loopback, audio, ScriptedClock::now);
    WAVEFORMATEX f = kit::captureFormat(kit::kRecordingFormat);
    Returned r;
    HWAVEIN h = nullptr;
    EXPECT_EQ(device.open(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_FUNCTION), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    ASSERT_EQ(device.open(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&collect), reinterpret_cast<DWORD_PTR>(&r),
                          CALLBACK_FUNCTION),
              static_cast<MMRESULT>(MMSYSERR_NOERROR));
    std::vector<char> memory(3 * 400);
    WAVEHDR blocks[3] = {};
    for (int i = 0; i < 3; ++i) {
        blocks[i].lpData = memory.data() + i * 400;
        blocks[i].dwBufferLength = 400;
    }
    EXPECT_EQ(device.addBuffer(h, &blocks[0], sizeof(WAVEHDR)), static_cast<MMRESULT>(WAVERR_UNPREPARED));
    for (WAVEHDR& b : blocks) ASSERT_EQ(device.prepareHeader(h, &b, sizeof b), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    for (WAVEHDR& b : blocks) ASSERT_EQ(device.addBuffer(h, &b, sizeof b), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(device.unprepareHeader(h, &blocks[0], sizeof(WAVEHDR)), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(device.close(h), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(device.start(nullptr), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));

    ASSERT_EQ(device.start(h), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    std::vector<int16_t> signal = testsupport::pseudoRandomSignal(150, 12);
    ScriptedClock::advance(4);
    ASSERT_TRUE(audio.deliver(signal.data(), 150));
    ASSERT_TRUE(waitUntil([&] { return r.count() == 1; }, 5000)) << "a full block comes back by itself";
    EXPECT_EQ(r.blocks[0], &blocks[0]);
    EXPECT_EQ(blocks[0].dwBytesRecorded, 400u);
    EXPECT_EQ(blocks[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    EXPECT_NE(r.thread, ::GetCurrentThreadId());
    ASSERT_TRUE(audio.waitDrained());
    ASSERT_EQ(device.stop(h), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(r.blocks.size(), 2u) << "stop returns the block being filled";
    EXPECT_EQ(blocks[1].dwBytesRecorded, 200u);
    EXPECT_THAT(std::vector<int16_t>(signal.begin(), signal.begin() + 300),
                ElementsAreArray(reinterpret_cast<int16_t*>(memory.data()), 300));
    ASSERT_EQ(device.reset(h), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(r.blocks.size(), 3u) << "reset returns every block";
    EXPECT_EQ(blocks[2].dwBytesRecorded, 0u);
    for (WAVEHDR& b : blocks)
        EXPECT_EQ(device.unprepareHeader(h, &b, sizeof b), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(device.close(h), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(r.messages.front(), static_cast<UINT>(WIM_OPEN));
    EXPECT_EQ(r.messages.back(), static_cast<UINT>(WIM_CLOSE));
    EXPECT_EQ(device.start(h), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(audio.liveObjects(), 0);
    EXPECT_THAT(audio.violations(), IsEmpty());
}

struct ResultCase {
    HRESULT hr;
    MMRESULT mm;
};

class MmResultFor : public ::testing::TestWithParam<ResultCase> {};

TEST_P(MmResultFor, MapsTheSetUpFailure) { EXPECT_EQ(kit::mmResultFor(GetParam().hr), GetParam().mm); }

INSTANTIATE_TEST_SUITE_P(Table, MmResultFor,
                         ::testing::Values(ResultCase{AUDCLNT_E_WRONG_ENDPOINT_TYPE, MMSYSERR_NOTSUPPORTED},
                                           ResultCase{E_INVALIDARG, MMSYSERR_NOTSUPPORTED},
                                           ResultCase{REGDB_E_CLASSNOTREG, MMSYSERR_NOTSUPPORTED},
                                           ResultCase{AUDCLNT_E_UNSUPPORTED_FORMAT, WAVERR_BADFORMAT},
                                           ResultCase{HRESULT_FROM_WIN32(ERROR_NOT_FOUND), MMSYSERR_NODRIVER},
                                           ResultCase{AUDCLNT_E_DEVICE_INVALIDATED, MMSYSERR_NODRIVER},
                                           ResultCase{AUDCLNT_E_DEVICE_IN_USE, MMSYSERR_ALLOCATED},
                                           ResultCase{E_FAIL, MMSYSERR_ERROR}));

}  // namespace
