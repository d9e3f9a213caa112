// The WASAPI capture on the test bed: Wine's real audio client. The native
// paplay plays a known signal into the null sink, the default playback device.
// The recording endpoint (the sink's monitor) and loopback of the playback
// device must both hear it bit for bit. For the loopback cases the recording
// line is made silent, so only loopback can hear what plays.
#include <gmock/gmock.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/wasapi_wave_in.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using kit::smartptr;
using kit::WasapiWaveIn;
using testsupport::Coverage;
using testsupport::describe;
using testsupport::kRate;

constexpr double kFramesPerMs = kRate / 1000.0;

class WasapiOnTheBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testsupport::waitForSilentSink(15000)) << "the sink keeps playing"; }
    void TearDown() override {
        while (playing && ::GetTickCount() - playStart < playing + 300) ::Sleep(50);
        if (changedDevices) {
            EXPECT_TRUE(testsupport::changeBedSound("reset"));
        }
    }
    std::vector<int16_t> play(DWORD milliseconds, uint32_t seed) {
        std::vector<int16_t> signal = testsupport::pseudoRandomSignal(kRate * milliseconds / 1000, seed);
        // The sound server rewinds the sink to mix a new stream in at once;
        // what its monitor had already passed on of the sink stays as it was,
        // so the first milliseconds of a stream never reach a monitor. The
        // file begins with silence for that.
        std::vector<int16_t> padded(kRate / 5 * 2, 0);
        padded.insert(padded.end(), signal.begin(), signal.end());
        std::string file = dir.file("signal" + std::to_string(seed) + ".wav");
        testsupport::writeWav(file, padded);
        EXPECT_TRUE(testsupport::playIntoSink(file));
        playStart = ::GetTickCount();
        playing = milliseconds + 200;
        return signal;
    }
    void change(const char* what) {
        changedDevices = true;
        ASSERT_TRUE(testsupport::changeBedSound(what)) << what;
    }
    void waitForTheSignalsEnd(DWORD margin) {
        while (::GetTickCount() - playStart < playing + margin) ::Sleep(20);
    }

    // A recording from `device` into a WAV file, from start() to finish().
    struct Recording {
        Recording(WasapiWaveIn& device, const std::string& path) : path(path) {
            kit::SoundFormat format = kit::kRecordingFormat;
            stream = new kit::GenericSoundEncodingStream(
                smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format)));
            recorder = new kit::SoundRecorder(stream, format, 1.0, 100, 10000, device);
            recorder->start();
            started = ::GetTickCount();
        }
        testsupport::WavFile finish() {
            DWORD ms = ::GetTickCount() - started;
            recorder->finish();
            DWORD finishing = ::GetTickCount() - started - ms;  // the end reaches the capture thread in that time
            stream->finish();
            EXPECT_EQ(recorder->blocksDropped(), 0u);
            testsupport::WavFile w = testsupport::readWav(path);
            EXPECT_TRUE(w.valid);
            EXPECT_EQ(w.riffSize, w.dataSize + 36);
            // Silence is recorded, not skipped: the file is as long as the
            // recording lasted, within a block.
            double fileMs = w.samples.size() / 2 / kFramesPerMs;
            EXPECT_GT(fileMs, ms - 150.0) << "file length against the clock";
            EXPECT_LT(fileMs, ms + finishing + 150.0)
                << "file length against the clock (" << finishing << " ms to finish)";
            return w;
        }
        std::string path;
        smartptr<kit::GenericSoundEncodingStream> stream;
        smartptr<kit::SoundRecorder> recorder;
        DWORD started = 0;
    };

    testsupport::TempDir dir;
    DWORD playStart = 0;
    DWORD playing = 0;
    bool changedDevices = false;
};

TEST_F(WasapiOnTheBed, TheRecordingEndpointRecordsThePlayedSignalBitForBit) {
    std::vector<int16_t> played = play(4000, 4242);
    ASSERT_TRUE(testsupport::waitForSoundInSink(10000));  // the recording starts while the signal plays
    WasapiWaveIn device(WasapiWaveIn::Source::recording);
    Recording r(device, dir.file("take.wav"));
    waitForTheSignalsEnd(1000);
    testsupport::WavFile w = r.finish();
    Coverage c = testsupport::playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_EQ(c.capturedOffset, 0) << "the file begins with the signal: " << describe(c);
    EXPECT_TRUE(c.signalEndInside) << "the signal ran to its end in the file: " << describe(c);
    EXPECT_EQ(device.stats().deviceChanges, 0u);
    EXPECT_EQ(device.stats().droppedFrames, 0u);
}

// Wine 10's loopback stream delivers its first packet up to about 1.5 s after
// its start; what played before that is not heard (the recording holds
// silence there). The cases start to play once it delivers.
class LoopbackOnTheBed : public WasapiOnTheBed {
protected:
    void SetUp() override {
        WasapiOnTheBed::SetUp();
        change("line-silent");
    }
    static void waitUntilItHears(const WasapiWaveIn& device) {
        uint64_t heard = device.stats().deviceFrames;
        ASSERT_TRUE(testsupport::waitUntil([&] { return device.stats().deviceFrames > heard; }, 5000))
            << "the loopback stream delivers nothing";
    }
    void waitUntilPlayedFor(DWORD ms) {
        while (::GetTickCount() - playStart < ms) ::Sleep(10);
    }
    // The copy of `signal` in a recording that may hold other sounds: where it
    // begins, and whether it is there whole, from its first frame to its last.
    static Coverage copyOf(const std::vector<int16_t>& recorded, const std::vector<int16_t>& signal) {
        testsupport::SignalMatch m = testsupport::matchCapture(recorded, signal);
        Coverage c;
        c.capturedOffset = m.capturedOffset;
        c.playedOffset = m.playedOffset;
        c.matchedFrames = m.matchedFrames;
        c.signalStartInside = m.playedOffset == 0;
        c.signalEndInside = m.playedOffset >= 0 && m.playedOffset + m.matchedFrames == signal.size() / 2;
        c.ok = c.signalStartInside && c.signalEndInside;
        if (!c.ok) c.why = "not whole";
        return c;
    }
    // Every sample of the recording outside the copies of `signals` is zero:
    // nothing was heard twice or made up.
    static void expectOnlySilenceBesides(const std::vector<int16_t>& recorded, const std::vector<Coverage>& signals) {
        std::vector<bool> covered(recorded.size() / 2, false);
        for (const Coverage& c : signals)
            for (std::size_t f = 0; f < c.matchedFrames; ++f)
                covered[static_cast<std::size_t>(c.capturedOffset) + f] = true;
        std::size_t loud = 0;
        for (std::size_t f = 0; f < covered.size(); ++f)
            if (!covered[f] && (recorded[2 * f] != 0 || recorded[2 * f + 1] != 0)) ++loud;
        EXPECT_EQ(loud, 0u) << "frames that are neither silence nor the played signals";
    }
};

TEST_F(LoopbackOnTheBed, RecordsWhatPlaysBitForBitWhileTheRecordingLineHearsNothing) {
    WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
    WasapiWaveIn line(WasapiWaveIn::Source::recording);
    Recording r(loopback, dir.file("loopback.wav"));
    Recording l(line, dir.file("line.wav"));
    waitUntilItHears(loopback);
    std::vector<int16_t> played = play(3000, 99);
    waitForTheSignalsEnd(800);
    testsupport::WavFile w = r.finish();
    testsupport::WavFile silent = l.finish();
    Coverage c = testsupport::playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_TRUE(c.signalStartInside && c.signalEndInside) << "the whole signal: " << describe(c);
    EXPECT_EQ(loopback.stats().deviceChanges, 0u);
    EXPECT_THAT(silent.samples, ::testing::Each(0)) << "the recording line is silent: only loopback hears";
}

// Headphones unplugged while they play: what played on them moves to the
// speakers, the new default device, and the recording goes on with it after a
// gap of silence as long as the sound it missed; it says so.
TEST_F(LoopbackOnTheBed, WhenThePlayingDeviceGoesAwayTheRecordingGoesOnWithTheNewDefault) {
    testsupport::EventsFile events;
    WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
    Recording r(loopback, dir.file("loopback.wav"));
    waitUntilItHears(loopback);
    std::vector<int16_t> first = play(3000, 31);
    waitUntilPlayedFor(1500);
    change("unplug");
    ASSERT_TRUE(testsupport::waitUntil([&] { return loopback.stats().deviceChanges == 1; }, 5000))
        << "the capture did not continue on the new default device";
    waitForTheSignalsEnd(300);
    std::vector<int16_t> second = play(1500, 32);
    waitForTheSignalsEnd(800);
    testsupport::WavFile w = r.finish();

    Coverage before = copyOf(w.samples, first);
    ASSERT_EQ(before.playedOffset, 0) << "the first signal from its start: " << describe(before);
    EXPECT_GT(before.matchedFrames, static_cast<std::size_t>(kRate)) << "up to the unplugging";
    // The rest of the first signal, after the gap, up to its end.
    std::size_t cut = static_cast<std::size_t>(before.capturedOffset) + before.matchedFrames;
    std::vector<int16_t> rest(w.samples.begin() + static_cast<std::ptrdiff_t>(cut * 2), w.samples.end());
    testsupport::SignalMatch moved = testsupport::matchCapture(rest, first);
    ASSERT_GE(moved.playedOffset, static_cast<long>(before.matchedFrames)) << "what played goes on after the gap";
    EXPECT_EQ(moved.playedOffset + moved.matchedFrames, first.size() / 2) << "... to its end";
    double missedMs = (moved.playedOffset - static_cast<long>(before.matchedFrames)) / kFramesPerMs;
    double silenceMs = moved.capturedOffset / kFramesPerMs;
    EXPECT_NEAR(silenceMs, missedMs, 100.0) << "the silence in the file is as long as the sound missed";
    Coverage after = copyOf(w.samples, second);
    EXPECT_TRUE(after.ok) << "the second signal whole: " << describe(after);
    Coverage movedCopy;
    movedCopy.capturedOffset = static_cast<long>(cut) + moved.capturedOffset;
    movedCopy.matchedFrames = moved.matchedFrames;
    expectOnlySilenceBesides(w.samples, {before, movedCopy, after});

    WasapiWaveIn::Stats stats = loopback.stats();
    std::printf("unplugged: capturing again on the new device after %u ms; %.0f ms of what played were missed\n",
                stats.switchMs, missedMs);
    EXPECT_LE(stats.switchMs, 200u);
    EXPECT_LE(missedMs, 200.0) << "the gap in what was heard";
    EXPECT_FALSE(stats.searching);
    std::string log = events.added();
    EXPECT_THAT(log, ::testing::HasSubstr("CaptureDeviceLost"));
    EXPECT_THAT(log, ::testing::HasSubstr("the recording continues on the playback device"));
}

// Every playback device gone: silence is recorded while the capture says it
// has nothing to record from, and it goes on when one is plugged in again.
TEST_F(LoopbackOnTheBed, WithNoPlaybackDeviceSilenceIsRecordedUntilOneIsPluggedIn) {
    WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
    Recording r(loopback, dir.file("loopback.wav"));
    waitUntilItHears(loopback);
    change("no-sink");
    ASSERT_TRUE(testsupport::waitUntil([&] { return loopback.stats().searching; }, 5000))
        << "the capture does not notice that the device is gone";
    uint32_t recorded = r.recorder->blocksRecorded();
    ASSERT_TRUE(testsupport::waitUntil([&] { return r.recorder->blocksRecorded() >= recorded + 10; }, 5000))
        << "silence goes on being recorded without a device";
    EXPECT_TRUE(loopback.stats().searching);
    change("plug");
    ASSERT_TRUE(testsupport::waitUntil([&] { return !loopback.stats().searching; }, 5000))
        << "the capture does not take the device plugged in";
    waitUntilItHears(loopback);
    std::vector<int16_t> played = play(1500, 33);
    waitForTheSignalsEnd(800);
    testsupport::WavFile w = r.finish();
    Coverage c = testsupport::playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok && c.signalStartInside && c.signalEndInside) << describe(c);
    expectOnlySilenceBesides(w.samples, {c});
    EXPECT_EQ(loopback.stats().deviceChanges, 1u);
}

// Quiet, sound, quiet, sound: the silence between is as long as it lasted,
// and where sound comes back nothing is missing or heard twice.
TEST_F(LoopbackOnTheBed, QuietStretchesBetweenSoundsAreRecordedAtTheirLength) {
    WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
    Recording r(loopback, dir.file("loopback.wav"));
    waitUntilItHears(loopback);
    std::vector<std::vector<int16_t>> played;
    std::vector<DWORD> started;
    for (uint32_t i = 0; i < 3; ++i) {
        played.push_back(play(700, 40 + i));
        started.push_back(playStart);
        waitForTheSignalsEnd(1300);
    }
    testsupport::WavFile w = r.finish();
    std::vector<Coverage> found;
    for (const auto& signal : played) {
        found.push_back(copyOf(w.samples, signal));
        EXPECT_TRUE(found.back().ok) << describe(found.back());
    }
    expectOnlySilenceBesides(w.samples, found);
    for (std::size_t i = 1; i < found.size(); ++i) {
        double inFile = (found[i].capturedOffset - found[i - 1].capturedOffset) / kFramesPerMs;
        EXPECT_NEAR(inFile, static_cast<double>(started[i] - started[i - 1]), 100.0)
            << "the time between two sounds in the file against the clock";
    }
    EXPECT_EQ(loopback.stats().droppedFrames, 0u);
}

}  // namespace
