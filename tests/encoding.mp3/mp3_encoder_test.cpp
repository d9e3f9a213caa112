// The MP3 encoder against test libraries that stand in for lame_enc.dll.
//
// The encoder loads "lame_enc.dll" by name and keeps it for the rest of the
// process, so every case runs in a child process: a copy of this program in a
// scratch folder that holds the chosen test library as lame_enc.dll (or none).
#include <gmock/gmock.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <sstream>

#include "encoding.mp3/mp3_encoding.h"
#include "kit/exceptions.h"
#include "support/support.h"

namespace {

using namespace testsupport;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// ---- the configuration record --------------------------------------------------------

struct ConfigCase {
    kit::Mp3Format format;
    uint32_t maxBitrate;
};

class Mp3ConfigRecord : public ::testing::TestWithParam<ConfigCase> {};

uint32_t at(const void* record, std::size_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(record) + offset, 4);
    return v;
}

// The record's bytes as the library reads them: the listed fields, all else zero.
std::vector<uint8_t> expectedRecord(const kit::Mp3Format& f, uint32_t maxBitrate) {
    std::vector<uint8_t> bytes(331, 0);
    auto put = [&](std::size_t offset, uint32_t v) { std::memcpy(&bytes[offset], &v, 4); };
    put(0, 256);
    put(4, 1);
    put(8, 331);
    put(12, static_cast<uint32_t>(f.sampleRate));
    put(16, kit::mp3ResampleRate(static_cast<uint32_t>(f.sampleRate)));
    put(20, 1);
    put(24, static_cast<uint32_t>(f.bitrate));
    put(28, maxBitrate);
    put(32, 4);
    put(36, 1);
    put(52, 1);
    put(60, 1);
    put(64, 1);  // the information frame, always
    put(68, f.vbr ? 1 : 0);
    put(84, 1);
    return bytes;
}

TEST_P(Mp3ConfigRecord, HoldsTheFormatAtItsOffsetsAndZeroElsewhere) {
    const ConfigCase& c = GetParam();
    kit::lame::Config record = kit::mp3Config(c.format);
    ASSERT_EQ(sizeof record, 331u);
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&record),
                               reinterpret_cast<const uint8_t*>(&record) + sizeof record);
    EXPECT_EQ(bytes, expectedRecord(c.format, c.maxBitrate));
    EXPECT_EQ(at(&record, 24), static_cast<uint32_t>(c.format.bitrate));
    EXPECT_EQ(at(&record, 28), c.maxBitrate);
}

INSTANTIATE_TEST_SUITE_P(Formats, Mp3ConfigRecord,
                         ::testing::Values(ConfigCase{{128, 44100, false}, 128},  // format 1
                                           ConfigCase{{96, 44100, false}, 96},    // format 2
                                           ConfigCase{{64, 44100, false}, 64},    // format 4 at 64
                                           ConfigCase{{320, 44100, false}, 320}, ConfigCase{{128, 44100, true}, 320},
                                           ConfigCase{{160, 48000, false}, 160}, ConfigCase{{128, 96000, false}, 128},
                                           ConfigCase{{128, 88200, false}, 128}));

// Rates MPEG audio has stay; higher ones go to the nearest family's 44 100 or 48 000.
TEST(Mp3ResampleRate, AboveMpegRatesOnly) {
    const uint32_t cases[][2] = {{8000, 0},       {22050, 0},      {44100, 0},      {48000, 0},
                                 {48001, 48000},  {88200, 44100},  {96000, 48000},  {176400, 44100},
                                 {192000, 48000}, {352800, 44100}, {384000, 48000}, {64000, 48000}};
    for (const auto& c : cases) EXPECT_EQ(kit::mp3ResampleRate(c[0]), c[1]) << c[0];
}

// ---- cutting a block into library calls ------------------------------------------------

struct PieceCase {
    uint32_t remainingBytes, samplesPerCall, expected;
};

class Mp3Pieces : public ::testing::TestWithParam<PieceCase> {};

TEST_P(Mp3Pieces, TakeAtMostSamplesPerCall) {
    const PieceCase& c = GetParam();
    EXPECT_EQ(kit::mp3PieceSamples(c.remainingBytes, c.samplesPerCall), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Mp3Pieces,
                         ::testing::Values(PieceCase{2304, 1152, 1152}, PieceCase{2306, 1152, 1152},
                                           PieceCase{2302, 1152, 1151}, PieceCase{1152, 1152, 576},
                                           PieceCase{17640, 2304, 2304}, PieceCase{4, 2304, 2}, PieceCase{3, 2304, 1},
                                           PieceCase{1, 2304, 0}, PieceCase{0, 2304, 0},
                                           PieceCase{0xFFFFFFFFu, 1152, 1152},
                                           PieceCase{0xFFFFFFFFu, 0xFFFFFFFFu, 0x7FFFFFFFu}));

TEST(Mp3Pieces, CoverEveryWholeSampleOfAnyBlock) {
    for (uint32_t perCall : {1u, 2u, 576u, 1152u, 2304u, 4608u}) {
        for (uint32_t length = 0; length < 20000; length += 7) {
            uint32_t done = 0, calls = 0;
            while (done < length) {
                uint32_t n = kit::mp3PieceSamples(length - done, perCall);
                if (n == 0) break;
                ASSERT_LE(n, perCall);
                done += 2 * n;
                ++calls;
            }
            uint32_t samples = length / 2;
            ASSERT_EQ(done, samples * 2) << "length " << length << " per call " << perCall;
            ASSERT_EQ(calls, (samples + perCall - 1) / perCall) << "length " << length << " per call " << perCall;
        }
    }
}

// ---- frame sizes -------------------------------------------------------------------------

struct FrameCase {
    uint8_t header[4];
    uint32_t bytes;
};
class Mp3Frames : public ::testing::TestWithParam<FrameCase> {};
TEST_P(Mp3Frames, SizeFollowsTheHeader) { EXPECT_EQ(kit::mp3FrameBytes(GetParam().header), GetParam().bytes); }
INSTANTIATE_TEST_SUITE_P(Table, Mp3Frames,
                         ::testing::Values(FrameCase{{0xFF, 0xFB, 0x90, 0x44}, 417},  // 128 kbit/s, 44100 Hz
                                           FrameCase{{0xFF, 0xFB, 0x92, 0x44}, 418},  // padded
                                           FrameCase{{0xFF, 0xFA, 0x10, 0x44}, 104},  // 32 kbit/s, CRC
                                           FrameCase{{0xFF, 0xFB, 0xE4, 0x44}, 960},  // 320 kbit/s, 48000 Hz
                                           FrameCase{{0xFF, 0xF3, 0x88, 0x44}, 288},  // MPEG-2, 64 kbit/s, 22050 Hz
                                           FrameCase{{0xFF, 0xFB, 0xF0, 0x44}, 0},    // bad bitrate
                                           FrameCase{{0xFF, 0xFB, 0x9C, 0x44}, 0},    // reserved rate
                                           FrameCase{{0xFF, 0xFD, 0x90, 0x44}, 0},    // Layer II
                                           FrameCase{{0xFE, 0xFB, 0x90, 0x44}, 0},    // no sync
                                           FrameCase{{0x49, 0x44, 0x33, 0x04}, 0}));  // "ID3"

// ---- the child side ------------------------------------------------------------------------

std::map<std::string, std::string> words(const std::string& text) {
    std::map<std::string, std::string> m;
    std::istringstream in(text);
    std::string w;
    while (in >> w) {
        auto eq = w.find('=');
        if (eq != std::string::npos) m[w.substr(0, eq)] = w.substr(eq + 1);
    }
    return m;
}

std::vector<uint32_t> numberList(const std::string& text) {
    std::vector<uint32_t> v;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) v.push_back(static_cast<uint32_t>(std::stoul(item)));
    return v;
}

// The sample at a position of the whole recording: a ramp, so that each piece
// the library receives shows where it was cut from.
int16_t rampSample(uint32_t index) { return static_cast<int16_t>(index % 30000); }

// Child: args[0] the test library's control words, args[1] the plan:
// bitrate=N rate=N vbr=0|1 path=NAME blocks=BYTES,BYTES,...
// Writes what happened to result.txt and the events traced to events.txt.
int encodeChild(const std::vector<std::string>& args) {
    ::SetEnvironmentVariableA("FAKE_LAME", args.size() > 0 ? args[0].c_str() : "");
    char folder[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    std::string here(folder);
    ::SetEnvironmentVariableA("FAKE_LAME_LOG", (here + "\\calls.txt").c_str());
    auto plan = words(args.size() > 1 ? args[1] : "");
    kit::Mp3Format format{plan.count("bitrate") ? std::stoi(plan["bitrate"]) : 128,
                          plan.count("rate") ? std::stoi(plan["rate"]) : 44100, plan["vbr"] == "1"};
    std::string path = plan.count("path") ? plan["path"] : "out.mp3";

    EventsFile events;
    std::ostringstream result;
    auto failure = [&](const char* phase, const kit::Exception& e) {
        result << "error " << phase << ": " << e.message().c_str() << " @ " << (e.originFile() ? e.originFile() : "")
               << "\n";
    };
    uint32_t sampleIndex = 0;
    try {
        kit::smartptr<kit::Mp3SoundEncoder> encoder;
        try {
            encoder = new kit::Mp3SoundEncoder(path, &format);
            result << "constructed\n";
        } catch (const kit::Exception& e) {
            failure("init", e);
            throw;
        }
        try {
            for (uint32_t length : numberList(plan["blocks"])) {
                std::vector<int16_t> pcm((length + 1) / 2);
                for (auto& s : pcm) s = rampSample(sampleIndex++);
                sampleIndex -= static_cast<uint32_t>(pcm.size()) - length / 2;
                kit::Chunk chunk{reinterpret_cast<const uint8_t*>(pcm.data()), length, nullptr};
                encoder->encodeChunk(chunk);
                result << "encoded " << length << "\n";
            }
        } catch (const kit::Exception& e) {
            failure("encode", e);
            throw;
        }
        try {
            encoder->close();
            result << "closed\n";
        } catch (const kit::Exception& e) {
            failure("close", e);
            throw;
        }
    } catch (const kit::Exception&) {}
    writeFile(here + "\\result.txt", result.str());
    writeFile(here + "\\events.txt", events.added());
    return 0;
}
ChildMain encodeChildMain("encode", encodeChild);

// ---- the parent side ---------------------------------------------------------------------

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) v.push_back(line);
    return v;
}

struct Outcome {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> calls;   // as the test library recorded them
    std::vector<std::string> result;  // as the child reported it
    std::string events;
    std::string mp3;
    bool mp3Exists = false;
    std::string folder;

    // The recorded calls' names, in order.
    std::vector<std::string> names() const {
        std::vector<std::string> v;
        for (auto& c : calls) v.push_back(c.substr(0, c.find(' ')));
        return v;
    }
    std::vector<std::map<std::string, std::string>> encodeCalls() const {
        std::vector<std::map<std::string, std::string>> v;
        for (auto& c : calls)
            if (c.rfind("beEncodeChunk ", 0) == 0) v.push_back(words(c));
        return v;
    }
    std::string call(const std::string& name) const {
        for (auto& c : calls)
            if (c.rfind(name + " ", 0) == 0 || c == name) return c;
        return {};
    }
};

// Which stand-in lies beside the copy: "full", "noinfotag", "noversion",
// "corrupt" (a file of that name that is no library), or "" for none.
Outcome runEncoder(const std::string& library, const std::string& control, const std::string& plan,
                   const std::string& existingOutput = {}) {
    Outcome o;
    TempDir dir;
    o.folder = dir.path();
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string copy = dir.file("encoder_child.exe");
    EXPECT_TRUE(::CopyFileA(exe, copy.c_str(), FALSE));
    if (library == "corrupt") {
        writeFile(dir.file("lame_enc.dll"), "MZ" + std::string(4096, '\x5A'));
    } else if (!library.empty()) {
        std::string dll = programFolder() + "\\fake_lame\\" + library + "\\lame_enc.dll";
        EXPECT_TRUE(::CopyFileA(dll.c_str(), dir.file("lame_enc.dll").c_str(), FALSE)) << dll;
    }
    if (!existingOutput.empty()) writeFile(dir.file("out.mp3"), existingOutput);

    std::string cmd = "\"" + copy + "\" --child encode \"" + control + "\" \"" + plan + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(copy.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.path().c_str(), &si,
                          &pi)) {
        ADD_FAILURE() << "cannot start the child";
        return o;
    }
    ::CloseHandle(pi.hThread);
    if (::WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 99);
        ADD_FAILURE() << "the child did not end";
    }
    ::GetExitCodeProcess(pi.hProcess, &o.exitCode);
    ::CloseHandle(pi.hProcess);
    o.calls = lines(readFile(dir.file("calls.txt")));
    o.result = lines(readFile(dir.file("result.txt")));
    o.events = readFile(dir.file("events.txt"));
    o.mp3 = readFile(dir.file("out.mp3"));
    o.mp3Exists = fileExists(dir.file("out.mp3"));
    return o;
}

std::string bytes(std::size_t n, int value) { return std::string(n, static_cast<char>(value)); }

// What the stand-in returns with frames=1: a frame header, then its fill.
std::string frame(std::size_t n, int value) { return "\xFF\xFB\x90\x44" + bytes(n - 4, value); }

uint32_t recordField(const std::string& initCall, std::size_t offset) {
    std::string hex = words(initCall)["config"];
    if (hex.size() < 2 * (offset + 4)) return 0xFFFFFFFF;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::stoul(hex.substr(2 * (offset + i), 2), nullptr, 16);
    return v;
}

TEST(Mp3Encoder, ABlockOfSamplesPerCallIsOneLibraryCallAndCloseCompletesTheFile) {
    // An earlier file of the same name is replaced.
    Outcome o = runEncoder("full", "samples=1152 out=417 tail=7 frames=1", "blocks=2304", bytes(5000, 'x'));
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 2304", "closed"));
    EXPECT_THAT(o.names(), ElementsAre("beVersion", "beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream",
                                       "beWriteInfoTag"));
    auto calls = o.encodeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["n"], "1152");
    EXPECT_EQ(calls[0]["first"], "0");
    EXPECT_EQ(calls[0]["last"], "1151");
    EXPECT_EQ(calls[0]["handle"], "ok");
    // What the library returned, in order: the chunk's bytes, then the flushed tail.
    EXPECT_EQ(o.mp3, frame(417, 1) + frame(7, 0xEE));
    // The information frame is written into the closed, complete file, on the
    // stream that the library keeps for it until then.
    auto tag = words(o.call("beWriteInfoTag"));
    EXPECT_EQ(tag["handle"], "ok");
    EXPECT_EQ(tag["file"], "out.mp3");
    EXPECT_EQ(tag["size"], "424");
    EXPECT_EQ(words(o.call("beDeinitStream"))["handle"], "ok");
    EXPECT_EQ(words(o.call("beCloseStream"))["handle"], "ok");
}

TEST(Mp3Encoder, TracesTheLibraryVersionAndTheSettings) {
    Outcome o = runEncoder("full", "", "blocks=");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.events, HasSubstr("Mp3SoundEncoder()"));
    EXPECT_THAT(o.events, HasSubstr("lame_enc.dll version 1.05 (8/12/2025)\nlame_enc Engine 3.100\n"
                                    "lame_enc homepage at fake lame of the tests\n"));
    EXPECT_THAT(o.events, HasSubstr("Using quality: 44100 128 0"));
    EXPECT_THAT(o.events, HasSubstr("Mp3 encoder initialized"));
    EXPECT_THAT(o.events, HasSubstr("encoding.mp3/mp3_encoding"));
    // Without any chunk, the file holds only what the flush returned.
    EXPECT_EQ(o.mp3, bytes(7, 0xEE));
    // That is no frame the library could find again: it is not asked to (it
    // would stop the encoding thread with a message box of its own).
    EXPECT_THAT(o.names(), ElementsAre("beVersion", "beInitStream", "beDeinitStream", "beCloseStream"));
    EXPECT_THAT(o.events, HasSubstr("Mp3InfoFrameSkipped"));
}

TEST(Mp3Encoder, BlocksAreCutIntoPiecesOfAtMostSamplesPerCall) {
    // 2.5 times samples-per-call x 2 bytes, then a block that starts mid-way.
    Outcome o = runEncoder("full", "samples=1000 out=10 tail=0", "blocks=5000,2000");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 5000", "encoded 2000", "closed"));
    auto calls = o.encodeCalls();
    ASSERT_EQ(calls.size(), 4u);
    const char* n[] = {"1000", "1000", "500", "1000"};
    const char* first[] = {"0", "1000", "2000", "2500"};
    const char* last[] = {"999", "1999", "2499", "3499"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i]["n"], n[i]) << "call " << i + 1;
        EXPECT_EQ(calls[i]["first"], first[i]) << "call " << i + 1;
        EXPECT_EQ(calls[i]["last"], last[i]) << "call " << i + 1;
    }
    EXPECT_EQ(o.mp3, bytes(10, 1) + bytes(10, 2) + bytes(10, 3) + bytes(10, 4));
}

TEST(Mp3Encoder, ACallThatReturnsNoBytesWritesNothingAndIsNoFailure) {
    Outcome o = runEncoder("full", "samples=1152 out=50 zero=2 tail=3", "blocks=6912");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 6912", "closed"));
    auto calls = o.encodeCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1]["out"], "0");
    EXPECT_EQ(o.mp3, bytes(50, 1) + bytes(50, 3) + bytes(3, 0xEE));
}

TEST(Mp3Encoder, AnOddByteAtTheEndOfABlockIsLeftOut) {
    Outcome o = runEncoder("full", "samples=1152 out=1 tail=0", "blocks=2305");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 2305", "closed"));
    ASSERT_EQ(o.encodeCalls().size(), 1u);
    EXPECT_EQ(o.encodeCalls()[0]["n"], "1152");
}

TEST(Mp3Encoder, WithoutBeWriteInfoTagCloseCallsBeWriteVBRHeader) {
    Outcome o = runEncoder("noinfotag", "samples=1152 out=417 tail=4 frames=1", "blocks=2304");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 2304", "closed"));
    EXPECT_THAT(o.names(), ElementsAre("beVersion", "beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream",
                                       "beWriteVBRHeader"));
    auto header = words(o.call("beWriteVBRHeader"));
    EXPECT_EQ(header["file"], "out.mp3");
    EXPECT_EQ(header["size"], "421");
    EXPECT_EQ(header["stream"], "ok");
}

// A library that is missing, broken or without its entry points fails the
// start before the file is touched: an existing file keeps every byte, and
// where there was none, none is left.
TEST(Mp3Encoder, AMissingOrBrokenLibraryNeverTouchesTheFile) {
    struct Case {
        const char* library;
        const char* error;
    };
    for (Case c : {Case{"", "error init: Error loading dll! @ encoding.mp3/mp3_encoding"},
                   Case{"corrupt", "error init: Error loading dll! @ encoding.mp3/mp3_encoding"},
                   Case{"noversion", "error init: Unable to get LAME interfaces @ encoding.mp3/mp3_encoding"}}) {
        SCOPED_TRACE(c.library);
        std::string keep = bytes(66772, 'k');
        Outcome existing = runEncoder(c.library, "", "blocks=2304", keep);
        EXPECT_EQ(existing.exitCode, 0u);
        EXPECT_THAT(existing.result, ElementsAre(c.error));
        EXPECT_TRUE(existing.mp3 == keep) << "the existing file changed: " << existing.mp3.size() << " bytes";
        EXPECT_THAT(existing.calls, IsEmpty());

        Outcome none = runEncoder(c.library, "", "blocks=2304");
        EXPECT_THAT(none.result, ElementsAre(c.error));
        EXPECT_FALSE(none.mp3Exists) << "a file was left";
    }
}

TEST(Mp3Encoder, AnOutputFileThatCannotBeCreatedFailsBeforeTheStreamStarts) {
    Outcome o = runEncoder("full", "", "path=missing\\out.mp3 blocks=2304");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("error init: Cannt open file: missing\\out.mp3 @ encoding.mp3/mp3_encoding"));
    EXPECT_THAT(o.names(), ElementsAre("beVersion"));
}

TEST(Mp3Encoder, TheRecordCarriesTheCallersBitrateInBothBitrateFields) {
    Outcome o = runEncoder("full", "", "bitrate=64 blocks=");
    EXPECT_EQ(o.exitCode, 0u);
    std::string init = o.call("beInitStream");
    ASSERT_THAT(init, StartsWith("beInitStream size=331 "));
    EXPECT_EQ(words(init)["config"].size(), 662u);
    EXPECT_EQ(recordField(init, 0), 256u);
    EXPECT_EQ(recordField(init, 8), 331u);
    EXPECT_EQ(recordField(init, 12), 44100u);
    EXPECT_EQ(recordField(init, 24), 64u);
    EXPECT_EQ(recordField(init, 28), 64u);
    EXPECT_EQ(recordField(init, 64), 1u) << "the information frame";
    EXPECT_EQ(recordField(init, 68), 0u);
}

TEST(Mp3Encoder, AVariableBitrateFormatAsksForUpTo320AndAHeader) {
    Outcome o = runEncoder("full", "", "bitrate=128 vbr=1 blocks=");
    std::string init = o.call("beInitStream");
    EXPECT_EQ(recordField(init, 24), 128u);
    EXPECT_EQ(recordField(init, 28), 320u);
    EXPECT_EQ(recordField(init, 64), 1u);
    EXPECT_EQ(recordField(init, 68), 1u);
}

TEST(Mp3Encoder, AFailingStreamStartFailsTheConstructorAndLeavesTheFileAlone) {
    Outcome o = runEncoder("full", "failInit=1", "blocks=2304", "earlier");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("error init: Error opening encoding stream @ encoding.mp3/mp3_encoding"));
    EXPECT_EQ(o.mp3, "earlier");
    Outcome none = runEncoder("full", "samples=0", "blocks=2304");
    EXPECT_EQ(none.exitCode, 0u);
    EXPECT_THAT(none.result, ElementsAre("error init: Error opening encoding stream @ encoding.mp3/mp3_encoding"));
    EXPECT_THAT(none.names(), ElementsAre("beVersion", "beInitStream", "beCloseStream"));
    EXPECT_FALSE(none.mp3Exists);
}

TEST(Mp3Encoder, AFailingEncodeCallClosesTheStreamAndThrows) {
    Outcome o = runEncoder("full", "samples=1152 out=10 failEncode=2", "blocks=6912");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result,
                ElementsAre("constructed", "error encode: beEncodeChunk() failed @ encoding.mp3/mp3_encoding"));
    EXPECT_THAT(o.names(), ElementsAre("beVersion", "beInitStream", "beEncodeChunk", "beEncodeChunk", "beCloseStream"));
}

TEST(Mp3Encoder, AFailingFlushClosesTheStreamAndThrows) {
    Outcome o = runEncoder("full", "samples=1152 out=10 failDeinit=1", "blocks=2304");
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_THAT(o.result, ElementsAre("constructed", "encoded 2304",
                                      "error close: beExitStream failed @ encoding.mp3/mp3_encoding"));
    EXPECT_THAT(o.names(),
                ElementsAre("beVersion", "beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream"));
}

TEST(Mp3Encoder, AFullDiskIsAnOutputFileWriteErrorAtTheFirstWrite) {
    // Z: is the host's root under Wine; /dev/full refuses every write.
    for (const char* out : {"6000", "10"}) {
        Outcome o = runEncoder("full", std::string("samples=1152 tail=7 out=") + out, "path=Z:\\dev\\full blocks=2304");
        EXPECT_EQ(o.exitCode, 0u);
        EXPECT_THAT(o.result,
                    ElementsAre("constructed", "error encode: Output file write error @ encoding.mp3/mp3_encoding"))
            << out << " bytes";
    }
}

}  // namespace
