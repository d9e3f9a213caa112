// The MP3 encoder with the real lame_enc.dll (beside this program), fed through
// an encoding stream as a recording feeds it; the files checked by the host's decoders.
#include <gmock/gmock.h>
#include <windows.h>

#include <cmath>

#include "encoding.common/encoding_stream.h"
#include "encoding.mp3/mp3_encoding.h"
#include "native_tools.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;
using ::testing::AnyOf;
using ::testing::HasSubstr;

constexpr uint32_t kBlockBytes = 17640;  // 100 ms of 2 x 16 bit x 44100 Hz, as the capture delivers

// Encodes `pcm` through an encoding stream into an MP3 file, as a recording
// does: 100 ms blocks, each written once the stream has reported the one before.
void encodeThroughStream(const std::string& path, const std::vector<int16_t>& pcm, int bitrate) {
    constexpr uint32_t kKey = 5;
    kit::Mp3Format format{bitrate, 44100, false};
    kit::smartptr<kit::ISoundEncoder> encoder = new kit::Mp3SoundEncoder(path, &format);
    kit::smartptr<kit::GenericSoundEncodingStream> stream = new kit::GenericSoundEncodingStream(encoder);
    kit::smartptr<kit::EventQueue> completions = new kit::EventQueue();
    stream->setCompletionQueue(completions, kKey);
    auto data = reinterpret_cast<const uint8_t*>(pcm.data());
    uint32_t total = static_cast<uint32_t>(pcm.size() * 2);
    for (uint32_t at = 0; at < total; at += kBlockBytes) {
        uint32_t length = std::min(kBlockBytes, total - at);
        void* cookie = const_cast<uint8_t*>(data + at);
        stream->write(data + at, length, cookie);
        uint32_t count = 0;
        ULONG_PTR key = 0;
        void* pointer = nullptr;
        ASSERT_TRUE(completions->getEventFor(10000, count, key, pointer)) << "no completion for the block at " << at;
        ASSERT_EQ(key, kKey);
        ASSERT_EQ(count, length);
        ASSERT_EQ(pointer, cookie);
    }
    stream->finish();
    EXPECT_EQ(stream->state(), kit::SoundEncodingThread::finished);
}

// The strongest frequency of a channel between 20 Hz and 5 kHz, in steps of 1 Hz
// (Goertzel filters over one second taken from the middle).
double dominantFrequency(const std::vector<int16_t>& samples, int channel) {
    std::size_t frames = samples.size() / kChannels;
    std::size_t start = frames > 2 * kRate ? frames / 2 - kRate / 2 : 0;
    std::size_t count = std::min<std::size_t>(kRate, frames - start);
    double best = 0, bestPower = -1;
    for (int f = 20; f <= 5000; ++f) {
        double w = 2 * 3.14159265358979323846 * f / kRate, coeff = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (std::size_t i = 0; i < count; ++i) {
            double s0 = samples[(start + i) * kChannels + channel] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

// The header of every frame in the file, read directly: MPEG-1 Layer III,
// 128 kbit/s, 44100 Hz, stereo or joint stereo. Returns the number of frames.
int checkEveryFrame(const std::string& file) {
    int frames = 0;
    std::size_t at = 0;
    while (at + 4 <= file.size()) {
        auto b = [&](std::size_t i) { return static_cast<uint8_t>(file[at + i]); };
        EXPECT_TRUE(b(0) == 0xFF && (b(1) & 0xE0) == 0xE0) << "no frame sync at byte " << at;
        if (!(b(0) == 0xFF && (b(1) & 0xE0) == 0xE0)) return frames;
        int version = (b(1) >> 3) & 3, layer = (b(1) >> 1) & 3, bitrateIndex = b(2) >> 4;
        int rateIndex = (b(2) >> 2) & 3, padding = (b(2) >> 1) & 1, mode = b(3) >> 6;
        EXPECT_EQ(version, 3) << "MPEG-1, frame " << frames;
        EXPECT_EQ(layer, 1) << "Layer III, frame " << frames;
        EXPECT_EQ(bitrateIndex, 9) << "128 kbit/s, frame " << frames;
        EXPECT_EQ(rateIndex, 0) << "44100 Hz, frame " << frames;
        EXPECT_TRUE(mode == 0 || mode == 1) << "stereo or joint stereo, frame " << frames;
        EXPECT_EQ(b(1) & 1, 0) << "CRC protected, frame " << frames;
        if (version != 3 || layer != 1 || bitrateIndex != 9 || rateIndex != 0) return frames;
        at += 144 * 128000 / 44100 + padding;
        ++frames;
    }
    EXPECT_EQ(at, file.size()) << "a partial frame at the end";
    return frames;
}

double secondsOf(const WavFile& wav) { return static_cast<double>(wav.samples.size() / 2) / 44100.0; }

TEST(Mp3WithLame, AToneBecomesAnMp3FileTheHostsDecodersRead) {
    TempDir dir;
    std::string mp3 = dir.file("tone.mp3");
    ASSERT_NO_FATAL_FAILURE(encodeThroughStream(mp3, toneSignal(440.0, 3.0, 12000), 128));

    int frames = checkEveryFrame(readFile(mp3));
    EXPECT_NEAR(frames * 1152 / 44100.0, 3.0, 0.060) << frames << " frames";

    // mpg123: the stream's description, then the decoded sound.
    NativeResult info = runNative(dir.path(), "mpg123 -v -t tone.mp3", 60000);
    ASSERT_TRUE(info.finished);
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_THAT(info.output, HasSubstr("MPEG 1.0 L III cbr128 44100 "));
    EXPECT_THAT(info.output, AnyOf(HasSubstr("cbr128 44100 j-s"), HasSubstr("cbr128 44100 stereo"))) << info.output;
    NativeResult mpg123 = runNative(dir.path(), "mpg123 -q -w mpg123.wav tone.mp3", 60000);
    ASSERT_TRUE(mpg123.finished);
    EXPECT_EQ(mpg123.exitCode, 0) << mpg123.output;

    // madplay (libmad), a decoder of its own.
    NativeResult madplay = runNative(dir.path(), "madplay -v -o wave:madplay.wav tone.mp3", 60000);
    ASSERT_TRUE(madplay.finished);
    EXPECT_EQ(madplay.exitCode, 0) << madplay.output;
    EXPECT_THAT(madplay.output, AnyOf(HasSubstr("Layer III, 128 kbps, 44100 Hz, joint stereo"),
                                      HasSubstr("Layer III, 128 kbps, 44100 Hz, stereo")))
        << madplay.output;
    EXPECT_THAT(madplay.output, ::testing::Not(HasSubstr("error"))) << madplay.output;

    for (const char* decoded : {"mpg123.wav", "madplay.wav"}) {
        SCOPED_TRACE(decoded);
        WavFile wav = readWav(dir.file(decoded));
        ASSERT_TRUE(wav.valid);
        EXPECT_EQ(wav.samplesPerSec, 44100u);
        EXPECT_EQ(wav.channels, 2u);
        EXPECT_NEAR(secondsOf(wav), 3.0, 0.060);
        EXPECT_NEAR(dominantFrequency(wav.samples, 0), 440.0, 1.0);
        EXPECT_NEAR(dominantFrequency(wav.samples, 1), 440.0, 1.0);
        EXPECT_NEAR(rmsLevel(wav.samples), 12000 / std::sqrt(2.0), 600);
    }
}

TEST(Mp3WithLame, TheFileEqualsWhatTheLameCommandLineMakesWithTheSameSettings) {
    // The same library and settings: the encoder hands every sample over
    // unchanged and writes exactly what the library returns.
    TempDir dir;
    std::vector<int16_t> pcm = pseudoRandomSignal(44100 * 2 + 1234, 99, 9000);
    writeWav(dir.file("in.wav"), pcm);
    ASSERT_NO_FATAL_FAILURE(encodeThroughStream(dir.file("encoder.mp3"), pcm, 96));
    NativeResult cli = runNative(dir.path(), "lame --quiet " + lameCliOptions(96) + " in.wav cli.mp3", 60000);
    ASSERT_TRUE(cli.finished);
    ASSERT_EQ(cli.exitCode, 0) << cli.output;
    std::string ours = readFile(dir.file("encoder.mp3")), theirs = readFile(dir.file("cli.mp3"));
    EXPECT_GT(ours.size(), 20000u);
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_TRUE(ours == theirs) << "the files differ";
}

}  // namespace
