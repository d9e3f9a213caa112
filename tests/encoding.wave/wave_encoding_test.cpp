#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "support/support.h"

namespace {

using kit::Chunk;
using kit::smartptr;
using kit::SoundFormat;
using kit::WaveSoundEncoder;
using testsupport::readFile;
using testsupport::TempDir;

uint32_t u32(const std::string& s, std::size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}
uint16_t u16(const std::string& s, std::size_t at) {
    uint16_t v = 0;
    std::memcpy(&v, s.data() + at, 2);
    return v;
}

// The 44-byte header the file must start with, written out by hand.
std::string expectedHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes, uint32_t riffBytes) {
    std::string h;
    auto put32 = [&](uint32_t v) { h.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { h.append(reinterpret_cast<const char*>(&v), 2); };
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    h += "RIFF";
    put32(riffBytes);
    h += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(channels);
    put32(rate);
    put32(align * rate);
    put16(align);
    put16(bits);
    h += "data";
    put32(dataBytes);
    return h;
}

// The 68-byte header of a 24-bit stereo file, written out by hand from the
// platform's WAVEFORMATEXTENSIBLE: tag 0xFFFE, 22 bytes more, all 24 bits
// valid, front left and right, KSDATAFORMAT_SUBTYPE_PCM.
std::string expected24BitHeader(uint32_t rate, uint32_t dataBytes, uint32_t riffBytes) {
    std::string h;
    auto put32 = [&](uint32_t v) { h.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { h.append(reinterpret_cast<const char*>(&v), 2); };
    h += "RIFF";
    put32(riffBytes);
    h += "WAVEfmt ";
    put32(40);
    put16(0xFFFE);
    put16(2);
    put32(rate);
    put32(6 * rate);
    put16(6);
    put16(24);
    put16(22);
    put16(24);
    put32(3);
    const unsigned char pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};
    h.append(reinterpret_cast<const char*>(pcmGuid), 16);
    h += "data";
    put32(dataBytes);
    return h;
}

// Deterministic bytes of PCM.
std::string pcm(std::size_t n, uint32_t seed = 7) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (auto& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

void encode(WaveSoundEncoder& e, const std::string& bytes, std::size_t chunkSize) {
    for (std::size_t at = 0; at < bytes.size(); at += chunkSize) {
        std::size_t n = std::min(chunkSize, bytes.size() - at);
        e.encodeChunk(Chunk{reinterpret_cast<const uint8_t*>(bytes.data() + at), static_cast<uint32_t>(n), nullptr});
    }
}

// ---- header arithmetic ------------------------------------------------------------

struct HeaderCase {
    SoundFormat format;
    uint16_t channels, blockAlign, bits;
    uint32_t rate, avgBytes;
};

class PcmHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PcmHeader, FollowsTheFormatRecord) {
    const HeaderCase& c = GetParam();
    PCMWAVEFORMAT h = kit::pcmHeader(c.format);
    EXPECT_EQ(sizeof h, 16u);
    EXPECT_EQ(h.wf.wFormatTag, 1);
    EXPECT_EQ(h.wf.nChannels, c.channels);
    EXPECT_EQ(h.wf.nSamplesPerSec, c.rate);
    EXPECT_EQ(h.wf.nAvgBytesPerSec, c.avgBytes);
    EXPECT_EQ(h.wf.nBlockAlign, c.blockAlign);
    EXPECT_EQ(h.wBitsPerSample, c.bits);
}

INSTANTIATE_TEST_SUITE_P(Formats, PcmHeader,
                         ::testing::Values(HeaderCase{{2, 16, 44100}, 2, 4, 16, 44100, 176400},
                                           HeaderCase{{1, 8, 22050}, 1, 1, 8, 22050, 22050},
                                           HeaderCase{{1, 16, 8000}, 1, 2, 16, 8000, 16000},
                                           HeaderCase{{2, 8, 11025}, 2, 2, 8, 11025, 22050},
                                           HeaderCase{{6, 24, 48000}, 6, 18, 24, 48000, 864000},
                                           // only the low 16 bits of channels and bits count
                                           HeaderCase{{0x10002, 0x10010, 44100}, 2, 4, 16, 44100, 176400}));

struct SizeCase {
    uint32_t data, riff;
};
class WaveHeaderSizes : public ::testing::TestWithParam<SizeCase> {};
TEST_P(WaveHeaderSizes, AreUnsigned32BitFieldsWithThePadCounted) {
    auto h = kit::waveHeader(kit::kRecordingFormat, GetParam().data);
    std::string bytes(h.begin(), h.end());
    EXPECT_EQ(bytes, expectedHeader(2, 44100, 16, GetParam().data, GetParam().riff));
}
INSTANTIATE_TEST_SUITE_P(Table, WaveHeaderSizes,
                         ::testing::Values(SizeCase{0, 36}, SizeCase{3, 40}, SizeCase{4, 40},
                                           SizeCase{0x7FFFFFF0u, 0x80000014u},  // past 2 GiB
                                           SizeCase{0xFEFFFFD8u, 0xFEFFFFFCu},  // the part limit
                                           SizeCase{0xFFFFFFDAu, 0xFFFFFFFEu}, SizeCase{0xFFFFFFD9u, 0xFFFFFFFEu}));

TEST(WaveParts, TheLimitLeavesTheRiffSizeAMarginInWholeFrames) {
    uint32_t cd = kit::wavePartLimit(kit::kRecordingFormat);
    EXPECT_EQ(cd % 4, 0u);
    EXPECT_LE(uint64_t{cd} + 36 + 1 + (16u << 20), 0xFFFFFFFFull);
    EXPECT_GT(uint64_t{cd} + 36 + 1 + (16u << 20) + 4, 0xFFFFFFFFull) << "no more margin than that";
    EXPECT_EQ(kit::wavePartLimit({3, 16, 48000}) % 6, 0u);
}

struct NameCase {
    const char* first;
    uint32_t n;
    const char* part;
};
class WavePartNames : public ::testing::TestWithParam<NameCase> {};
TEST_P(WavePartNames, NumberTheContinuationFiles) {
    EXPECT_EQ(kit::wavePartName(GetParam().first, GetParam().n), GetParam().part);
}
INSTANTIATE_TEST_SUITE_P(Table, WavePartNames,
                         ::testing::Values(NameCase{"D:\\rec\\take.wav", 2, "D:\\rec\\take (2).wav"},
                                           NameCase{"D:\\rec\\take.wav", 12, "D:\\rec\\take (12).wav"},
                                           NameCase{"D:\\rec.d\\take", 2, "D:\\rec.d\\take (2)"},
                                           NameCase{"D:\\rec\\a.b.wav", 3, "D:\\rec\\a.b (3).wav"},
                                           NameCase{"D:\\rec\\.wav", 2, "D:\\rec\\.wav (2)"},
                                           NameCase{"take.wav", 2, "take (2).wav"}));

// ---- files --------------------------------------------------------------------------

class WaveFile : public ::testing::Test {
protected:
    TempDir dir;
    SoundFormat format = kit::kRecordingFormat;
    std::string path = dir.file("take.wav");
};

TEST_F(WaveFile, ARecordingWithoutChunksIsAnEmpty44ByteWav) {
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
    e->close();
    EXPECT_EQ(readFile(path), expectedHeader(2, 44100, 16, 0, 36));
}

TEST_F(WaveFile, OneChannel8BitFormatGivesItsOwnAlignmentAndRate) {
    SoundFormat mono8{1, 8, 22050};
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &mono8));
    std::string bytes = pcm(1000);
    encode(*e, bytes, 100);
    e->close();
    std::string file = readFile(path);
    EXPECT_EQ(u16(file, 32), 1) << "block alignment";
    EXPECT_EQ(u32(file, 28), 22050u) << "bytes per second";
    EXPECT_EQ(file, expectedHeader(1, 22050, 8, 1000, 1036) + bytes);
}

TEST_F(WaveFile, AnExistingFileIsReplaced) {
    testsupport::writeFile(path, std::string(100000, 'x'));
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
    encode(*e, pcm(400), 400);
    e->close();
    EXPECT_EQ(readFile(path), expectedHeader(2, 44100, 16, 400, 436) + pcm(400));
}

TEST_F(WaveFile, AFolderThatDoesNotExistFailsFromTheConstructor) {
    std::string missing = dir.file("no such folder\\take.wav");
    try {
        WaveSoundEncoder e(missing.c_str(), &format);
        FAIL() << "constructed";
    } catch (const kit::ARuntimeError& error) {
        EXPECT_STREQ(error.message().c_str(), "CreateFile() failed");
        EXPECT_STREQ(error.originFile(), "encoding.wave/wave_encoding");
        auto* output = dynamic_cast<const kit::OutputError*>(&error);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->fault, kit::OutputFault::folderMissing);
    }
    EXPECT_FALSE(testsupport::fileExists(missing));
}

TEST_F(WaveFile, DestroyingAnUnclosedEncoderCompletesTheFile) {
    {
        smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
        encode(*e, pcm(8000), 1000);
    }
    EXPECT_EQ(readFile(path), expectedHeader(2, 44100, 16, 8000, 8036) + pcm(8000));
}

TEST_F(WaveFile, WhileRecordingTheFileIsAValidWavOfAllButTheLastSecond) {
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
    const std::size_t block = 17640;  // 100 ms
    std::string audio = pcm(block * 35);
    // Right after creation: a valid empty WAV on disk.
    std::string file = readFile(path);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(file.substr(0, 44), expectedHeader(2, 44100, 16, 0, 36));

    struct Step {
        std::size_t blocks;
        uint32_t expectedData;  // what the header on disk counts after that many blocks
    };
    for (Step step : {Step{9, 0}, Step{10, 176400}, Step{19, 176400}, Step{20, 352800}, Step{35, 529200}}) {
        while (e->dataBytes() < step.blocks * block) {
            std::size_t at = e->dataBytes();
            e->encodeChunk(
                Chunk{reinterpret_cast<const uint8_t*>(audio.data() + at), static_cast<uint32_t>(block), nullptr});
        }
        file = readFile(path);
        ASSERT_GE(file.size(), 44u + step.expectedData) << step.blocks;
        EXPECT_EQ(u32(file, 40), step.expectedData) << step.blocks;
        EXPECT_EQ(u32(file, 4), step.expectedData + 36) << step.blocks;
        EXPECT_EQ(file.compare(44, step.expectedData, audio, 0, step.expectedData), 0) << step.blocks;
    }
    e->close();
    EXPECT_EQ(readFile(path), expectedHeader(2, 44100, 16, 35 * block, 35 * block + 36) + audio);
}

// Property: whatever the chunking, the sizes equal the bytes written and the
// data are the bytes given, across several provisional size updates.
struct Chunking {
    std::size_t total;
    std::size_t chunk;
};

class WaveSizes : public ::testing::TestWithParam<Chunking> {};

TEST_P(WaveSizes, EqualTheBytesWritten) {
    TempDir dir;
    std::string path = dir.file("p.wav");
    SoundFormat format = kit::kRecordingFormat;
    std::string bytes = pcm(GetParam().total, static_cast<uint32_t>(GetParam().chunk));
    {
        smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
        encode(*e, bytes, GetParam().chunk);
        e->close();
    }
    std::string file = readFile(path);
    uint32_t n = static_cast<uint32_t>(bytes.size());
    uint32_t pad = n & 1;
    ASSERT_EQ(file.size(), 44u + n + pad);
    EXPECT_EQ(u32(file, 40), n);
    EXPECT_EQ(u32(file, 4), n + 36 + pad);
    EXPECT_EQ(file.substr(0, 36), expectedHeader(2, 44100, 16, n, n + 36 + pad).substr(0, 36));
    EXPECT_EQ(file.compare(44, n, bytes), 0) << "the PCM is unchanged";
}

INSTANTIATE_TEST_SUITE_P(Chunkings, WaveSizes,
                         ::testing::Values(Chunking{0, 4}, Chunking{2, 2}, Chunking{4096, 4096}, Chunking{8192, 8192},
                                           Chunking{8194, 2}, Chunking{100000, 8190}, Chunking{176400, 17640},
                                           Chunking{176404, 17640}, Chunking{529200 + 8, 4}, Chunking{600000, 65536},
                                           Chunking{700000, 176400}, Chunking{1000000, 176401},
                                           Chunking{1000001, 333}));

// 24 bits: the extensible header, its sizes kept current while recording
// (at its own offsets), the data as given, in continuation files too.
TEST_F(WaveFile, A24BitRecordingHasTheExtensibleHeaderKeptCurrentInEveryPart) {
    SoundFormat deep{2, 24, 48000};
    const uint32_t second = 288000;
    const uint32_t limit = second * 2 + 6000;  // whole frames of 6 bytes
    std::string audio = pcm(second * 3 + 6 * 7);
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &deep, limit));
    EXPECT_EQ(readFile(path), expected24BitHeader(48000, 0, 60)) << "a valid empty WAV from the start";
    encode(*e, audio.substr(0, second + 600), 28800);
    std::string file = readFile(path);
    EXPECT_EQ(file.substr(0, 68), expected24BitHeader(48000, second, second + 60)) << "the sizes after a second";
    EXPECT_EQ(file.compare(68, second, audio, 0, second), 0);
    encode(*e, audio.substr(second + 600), 28800);
    e->close();
    ASSERT_EQ(e->fileParts(), 2u);
    std::string first = readFile(path);
    std::string next = readFile(kit::wavePartName(path, 2));
    uint32_t rest = static_cast<uint32_t>(audio.size()) - limit;
    EXPECT_EQ(first, expected24BitHeader(48000, limit, limit + 60) + audio.substr(0, limit));
    EXPECT_EQ(next, expected24BitHeader(48000, rest, rest + 60) + audio.substr(limit));
    EXPECT_EQ(kit::wavePartLimit(deep) % 6, 0u);
    EXPECT_LE(uint64_t{kit::wavePartLimit(deep)} + 60 + 1 + (16u << 20), 0xFFFFFFFFull) << "the RIFF size fits";

    testsupport::WavFile read = testsupport::readWav(path);
    EXPECT_TRUE(read.valid);
    EXPECT_EQ(read.bitsPerSample, 24);
    EXPECT_EQ(read.dataSize, limit);
}

// ---- continuation files ---------------------------------------------------------------

// The data of each part of a recording, checked to be a valid WAV whose sizes
// match what it holds (a closed part holds nothing more; a part cut off by a
// killed process may hold more than its sizes count so far).
std::vector<std::string> partsData(const std::string& first, uint32_t parts, bool closed = true) {
    std::vector<std::string> data;
    for (uint32_t n = 1; n <= parts; ++n) {
        std::string path = n == 1 ? first : kit::wavePartName(first, n);
        std::string file = readFile(path);
        EXPECT_GE(file.size(), 44u) << path;
        if (file.size() < 44) break;
        uint32_t size = u32(file, 40);
        if (closed)
            EXPECT_EQ(file.size(), 44u + size + (size & 1)) << path;
        else
            EXPECT_GE(file.size(), 44u + size) << path;
        EXPECT_EQ(file.substr(0, 44), expectedHeader(2, 44100, 16, size, size + 36 + (size & 1))) << path;
        data.push_back(file.substr(44, size));
    }
    return data;
}

TEST_F(WaveFile, ARecordingPastThePartLimitGoesOnInContinuationFilesWithoutLosingAByte) {
    constexpr uint32_t kLimit = 7000;  // in whole frames
    std::string audio = pcm(17640 * 3 + 8);
    {
        smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format, kLimit));
        encode(*e, audio, 17640);  // the chunks straddle the boundaries
        EXPECT_EQ(e->fileParts(), 8u);
        EXPECT_EQ(e->dataBytes(), audio.size());
        e->close();
    }
    std::vector<std::string> data = partsData(path, 8);
    ASSERT_EQ(data.size(), 8u);
    std::string joined;
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i].size(), i + 1 < data.size() ? kLimit : audio.size() - 7 * kLimit) << "part " << i + 1;
        joined += data[i];
    }
    EXPECT_TRUE(joined == audio) << "the parts together are exactly what was written";
    EXPECT_FALSE(testsupport::fileExists(kit::wavePartName(path, 9)));
}

TEST_F(WaveFile, AContinuationNameThatIsTakenIsSkippedNotReplaced) {
    std::string other = kit::wavePartName(path, 2);
    testsupport::writeFile(other, "someone else's file");
    std::string audio = pcm(10000);
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format, 4000));
    encode(*e, audio, 1000);
    EXPECT_EQ(e->currentPartPath(), kit::wavePartName(path, 4));
    e->close();
    EXPECT_EQ(readFile(other), "someone else's file");
    std::string part3 = readFile(kit::wavePartName(path, 3)), part4 = readFile(kit::wavePartName(path, 4));
    EXPECT_EQ(readFile(path).substr(44) + part3.substr(44) + part4.substr(44), audio);
}

// A child that writes 2 s into the first part and 1.5 s into the second,
// then waits to be killed.
constexpr uint32_t kSecond = 176400;
std::string killedAudio() { return pcm(kSecond * 7 / 2, 11); }

int partsChild(const std::vector<std::string>& args) {
    SoundFormat format = kit::kRecordingFormat;
    smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(args.at(0).c_str(), &format, 2 * kSecond));
    encode(*e, killedAudio(), 17640);
    testsupport::writeFile(args.at(0) + ".ready", "1");
    ::Sleep(INFINITE);
    return 0;
}
testsupport::ChildMain partsChildMain("wave-parts", partsChild);

TEST(WaveKilled, WhileWritingThePartTwoBothPartsAreValidWithAllButTheLastSecond) {
    TempDir dir;
    std::string path = dir.file("take.wav");
    testsupport::ChildProcess child("wave-parts", {path});
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::fileExists(path + ".ready"); }, 30000));
    child.kill();
    ASSERT_TRUE(child.wait(10000));
    std::string audio = killedAudio();
    std::vector<std::string> data = partsData(path, 2, false);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_TRUE(data[0] == audio.substr(0, 2 * kSecond)) << "the first part is complete";
    EXPECT_EQ(data[1].size(), kSecond) << "the second counts all but its last (half) second";
    EXPECT_TRUE(data[1] == audio.substr(2 * kSecond, kSecond));
}

// A disk of its own that fills up: the write that does not fit fails at
// once, and the file is left a WAV of exactly what reached the disk.
TEST(WaveOnAFullDisk, TheFileKeepsWhatReachedTheDiskAndSaysSo) {
    TempDir dir;
    std::string folder = dir.file("small");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    testsupport::SmallDisk disk(folder, 1 << 20);
    ASSERT_TRUE(disk.mounted()) << "mounting a tmpfs needs root";
    std::string path = folder + "\\take.wav";
    SoundFormat format = kit::kRecordingFormat;
    std::string audio = pcm(17640 * 80);  // 8 s: far more than 1 MiB
    kit::OutputFault fault = kit::OutputFault::none;
    {
        smartptr<WaveSoundEncoder> e(new WaveSoundEncoder(path.c_str(), &format));
        try {
            encode(*e, audio, 17640);
            ADD_FAILURE() << "no failure on a full disk";
        } catch (const kit::OutputError& error) {
            fault = error.fault;
        }
        e->close();
    }
    EXPECT_EQ(fault, kit::OutputFault::diskFull);
    std::string file = readFile(path);
    uint32_t size = u32(file, 40);
    EXPECT_GT(size, 900000u);
    EXPECT_EQ(size % 4, 0u) << "whole frames";
    EXPECT_EQ(file.size(), 44u + size) << "the header counts exactly what the file holds";
    EXPECT_EQ(u32(file, 4), size + 36);
    EXPECT_TRUE(file.compare(44, size, audio, 0, size) == 0);
}

// The encoder behind the stream: what is written is what the file holds.
TEST(WaveThroughStream, EveryChunkReachesTheFileInOrder) {
    TempDir dir;
    std::string path = dir.file("s.wav");
    SoundFormat format = kit::kRecordingFormat;
    smartptr<kit::EventQueue> q(new kit::EventQueue);
    smartptr<kit::GenericSoundEncodingStream> s(new kit::GenericSoundEncodingStream);
    s->setCompletionQueue(q, 5);
    std::string audio = pcm(17640 * 12);
    for (int i = 0; i < 12; ++i) s->write(audio.data() + i * 17640, 17640, nullptr);
    s->setEncoder(smartptr<kit::ISoundEncoder>(new WaveSoundEncoder(path.c_str(), &format)));
    s->finish();
    EXPECT_EQ(readFile(path), expectedHeader(2, 44100, 16, 17640 * 12, 17640 * 12 + 36) + audio);
    testsupport::WavFile w = testsupport::readWav(path);
    EXPECT_TRUE(w.valid);
    EXPECT_EQ(w.samples.size(), 17640u * 6);
}

}  // namespace
