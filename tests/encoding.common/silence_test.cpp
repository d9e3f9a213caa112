#include <gmock/gmock.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "encoding.common/rate_parts.h"
#include "encoding.common/silence.h"

namespace {

using kit::SilenceAction;
using kit::SilencePhase;

constexpr kit::SoundFormat kFormat{2, 16, 8000};
constexpr uint32_t kFrameBytes = 4;

std::vector<uint8_t> frames16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

TEST(BlockPeak, IsTheLargestMagnitudeOfAnySample) {
    struct Case {
        std::vector<int16_t> samples;
        uint32_t peak;
    } cases[] = {
        {{0, 0, 0, 0}, 0},          {{3, -7, 5, 1}, 7},    {{-32768, 0, 0, 0}, 32768},
        {{32767, 2, 0, -1}, 32767}, {{0, 0, 0, 100}, 100},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = frames16(c.samples);
        EXPECT_EQ(kit::blockPeak(bytes.data(), 2, kFormat), c.peak) << c.samples[0] << "," << c.samples[1];
    }
    const uint8_t samples24[] = {0x00, 0x00, 0x80, 0x10, 0x00, 0x00};  // -8388608, 16
    EXPECT_EQ(kit::blockPeak(samples24, 1, {2, 24, 8000}), 8388608u);
}

TEST(ThresholdPeak, FollowsTheDecibelsOfFullScale) {
    struct Case {
        int32_t dbfs;
        int32_t bits;
        uint32_t peak;
    } cases[] = {{0, 16, 32768}, {-6, 16, 16423}, {-50, 16, 104},  {-60, 16, 33},
                 {-120, 16, 1},  {10, 16, 32768}, {-50, 24, 26527}};
    for (const Case& c : cases) EXPECT_EQ(kit::thresholdPeak(c.dbfs, c.bits), c.peak) << c.dbfs << " dBFS";
}

TEST(SilenceStep, BeginsCutsAndStopsOnceEach) {
    kit::SilenceLimits limits{false, 30, 50};
    kit::SilenceLimits waitFirst{true, 30, 50};
    struct Case {
        kit::SilenceState from;
        bool loud;
        const kit::SilenceLimits* limits;
        kit::SilenceState to;
        SilenceAction action;
    } cases[] = {
        {{SilencePhase::waiting, 0}, false, &waitFirst, {SilencePhase::waiting, 0}, SilenceAction::none},
        {{SilencePhase::waiting, 0}, true, &waitFirst, {SilencePhase::sounding, 0, true}, SilenceAction::begin},
        {{SilencePhase::sounding, 0}, true, &limits, {SilencePhase::sounding, 0, true}, SilenceAction::none},
        {{SilencePhase::sounding, 0, true}, false, &limits, {SilencePhase::silent, 10, true}, SilenceAction::none},
        {{SilencePhase::silent, 20, true}, false, &limits, {SilencePhase::silent, 30, false}, SilenceAction::cut},
        {{SilencePhase::silent, 25, true}, false, &limits, {SilencePhase::silent, 35, false}, SilenceAction::cut},
        // no sound in the file yet (the recording's start, or just after a cut): no file of silence alone
        {{SilencePhase::silent, 20, false}, false, &limits, {SilencePhase::silent, 30, false}, SilenceAction::none},
        {{SilencePhase::silent, 30}, false, &limits, {SilencePhase::silent, 40}, SilenceAction::none},
        {{SilencePhase::silent, 40}, false, &limits, {SilencePhase::silent, 50}, SilenceAction::stop},
        {{SilencePhase::silent, 50}, false, &limits, {SilencePhase::silent, 60}, SilenceAction::none},
        {{SilencePhase::silent, 40}, true, &limits, {SilencePhase::sounding, 0, true}, SilenceAction::none},
    };
    for (const Case& c : cases) {
        kit::SilenceStep step = kit::nextSilenceStep(c.from, c.loud, 10, *c.limits);
        EXPECT_EQ(step.state.phase, c.to.phase) << c.from.silentFrames << (c.loud ? " loud" : " quiet");
        EXPECT_EQ(step.state.silentFrames, c.to.silentFrames) << c.from.silentFrames;
        EXPECT_EQ(step.state.heard, c.to.heard) << c.from.silentFrames << (c.loud ? " loud" : " quiet");
        EXPECT_EQ(step.action, c.action) << c.from.silentFrames << (c.loud ? " loud" : " quiet");
    }
    kit::SilenceLimits off{};
    EXPECT_EQ(kit::nextSilenceStep({SilencePhase::silent, 1000}, false, 10, off).action, SilenceAction::none);
    EXPECT_EQ(kit::firstSilenceState(waitFirst).phase, SilencePhase::waiting);
    EXPECT_EQ(kit::firstSilenceState(limits).phase, SilencePhase::sounding);
}

// The parts a RatePartsEncoder makes, kept in memory by number.
struct Parts {
    std::map<uint32_t, std::vector<uint8_t>> bytes;
    std::map<uint32_t, int> closes;
};

class MemoryPart : public kit::ISoundEncoder {
public:
    MemoryPart(Parts& parts, uint32_t n) : all(parts), number(n) {}
    void encodeChunk(const kit::Chunk& chunk) override {
        all.bytes[number].insert(all.bytes[number].end(), chunk.data, chunk.data + chunk.length);
    }
    void init() override {}
    void close() override { ++all.closes[number]; }
    uint32_t fileParts() const noexcept override { return 1; }
    uint32_t lastPartNumber() const noexcept override { return number; }

private:
    Parts& all;
    uint32_t number;
};

// Sound (never below the threshold for a whole block) and silence, frame by frame.
std::vector<uint8_t> sound(uint32_t frames, uint32_t seed) {
    std::vector<int16_t> samples(frames * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        int16_t value = static_cast<int16_t>((seed >> 16) % 20000 + 2000);
        samples[i] = i % 3 ? value : static_cast<int16_t>(-value);
    }
    return frames16(samples);
}
std::vector<uint8_t> quiet(uint32_t frames) { return frames16(std::vector<int16_t>(frames * 2, 3)); }

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& what) {
    to.insert(to.end(), what.begin(), what.end());
}

// Feeds `signal` in chunks of `chunkBytes` (whole frames).
void feed(kit::RatePartsEncoder& encoder, const std::vector<uint8_t>& signal, uint32_t chunkBytes) {
    for (std::size_t at = 0; at < signal.size(); at += chunkBytes) {
        uint32_t length = static_cast<uint32_t>(std::min<std::size_t>(chunkBytes, signal.size() - at));
        encoder.encodeChunk(kit::Chunk{signal.data() + at, length, nullptr});
    }
    encoder.close();
}

kit::RatePartsEncoder::Factory memoryFactory(Parts& parts) {
    return [&parts](const std::string&, uint32_t n, const kit::SoundFormat&) -> kit::smartptr<kit::ISoundEncoder> {
        return new MemoryPart(parts, n);
    };
}

TEST(SilenceRules, ThreeGapsMakeFourFilesThatTogetherAreTheSignal) {
    // 1 s of sound, then three gaps of 3 s between sounds; cut at 2 s of silence.
    std::vector<uint8_t> signal = sound(8000, 1);
    const uint32_t after[] = {4800, 5600, 6400};  // whole blocks of 10 ms
    for (uint32_t gap = 0; gap < 3; ++gap) {
        append(signal, quiet(24000));
        append(signal, sound(after[gap], gap + 2));
    }
    for (uint32_t chunkBytes : {17640u / 4 * 4, 4000u, 1236u}) {
        Parts parts;
        kit::RatePartsEncoder encoder("Z:\\nowhere\\take.wav", kFormat, memoryFactory(parts),
                                      kit::SilenceRules{false, 2000, 0, -50, nullptr});
        feed(encoder, signal, chunkBytes);
        ASSERT_EQ(parts.bytes.size(), 4u) << chunkBytes;
        std::vector<uint8_t> joined;
        for (auto& [n, bytes] : parts.bytes) {
            append(joined, bytes);
            EXPECT_EQ(parts.closes[n], 1) << "part " << n;
        }
        EXPECT_TRUE(joined == signal) << "chunks of " << chunkBytes;
        // Each cut lies in the gap: a file ends with 2 s of it, the next begins with the rest.
        const uint32_t expected[] = {8000 + 16000, 8000 + 4800 + 16000, 8000 + 5600 + 16000, 8000 + 6400};
        ASSERT_EQ(encoder.files().size(), 4u);
        for (uint32_t n = 1; n <= 4; ++n) {
            EXPECT_EQ(parts.bytes[n].size(), expected[n - 1] * kFrameBytes) << "part " << n << ", " << chunkBytes;
            EXPECT_EQ(encoder.files()[n - 1].frames, expected[n - 1]) << "part " << n;
        }
        EXPECT_EQ(encoder.files()[3].path, "Z:\\nowhere\\take (4).wav");
    }
}

// A file that goes on in files of its own past `limit` bytes (as a long WAV does).
class RollingPart : public kit::ISoundEncoder {
public:
    RollingPart(Parts& parts, uint32_t n, uint32_t limitBytes) : all(parts), number(n), limit(limitBytes) {}
    void encodeChunk(const kit::Chunk& chunk) override {
        for (uint32_t i = 0; i < chunk.length; ++i) {
            if (inPart == limit) {
                ++number;
                inPart = 0;
            }
            all.bytes[number].push_back(chunk.data[i]);
            ++inPart;
        }
    }
    void init() override {}
    void close() override { ++all.closes[number]; }
    uint32_t lastPartNumber() const noexcept override { return number; }
    uint64_t bytesInLastPart() const noexcept override { return inPart; }

private:
    Parts& all;
    uint32_t number;
    uint32_t limit;
    uint32_t inPart = 0;
};

// A silence after a long file's own continuation goes on after its number;
// every file is listed with exactly what it holds.
TEST(SilenceRules, ALongFilesOwnPartsAndTheSilencesShareOneNumbering) {
    std::vector<uint8_t> signal = sound(12000, 4);
    append(signal, quiet(24000));
    append(signal, sound(1000, 5));
    Parts parts;
    kit::RatePartsEncoder encoder(
        "Z:\\nowhere\\take.wav", kFormat,
        [&parts](const std::string&, uint32_t n, const kit::SoundFormat&) -> kit::smartptr<kit::ISoundEncoder> {
            return new RollingPart(parts, n, 10000 * kFrameBytes);
        },
        kit::SilenceRules{false, 2000, 0, -50, nullptr});
    feed(encoder, signal, 1764);
    // 12000 + 16000 frames before the cut: 10000 in "take", 10000 in "(2)", 8000 in "(3)"; then "(4)".
    const uint64_t expected[] = {10000, 10000, 8000, 8000 + 1000};
    ASSERT_EQ(encoder.files().size(), 4u);
    std::vector<uint8_t> joined;
    for (uint32_t n = 1; n <= 4; ++n) {
        EXPECT_EQ(encoder.files()[n - 1].frames, expected[n - 1]) << "part " << n;
        EXPECT_EQ(parts.bytes[n].size(), expected[n - 1] * kFrameBytes) << "part " << n;
        append(joined, parts.bytes[n]);
    }
    EXPECT_EQ(encoder.files()[1].path, "Z:\\nowhere\\take (2).wav");
    EXPECT_EQ(encoder.files()[3].path, "Z:\\nowhere\\take (4).wav");
    EXPECT_TRUE(joined == signal);
}

TEST(SilenceRules, WaitingForSoundKeepsItsOnsetAndTheRestWhole) {
    std::vector<uint8_t> signal = quiet(16000);
    std::vector<int16_t> ramp;  // a soft onset under the threshold, then sound
    for (int16_t i = 0; i < 400; ++i) ramp.insert(ramp.end(), {static_cast<int16_t>(i / 5), 0});
    std::vector<uint8_t> onset = frames16(ramp);
    append(signal, onset);
    append(signal, sound(4000, 9));
    Parts parts;
    kit::RatePartsEncoder encoder("Z:\\nowhere\\take.wav", kFormat, memoryFactory(parts),
                                  kit::SilenceRules{true, 0, 0, -50, nullptr});
    feed(encoder, signal, 1764);
    ASSERT_EQ(parts.bytes.size(), 1u);
    const std::vector<uint8_t>& kept = parts.bytes[1];
    std::vector<uint8_t> tail(signal.end() - static_cast<std::ptrdiff_t>(onset.size() + 4000 * kFrameBytes),
                              signal.end());
    ASSERT_GE(kept.size(), tail.size());
    EXPECT_LE(kept.size(), tail.size() + (2000 + 80) * kFrameBytes) << "no more than the pre-roll before the onset";
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), kept.end() - static_cast<std::ptrdiff_t>(tail.size())));
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), signal.end() - static_cast<std::ptrdiff_t>(kept.size())))
        << "what is kept is the end of the stream, unchanged";
    EXPECT_EQ(encoder.files()[0].frames, kept.size() / kFrameBytes);
}

TEST(SilenceRules, ALongSilenceAfterSoundAsksOnceToStop) {
    int asked = 0;
    Parts parts;
    kit::RatePartsEncoder encoder("Z:\\nowhere\\take.wav", kFormat, memoryFactory(parts),
                                  kit::SilenceRules{true, 0, 3000, -50, [&] { ++asked; }});
    std::vector<uint8_t> signal = quiet(40000);  // waiting: no stop
    encoder.encodeChunk(kit::Chunk{signal.data(), static_cast<uint32_t>(signal.size()), nullptr});
    EXPECT_EQ(asked, 0);
    std::vector<uint8_t> loud = sound(800, 3);
    encoder.encodeChunk(kit::Chunk{loud.data(), static_cast<uint32_t>(loud.size()), nullptr});
    std::vector<uint8_t> shortGap = quiet(23000);
    encoder.encodeChunk(kit::Chunk{shortGap.data(), static_cast<uint32_t>(shortGap.size()), nullptr});
    EXPECT_EQ(asked, 0) << "2.9 s of silence";
    encoder.encodeChunk(kit::Chunk{signal.data(), static_cast<uint32_t>(signal.size()), nullptr});
    EXPECT_EQ(asked, 1);
    encoder.encodeChunk(kit::Chunk{signal.data(), static_cast<uint32_t>(signal.size()), nullptr});
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(parts.bytes.size(), 1u);
}

}  // namespace
