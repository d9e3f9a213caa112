// The MP3 encoder with the real lame_enc.dll (beside this program), fed through
// an encoding stream as a recording feeds it; the files checked by the host's decoders.
#include <gmock/gmock.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <regex>

#include "encoding.common/encoding_stream.h"
#include "encoding.mp3/mp3_encoding.h"
#include "support/native_tools.h"
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
// 128 kbit/s, 44100 Hz, stereo or joint stereo; the first frame is the
// library's information frame ("Xing" or "Info"). Returns the number of
// audio frames.
int checkEveryFrame(const std::string& file) {
    int frames = 0;
    std::size_t at = 0;
    bool first = true;
    while (at + 4 <= file.size()) {
        auto b = [&](std::size_t i) { return static_cast<uint8_t>(file[at + i]); };
        EXPECT_TRUE(b(0) == 0xFF && (b(1) & 0xE0) == 0xE0) << "no frame sync at byte " << at;
        if (!(b(0) == 0xFF && (b(1) & 0xE0) == 0xE0)) return frames;
        uint8_t header[4] = {b(0), b(1), b(2), b(3)};
        uint32_t length = kit::mp3FrameBytes(header);
        EXPECT_GT(length, 0u) << "frame " << frames;
        if (length == 0) return frames;
        if (first) {
            std::string tagFrame = file.substr(at, length);
            EXPECT_TRUE(tagFrame.find("Xing") != std::string::npos || tagFrame.find("Info") != std::string::npos)
                << "no information frame first";
            first = false;
            at += length;
            continue;
        }
        int version = (b(1) >> 3) & 3, layer = (b(1) >> 1) & 3, bitrateIndex = b(2) >> 4;
        int rateIndex = (b(2) >> 2) & 3, mode = b(3) >> 6;
        EXPECT_EQ(version, 3) << "MPEG-1, frame " << frames;
        EXPECT_EQ(layer, 1) << "Layer III, frame " << frames;
        EXPECT_EQ(bitrateIndex, 9) << "128 kbit/s, frame " << frames;
        EXPECT_EQ(rateIndex, 0) << "44100 Hz, frame " << frames;
        EXPECT_TRUE(mode == 0 || mode == 1) << "stereo or joint stereo, frame " << frames;
        EXPECT_EQ(b(1) & 1, 0) << "CRC protected, frame " << frames;
        if (version != 3 || layer != 1 || bitrateIndex != 9 || rateIndex != 0) return frames;
        at += length;
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
    EXPECT_THAT(info.output, HasSubstr("MPEG 1.0 L III "));
    EXPECT_THAT(info.output, AnyOf(HasSubstr(" 44100 j-s"), HasSubstr(" 44100 stereo"))) << info.output;
    NativeResult mpg123 = runNative(dir.path(), "mpg123 -q -w mpg123.wav tone.mp3", 60000);
    ASSERT_TRUE(mpg123.finished);
    EXPECT_EQ(mpg123.exitCode, 0) << mpg123.output;

    // madplay (libmad), a decoder of its own.
    NativeResult madplay = runNative(dir.path(), "madplay -v -o wave:madplay.wav tone.mp3", 60000);
    ASSERT_TRUE(madplay.finished);
    EXPECT_EQ(madplay.exitCode, 0) << madplay.output;
    EXPECT_THAT(madplay.output, AnyOf(HasSubstr("Layer III, 128 kbps, 44100 Hz, joint stereo"),
                                      HasSubstr("Layer III, 128 kbps, 44100 Hz, stereo"),
                                      HasSubstr("Layer III, VBR (avg 128 kbps), 44100 Hz")))
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
    // unchanged and writes exactly what the library returns. (The information
    // frames differ in what the command line measures besides, such as the
    // replay gain.)
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
    uint32_t tag = kit::mp3FrameBytes(reinterpret_cast<const uint8_t*>(ours.data()));
    ASSERT_GT(tag, 0u);
    EXPECT_EQ(tag, kit::mp3FrameBytes(reinterpret_cast<const uint8_t*>(theirs.data())));
    EXPECT_NE(ours.substr(0, tag).find("LAME3.100"), std::string::npos) << "the library's information frame";
    EXPECT_TRUE(ours.compare(tag, std::string::npos, theirs, tag, std::string::npos) == 0) << "the audio frames differ";
}

// The length a player shows before it plays: ffprobe's (from the file's
// headers) and mpg123's (its time played plus time left at the first frames).
double ffprobeSeconds(const std::string& folder, const std::string& file) {
    NativeResult r = runNative(folder, "ffprobe -v error -show_entries format=duration -of csv=p=0 " + file, 60000);
    EXPECT_TRUE(r.finished && r.exitCode == 0) << r.output;
    return r.finished && r.exitCode == 0 ? std::stod(r.output) : -1;
}

double mpg123Seconds(const std::string& folder, const std::string& file) {
    NativeResult r = runNative(folder, "mpg123 -t -v " + file + " 2>&1 | tr '\\r' '\\n'", 60000);
    std::smatch m;
    std::regex progress(R"((\d+):(\d+\.\d+)\+(\d+):(\d+\.\d+))");
    if (!std::regex_search(r.output, m, progress)) {
        ADD_FAILURE() << "no progress line from mpg123: " << r.output;
        return -1;
    }
    return std::stod(m[1]) * 60 + std::stod(m[2]) + std::stod(m[3]) * 60 + std::stod(m[4]);
}

TEST(Mp3WithLame, PlayersShowTheRightLengthOfARecordingThatBeginsWithSilence) {
    TempDir dir;
    std::vector<int16_t> pcm(static_cast<std::size_t>(2 * kRate * kChannels), 0);  // 2 s of silence
    std::vector<int16_t> tone = toneSignal(440.0, 8.0, 12000);
    pcm.insert(pcm.end(), tone.begin(), tone.end());
    ASSERT_NO_FATAL_FAILURE(encodeThroughStream(dir.file("take.mp3"), pcm, 128));

    NativeResult decode = runNative(dir.path(), "mpg123 -q -w decoded.wav take.mp3", 60000);
    ASSERT_TRUE(decode.finished);
    ASSERT_EQ(decode.exitCode, 0) << decode.output;
    WavFile wav = readWav(dir.file("decoded.wav"));
    ASSERT_TRUE(wav.valid);
    double decoded = secondsOf(wav);
    EXPECT_NEAR(decoded, 10.0, 0.1);

    double ffprobe = ffprobeSeconds(dir.path(), "take.mp3");
    double mpg123 = mpg123Seconds(dir.path(), "take.mp3");
    EXPECT_NEAR(ffprobe, decoded, decoded * 0.01) << "ffprobe";
    EXPECT_NEAR(mpg123, decoded, decoded * 0.01) << "mpg123";

    NativeResult madplay = runNative(dir.path(), "madplay -v -o wave:madplay.wav take.mp3", 60000);
    ASSERT_TRUE(madplay.finished);
    EXPECT_EQ(madplay.exitCode, 0) << madplay.output;
    EXPECT_THAT(madplay.output, ::testing::Not(HasSubstr("error"))) << madplay.output;
    WavFile mad = readWav(dir.file("madplay.wav"));
    ASSERT_TRUE(mad.valid);
    EXPECT_NEAR(secondsOf(mad), decoded, 0.1);
    std::printf("length: decoded %.3f s, ffprobe %.3f s, mpg123 %.3f s, madplay %.3f s\n", decoded, ffprobe, mpg123,
                secondsOf(mad));
}

}  // namespace
