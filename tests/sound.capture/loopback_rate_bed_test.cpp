// Loopback at the playback device's own rate, on the test bed: the bed's
// sinks run at 48 000 Hz (bed-sound.sh rate-48000) from before this program
// first uses Wine's audio, so Wine's mix format has that rate. What paplay
// plays at that rate must reach a WAV and a FLAC file at 48 000 Hz bit for bit
// (only the samples are converted, never the rate), and an MP3 file at
// 48 000 Hz as long as the recording.
#include <gmock/gmock.h>

#include <cstdio>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.flac/flac_encoding.h"
#include "encoding.flac/flac_decode.h"
#include "encoding.mp3/mp3_encoding.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/wasapi_wave_in.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "support/support.h"

namespace {

using kit::smartptr;
using kit::WasapiWaveIn;

constexpr int kDeviceRate = 48000;
const kit::SoundFormat kFormat{2, 16, kDeviceRate};

class LoopbackAtTheDeviceRate : public ::testing::Test {
protected:
    static void SetUpTestSuite() { atRate = testsupport::changeBedSound("rate-48000"); }
    static void TearDownTestSuite() { testsupport::changeBedSound("reset"); }
    void SetUp() override { ASSERT_TRUE(atRate) << "the bed's sinks could not be set to 48 000 Hz"; }
    void TearDown() override {
        while (playing && ::GetTickCount() - playStart < playing + 300) ::Sleep(50);
    }

    // A signal at the device's rate, played into the default sink.
    std::vector<int16_t> play(DWORD milliseconds, uint32_t seed) {
        std::vector<int16_t> signal = testsupport::pseudoRandomSignal(kDeviceRate * milliseconds / 1000, seed);
        std::vector<int16_t> padded(kDeviceRate / 5 * 2, 0);  // a monitor misses a new stream's first moments
        padded.insert(padded.end(), signal.begin(), signal.end());
        std::string file = dir.file("signal" + std::to_string(seed) + ".wav");
        testsupport::writeWav(file, padded, 2, kDeviceRate);
        EXPECT_TRUE(testsupport::playIntoSink(file));
        playStart = ::GetTickCount();
        playing = milliseconds + 200;
        return signal;
    }
    void waitForTheSignalsEnd(DWORD margin) {
        while (::GetTickCount() - playStart < playing + margin) ::Sleep(20);
    }

    // Records loopback into `encoder` while a signal of `ms` plays; answers
    // the signal and the recording's length in frames.
    std::vector<int16_t> record(kit::ISoundEncoder* encoder, DWORD ms, uint32_t seed, uint64_t& frames) {
        WasapiWaveIn loopback(WasapiWaveIn::Source::loopback);
        EXPECT_EQ(loopback.mixRate(), static_cast<uint32_t>(kDeviceRate)) << "Wine's mix format has the sink's rate";
        smartptr<kit::GenericSoundEncodingStream> stream =
            new kit::GenericSoundEncodingStream(smartptr<kit::ISoundEncoder>(encoder));
        smartptr<kit::SoundRecorder> recorder = new kit::SoundRecorder(stream, kFormat, 1.0, 100, 10000, loopback);
        recorder->start();
        uint64_t heard = loopback.stats().deviceFrames;
        EXPECT_TRUE(testsupport::waitUntil([&] { return loopback.stats().deviceFrames > heard; }, 5000))
            << "the loopback stream delivers nothing";
        std::vector<int16_t> played = play(ms, seed);
        waitForTheSignalsEnd(800);
        recorder->finish();
        stream->finish();
        EXPECT_EQ(recorder->blocksDropped(), 0u);
        EXPECT_EQ(recorder->bytesPerSecond(), static_cast<uint32_t>(kDeviceRate * 4));
        frames = recorder->bytesDelivered() / 4;
        return played;
    }

    static void expectWhole(const std::vector<int16_t>& recorded, const std::vector<int16_t>& played) {
        testsupport::Coverage c = testsupport::playedSignalInside(recorded, played);
        EXPECT_TRUE(c.ok) << testsupport::describe(c);
        EXPECT_TRUE(c.signalStartInside && c.signalEndInside) << "the whole signal: " << testsupport::describe(c);
    }

    testsupport::TempDir dir;
    DWORD playStart = 0;
    DWORD playing = 0;
    static bool atRate;
};

bool LoopbackAtTheDeviceRate::atRate = false;

TEST_F(LoopbackAtTheDeviceRate, WavFileAtTheDeviceRateBitForBit) {
    std::string path = dir.file("take.wav");
    uint64_t frames = 0;
    std::vector<int16_t> played = record(new kit::WaveSoundEncoder(path.c_str(), &kFormat), 3000, 480, frames);
    testsupport::WavFile w = testsupport::readWav(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.samplesPerSec, static_cast<uint32_t>(kDeviceRate));
    EXPECT_EQ(w.avgBytesPerSec, static_cast<uint32_t>(kDeviceRate * 4));
    EXPECT_EQ(w.samples.size() / 2, frames);
    expectWhole(w.samples, played);
}

TEST_F(LoopbackAtTheDeviceRate, FlacFileDecodesBitForBit) {
    std::string path = dir.file("take.flac");
    uint64_t frames = 0;
    std::vector<int16_t> played = record(new kit::FlacSoundEncoder(path.c_str(), &kFormat), 3000, 481, frames);
    flactest::Decoded d = flactest::decodeFlac(testsupport::readFile(path));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.md5Checked);
    EXPECT_EQ(d.rate, static_cast<uint32_t>(kDeviceRate));
    EXPECT_EQ(d.channels, 2u);
    EXPECT_EQ(d.samples.size() / 2, frames);
    expectWhole(d.samples, played);
}

TEST_F(LoopbackAtTheDeviceRate, Mp3FileAtTheDeviceRateAsLongAsTheRecording) {
    std::string path = dir.file("take.mp3");
    kit::Mp3Format format{128, kDeviceRate, false};
    uint64_t frames = 0;
    record(new kit::Mp3SoundEncoder(path.c_str(), &format), 2000, 482, frames);
    testsupport::NativeResult r = testsupport::runNative(dir.path(), "mpg123 -q -w take-decoded.wav take.mp3", 60000);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    testsupport::WavFile w = testsupport::readWav(dir.file("take-decoded.wav"));
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.samplesPerSec, static_cast<uint32_t>(kDeviceRate));
    double seconds = static_cast<double>(w.samples.size() / 2) / kDeviceRate;
    double recorded = static_cast<double>(frames) / kDeviceRate;
    EXPECT_GT(recorded, 2.0);
    EXPECT_NEAR(seconds, recorded, 0.060) << "decoded against recorded length";
    EXPECT_GT(testsupport::rmsLevel(w.samples), 3000.0) << "the signal is in it";
}

}  // namespace
