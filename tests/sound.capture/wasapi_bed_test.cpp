// The WASAPI capture on the test bed: Wine's real audio client. The default
// recording endpoint is the null sink's monitor, into which the native paplay
// plays a known signal; what plays must reach the file bit for bit. Wine 8
// refuses loopback (GetService answers AUDCLNT_E_WRONG_ENDPOINT_TYPE on a
// loopback stream): the open must fail cleanly there, and where loopback is
// available it must hear the played signal.
#include <gmock/gmock.h>

#include <cstdio>
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

class WasapiOnTheBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testsupport::waitForSilentSink(15000)) << "the sink keeps playing"; }
    void TearDown() override {
        while (playing && ::GetTickCount() - playStart < playing + 500) ::Sleep(50);
    }
    std::vector<int16_t> play(DWORD milliseconds, uint32_t seed) {
        std::vector<int16_t> signal = testsupport::pseudoRandomSignal(44100 * milliseconds / 1000, seed);
        testsupport::writeWav(dir.file("signal.wav"), signal);
        EXPECT_TRUE(testsupport::playIntoSink(dir.file("signal.wav")));
        playStart = ::GetTickCount();
        playing = milliseconds;
        return signal;
    }
    // Records from `device` until the signal has ended (and a margin).
    testsupport::WavFile recordToTheEnd(WasapiWaveIn& device) {
        kit::SoundFormat format = kit::kRecordingFormat;
        std::string path = dir.file("take.wav");
        smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream(
            smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format))));
        smartptr<kit::SoundRecorder> recorder(new kit::SoundRecorder(stream, format, 1.0, 100, 10000, device));
        recorder->start();
        while (::GetTickCount() - playStart < playing + 1500) ::Sleep(50);
        recorder->finish();
        stream->finish();
        EXPECT_EQ(recorder->blocksDropped(), 0u);
        return testsupport::readWav(path);
    }

    testsupport::TempDir dir;
    DWORD playStart = 0;
    DWORD playing = 0;
};

TEST_F(WasapiOnTheBed, TheRecordingEndpointRecordsThePlayedSignalBitForBit) {
    std::vector<int16_t> played = play(5000, 4242);
    ::Sleep(500);  // the recording starts while the signal plays
    WasapiWaveIn device(WasapiWaveIn::Source::recording);
    testsupport::WavFile w = recordToTheEnd(device);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.riffSize, w.dataSize + 36);
    EXPECT_GT(w.dataSize, 3u * 176400u);
    Coverage c = testsupport::playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_EQ(c.capturedOffset, 0) << "the file begins with the signal: " << describe(c);
    EXPECT_TRUE(c.signalEndInside) << "the signal ran to its end in the file: " << describe(c);
    WasapiWaveIn::Stats stats = device.stats();
    EXPECT_EQ(stats.deviceChanges, 0u);
    EXPECT_EQ(stats.droppedFrames, 0u);
    std::printf("recorded %.2f s: signal frames %ld..%zu; %llu frames of silence added by the clock, %llu withdrawn\n",
                w.dataSize / 176400.0, c.playedOffset, static_cast<std::size_t>(c.playedOffset) + c.matchedFrames,
                static_cast<unsigned long long>(stats.silenceFrames),
                static_cast<unsigned long long>(stats.withdrawnFrames));
}

TEST_F(WasapiOnTheBed, LoopbackEitherHearsThePlayedSignalOrIsRefusedCleanly) {
    std::vector<int16_t> played = play(3000, 99);
    ::Sleep(300);
    WasapiWaveIn device(WasapiWaveIn::Source::loopback);
    try {
        testsupport::WavFile w = recordToTheEnd(device);
        Coverage c = testsupport::playedSignalInside(w.samples, played);
        EXPECT_TRUE(c.ok) << "loopback is available here and must hear the signal: " << describe(c);
        std::printf("loopback is available: %.2f s recorded\n", w.dataSize / 176400.0);
    } catch (const kit::MMError& e) {
        EXPECT_STREQ(e.message().c_str(), "waveInOpen() failed");
        EXPECT_EQ(device.lastOpenResult(), AUDCLNT_E_WRONG_ENDPOINT_TYPE) << std::hex << device.lastOpenResult();
        std::printf("loopback refused: 0x%08lx\n", static_cast<unsigned long>(device.lastOpenResult()));
    }
}

}  // namespace
