// The FLAC encoder with libFLAC: files read back with libFLAC's decoder and
// with the host's flac and ffmpeg.
#include <gmock/gmock.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.flac/flac_encoding.h"
#include "encoding.wave/wave_encoding.h"
#include "flac_decode.h"
#include "support/native_tools.h"
#include "support/support.h"

namespace {

using flactest::Decoded;
using flactest::decodeFlac;
using kit::FlacSoundEncoder;
using kit::smartptr;
using kit::SoundFormat;
using testsupport::readFile;
using testsupport::TempDir;
using Point = FLAC__StreamMetadata_SeekPoint;

// A tone in each channel with some noise on it (a pseudo-random sequence of
// its own), so that the frames use the predictors and the residual coding.
std::vector<int16_t> signal(uint32_t frames, const SoundFormat& f, uint32_t seed = 1) {
    std::vector<int16_t> s(static_cast<std::size_t>(frames) * f.channels);
    uint32_t lcg = seed;
    for (uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < f.channels; ++c) {
            lcg = lcg * 1664525u + 1013904223u;
            double tone = 9000 * std::sin(2 * 3.14159265358979 * (440.0 + 110 * c) * i / f.samplesPerSec);
            s[i * f.channels + c] = static_cast<int16_t>(tone + static_cast<int>(lcg >> 22) - 512);
        }
    return s;
}

// 100 ms blocks (or `block` bytes), as the capture delivers them.
void encode(kit::ISoundEncoder& e, const std::vector<int16_t>& pcm, uint32_t block) {
    auto data = reinterpret_cast<const uint8_t*>(pcm.data());
    uint32_t total = static_cast<uint32_t>(pcm.size() * 2);
    for (uint32_t at = 0; at < total; at += block) e.encodeChunk({data + at, std::min(block, total - at), nullptr});
}

bool samePrefix(const std::vector<int16_t>& got, const std::vector<int16_t>& audio) {
    return got.size() <= audio.size() && std::equal(got.begin(), got.end(), audio.begin());
}

// ---- the seek table's bytes ---------------------------------------------------------

struct ThinCase {
    std::size_t all, capacity, kept, every;
};
class ThinPoints : public ::testing::TestWithParam<ThinCase> {};
TEST_P(ThinPoints, KeepEveryNthFromTheFirstAsFewAsFit) {
    auto c = GetParam();
    std::vector<Point> all;
    for (std::size_t i = 0; i < c.all; ++i) all.push_back({i * 441000, i * 1000, 4096});
    auto kept = kit::flacThinPoints(all, c.capacity);
    ASSERT_EQ(kept.size(), c.kept);
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].sample_number, all[i * c.every].sample_number);
}
INSTANTIATE_TEST_SUITE_P(Table, ThinPoints,
                         ::testing::Values(ThinCase{0, 908, 0, 1}, ThinCase{5, 908, 5, 1}, ThinCase{908, 908, 908, 1},
                                           ThinCase{909, 908, 455, 2}, ThinCase{2724, 908, 908, 3},
                                           ThinCase{2725, 908, 682, 4}, ThinCase{3, 0, 0, 1}));

TEST(SeekTableBlocks, FillTheRoomWithTheTableAndAClosingPaddingBlock) {
    std::vector<Point> points{{0, 0, 4096}, {0x0102030405060708ull, 0x1112131415161718ull, 0x2122}};
    auto b = kit::flacSeekTableBlocks(points, 100);
    ASSERT_EQ(b.size(), 100u);
    EXPECT_EQ(b[0], 3) << "SEEKTABLE, not the last block";
    EXPECT_EQ((b[1] << 16) | (b[2] << 8) | b[3], 36);
    const uint8_t second[18] = {1, 2, 3, 4, 5, 6, 7, 8, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x21, 0x22};
    EXPECT_EQ(std::memcmp(&b[4 + 18], second, 18), 0) << "big-endian sample, offset, frame samples";
    EXPECT_EQ(b[40], 0x81) << "PADDING, the last block";
    EXPECT_EQ((b[41] << 16) | (b[42] << 8) | b[43], 100 - 44);
    // A table that fills the room exactly is the last block itself.
    auto exact = kit::flacSeekTableBlocks(points, 40);
    ASSERT_EQ(exact.size(), 40u);
    EXPECT_EQ(exact[0], 0x83);
}

// ---- files --------------------------------------------------------------------------

class FlacFormats : public ::testing::TestWithParam<SoundFormat> {
protected:
    TempDir dir;
    std::string path = dir.file("take.flac");
};

// 25 s: three seek points at 0, 10 and 20 s, and a last block of another length.
TEST_P(FlacFormats, DecodeBitForBitWithTotalMd5AndASeekTableThatSeeks) {
    SoundFormat f = GetParam();
    uint32_t frames = static_cast<uint32_t>(f.samplesPerSec) * 25 + 333;
    std::vector<int16_t> audio = signal(frames, f);
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &f));
    encode(*e, audio, kit::blockBytes(f, 100));
    e->close();
    EXPECT_EQ(e->samplesEncoded(), frames);
    std::string file = readFile(path);
    Decoded d = decodeFlac(file);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.channels, static_cast<uint32_t>(f.channels));
    EXPECT_EQ(d.bits, 16u);
    EXPECT_EQ(d.rate, static_cast<uint32_t>(f.samplesPerSec));
    EXPECT_EQ(d.totalSamples, frames);
    EXPECT_TRUE(d.md5Set);
    EXPECT_TRUE(d.md5Checked) << "the MD5 in STREAMINFO is that of the audio";
    EXPECT_TRUE(d.samples == audio) << "bit for bit";
    EXPECT_LT(file.size(), audio.size() * 2 * 3 / 4) << "compressed";

    ASSERT_TRUE(d.hasSeekTable);
    ASSERT_EQ(d.points.size(), 3u);
    for (std::size_t i = 0; i < d.points.size(); ++i) {
        uint64_t target = i * 10ull * f.samplesPerSec;
        const Point& p = d.points[i];
        EXPECT_LE(p.sample_number, target);
        EXPECT_GT(p.sample_number + p.frame_samples, target) << "the frame holding second " << i * 10;
        std::vector<int16_t> first;
        ASSERT_TRUE(flactest::seekAndRead(file, target, first)) << "seeking to second " << i * 10;
        EXPECT_TRUE(std::equal(first.begin(), first.end(), audio.begin() + target * f.channels));
    }
    EXPECT_EQ(d.points[0].stream_offset, 0u);
    EXPECT_LT(d.points[1].stream_offset, d.points[2].stream_offset);
}
INSTANTIATE_TEST_SUITE_P(Formats, FlacFormats,
                         ::testing::Values(kit::kRecordingFormat, SoundFormat{2, 16, 48000},
                                           SoundFormat{1, 16, 22050}));

// 24 bits, 3 bytes a sample as a WAV holds them: decoded to the same values,
// the extremes and the sign of every byte pattern included.
TEST(Flac24Bit, DecodesToTheSameValues) {
    TempDir dir;
    std::string path = dir.file("deep.flac");
    SoundFormat f{2, 24, 96000};
    std::vector<int16_t> tone = signal(96000 * 3 + 77, f);
    std::vector<int32_t> values(tone.size());
    uint32_t lcg = 5;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        lcg = lcg * 1664525u + 1013904223u;
        values[i] = tone[i] * 256 + static_cast<int32_t>(lcg >> 24);  // all 24 bits in use
    }
    values[0] = 8388607;
    values[1] = -8388608;
    values[2] = -1;
    values[3] = 0x7F00FF;
    std::vector<uint8_t> packed;
    for (int32_t v : values)
        for (int b = 0; b < 3; ++b) packed.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b)));
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &f));
    const uint32_t block = kit::blockBytes(f, 100);
    for (std::size_t at = 0; at < packed.size(); at += block)
        e->encodeChunk(
            {packed.data() + at, static_cast<uint32_t>(std::min<std::size_t>(block, packed.size() - at)), nullptr});
    e->close();
    Decoded d = decodeFlac(readFile(path));
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.md5Checked);
    EXPECT_EQ(d.bits, 24u);
    EXPECT_EQ(d.rate, 96000u);
    EXPECT_EQ(d.totalSamples, values.size() / 2);
    EXPECT_TRUE(d.wide == values) << "bit for bit";
}

class FlacFile : public ::testing::Test {
protected:
    TempDir dir;
    SoundFormat format = kit::kRecordingFormat;
    std::string path = dir.file("take.flac");
};

TEST_F(FlacFile, TheHostsFlacAndFfmpegReadTheFinishedFile) {
    std::vector<int16_t> audio = signal(44100 * 3, format);
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &format));
    encode(*e, audio, 17640);
    e->close();
    auto test = testsupport::runNative(dir.path(), "flac -t take.flac", 60000);
    EXPECT_EQ(test.exitCode, 0) << test.output;
    auto raw = testsupport::runNative(dir.path(), "ffmpeg -v error -i take.flac -f s16le -y take.raw", 60000);
    EXPECT_EQ(raw.exitCode, 0) << raw.output;
    std::string bytes = readFile(dir.file("take.raw"));
    EXPECT_TRUE(bytes == std::string(reinterpret_cast<const char*>(audio.data()), audio.size() * 2));
}

TEST_F(FlacFile, ARecordingWithoutChunksIsAnEmptyStreamAndAnExistingFileIsReplaced) {
    testsupport::writeFile(path, std::string(100000, 'x'));
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &format));
    e->close();
    std::string file = readFile(path);
    EXPECT_EQ(file.substr(0, 4), "fLaC");
    std::string vendor = FLAC__VENDOR_STRING;
    EXPECT_EQ(file.size(), 4u + 4 + 34 + 4 + 4 + vendor.size() + 4 + 4 + kit::kFlacReserveBytes)
        << "STREAMINFO, libFLAC's VORBIS_COMMENT and the padding only";
    Decoded d = decodeFlac(file);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.totalSamples, 0u);
    EXPECT_TRUE(d.samples.empty());
}

TEST_F(FlacFile, AFolderThatDoesNotExistFailsFromTheConstructorAsForWav) {
    std::string missing = dir.file("no such folder\\take.flac");
    kit::OutputFault wavFault = kit::OutputFault::none;
    uint32_t wavCode = 0;
    try {
        kit::WaveSoundEncoder wav(dir.file("no such folder\\take.wav").c_str(), &format);
    } catch (const kit::OutputError& error) {
        wavFault = error.fault;
        wavCode = error.code;
    }
    try {
        FlacSoundEncoder e(missing.c_str(), &format);
        FAIL() << "constructed";
    } catch (const kit::ARuntimeError& error) {
        EXPECT_STREQ(error.message().c_str(), "CreateFile() failed");
        EXPECT_STREQ(error.originFile(), "encoding.flac/flac_encoding");
        auto* output = dynamic_cast<const kit::OutputError*>(&error);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->fault, kit::OutputFault::folderMissing);
        EXPECT_EQ(output->fault, wavFault);
        EXPECT_EQ(output->code, wavCode);
        EXPECT_EQ(output->path.str(), missing);
    }
    EXPECT_FALSE(testsupport::fileExists(missing));
}

TEST_F(FlacFile, DestroyingAnUnclosedEncoderCompletesTheFile) {
    std::vector<int16_t> audio = signal(30000, format);
    {
        smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &format));
        encode(*e, audio, 17640);
    }
    Decoded d = decodeFlac(readFile(path));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.totalSamples, 30000u);
    EXPECT_TRUE(d.md5Checked);
    EXPECT_TRUE(d.samples == audio);
}

// While recording, every frame reaches the file as it is made: the file is a
// stream of all but the last moments, of unknown length.
TEST_F(FlacFile, WhileRecordingTheFileDecodesUpToTheLastTenthOfASecond) {
    std::vector<int16_t> audio = signal(44100 * 2, format);
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &format));
    encode(*e, audio, 17640);
    Decoded d = decodeFlac(readFile(path));
    e->close();
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.totalSamples, 0u) << "unknown until the end";
    EXPECT_FALSE(d.md5Set);
    EXPECT_TRUE(samePrefix(d.samples, audio));
    EXPECT_GE(d.samples.size(), audio.size() - 4410 * 2) << "within 0.1 s";
}

// A child that encodes 3.5 s, then waits to be killed.
std::vector<int16_t> killedAudio() { return signal(44100 * 7 / 2, kit::kRecordingFormat, 11); }

int killedChild(const std::vector<std::string>& args) {
    SoundFormat format = kit::kRecordingFormat;
    smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(args.at(0).c_str(), &format));
    encode(*e, killedAudio(), 17640);
    testsupport::writeFile(args.at(0) + ".ready", "1");
    ::Sleep(INFINITE);
    return 0;
}
testsupport::ChildMain killedChildMain("flac-killed", killedChild);

TEST(FlacKilled, AKilledRecordingDecodesUpToTheLastTenthOfASecond) {
    TempDir dir;
    std::string path = dir.file("take.flac");
    testsupport::ChildProcess child("flac-killed", {path});
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::fileExists(path + ".ready"); }, 30000));
    child.kill();
    ASSERT_TRUE(child.wait(10000));
    std::vector<int16_t> audio = killedAudio();
    Decoded d = decodeFlac(readFile(path));
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(samePrefix(d.samples, audio));
    EXPECT_GE(d.samples.size(), audio.size() - 4410 * 2);
    // The host's tools: the file ends after a whole frame (each goes to the
    // file in one write), so flac needs no -F; it only warns of the MD5 unset.
    auto test = testsupport::runNative(dir.path(), "flac -t take.flac", 60000);
    EXPECT_EQ(test.exitCode, 0) << test.output;
    auto raw = testsupport::runNative(dir.path(), "ffmpeg -v error -i take.flac -f s16le -y take.raw", 60000);
    EXPECT_EQ(raw.exitCode, 0) << raw.output;
    std::string bytes = readFile(dir.file("take.raw"));
    EXPECT_EQ(bytes.size(), d.samples.size() * 2);
    EXPECT_TRUE(bytes.compare(0, bytes.size(), reinterpret_cast<const char*>(audio.data()), bytes.size()) == 0);
}

// A disk of its own that fills up: the write that does not fit fails at
// once, and the file is left a stream of the frames that reached the disk.
TEST(FlacOnAFullDisk, TheFileKeepsTheWholeFramesThatReachedTheDiskAndSaysSo) {
    TempDir dir;
    std::string folder = dir.file("small");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    testsupport::SmallDisk disk(folder, 1 << 20);
    ASSERT_TRUE(disk.mounted()) << "mounting a tmpfs needs root";
    std::string path = folder + "\\take.flac";
    SoundFormat format = kit::kRecordingFormat;
    std::vector<int16_t> audio(44100 * 2 * 12);  // 12 s of loud noise: far more than 1 MiB
    uint32_t lcg = 5;
    for (auto& s : audio) s = static_cast<int16_t>((lcg = lcg * 1664525u + 1013904223u) >> 16);
    kit::OutputFault fault = kit::OutputFault::none;
    {
        smartptr<FlacSoundEncoder> e(new FlacSoundEncoder(path.c_str(), &format));
        try {
            encode(*e, audio, 17640);
            ADD_FAILURE() << "no failure on a full disk";
        } catch (const kit::OutputError& error) {
            fault = error.fault;
        }
        e->close();
    }
    EXPECT_EQ(fault, kit::OutputFault::diskFull);
    Decoded d = decodeFlac(readFile(path));
    EXPECT_TRUE(d.ok) << d.errors << " errors";
    EXPECT_GT(d.samples.size(), 44100u * 2 * 4) << "most of the disk is used";
    EXPECT_EQ(d.totalSamples * 2, d.samples.size()) << "STREAMINFO counts exactly what the file holds";
    EXPECT_TRUE(samePrefix(d.samples, audio));
}

// The encoder behind the stream, as a recording uses it.
TEST(FlacThroughStream, EveryChunkReachesTheFileInOrder) {
    TempDir dir;
    std::string path = dir.file("s.flac");
    SoundFormat format = kit::kRecordingFormat;
    smartptr<kit::EventQueue> q(new kit::EventQueue);
    smartptr<kit::GenericSoundEncodingStream> s(new kit::GenericSoundEncodingStream);
    s->setCompletionQueue(q, 5);
    std::vector<int16_t> audio = signal(4410 * 12, format);
    auto data = reinterpret_cast<const uint8_t*>(audio.data());
    for (int i = 0; i < 12; ++i) s->write(data + i * 17640, 17640, nullptr);
    s->setEncoder(smartptr<kit::ISoundEncoder>(new FlacSoundEncoder(path.c_str(), &format)));
    s->finish();
    Decoded d = decodeFlac(readFile(path));
    EXPECT_TRUE(d.md5Checked);
    EXPECT_TRUE(d.samples == audio);
}

}  // namespace
