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
#include "kit/exceptions.h"
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
            recorder->finish();
            DWORD ms = ::GetTickCount() - started;
            stream->finish();
            EXPECT_EQ(recorder->blocksDropped(), 0u);
            testsupport::WavFile w = testsupport::readWav(path);
            EXPECT_TRUE(w.valid);
            EXPECT_EQ(w.riffSize, w.dataSize + 36);
            // Silence is recorded, not skipped: the file is as long as the
            // recording lasted, within a block.
            EXPECT_NEAR(w.samples.size() / 2 / kFramesPerMs, ms, 150.0) << "file length against the clock";
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
    ::Sleep(500);  // the recording starts while the signal plays
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
// silence there). The case starts to play once it delivers.
class LoopbackOnTheBed : public WasapiOnTheBed {
protected:
    void SetUp() override {
        WasapiOnTheBed::SetUp();
        change("line-silent");
    }
    static void waitUntilItHears(const WasapiWaveIn& device) {
        ASSERT_TRUE(testsupport::waitUntil([&] { return device.stats().deviceFrames > 0; }, 5000))
            << "the loopback stream delivers nothing";
    }
};

// Wine 8 refuses loopback (GetService answers AUDCLNT_E_WRONG_ENDPOINT_TYPE):
// there the open must fail cleanly; Wine 10 and Windows must hear what plays.
TEST_F(LoopbackOnTheBed, RecordsWhatPlaysBitForBitWhileTheRecordingLineHearsNothing) {
    WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
    WasapiWaveIn line(WasapiWaveIn::Source::recording);
    std::unique_ptr<Recording> opened;
    try {
        opened = std::make_unique<Recording>(loopback, dir.file("loopback.wav"));
    } catch (const kit::MMError& e) {
        EXPECT_STREQ(e.message().c_str(), "waveInOpen() failed");
        EXPECT_EQ(loopback.lastOpenResult(), AUDCLNT_E_WRONG_ENDPOINT_TYPE) << std::hex << loopback.lastOpenResult();
        std::printf("loopback refused: 0x%08lx\n", static_cast<unsigned long>(loopback.lastOpenResult()));
        return;
    }
    Recording& r = *opened;
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

}  // namespace
