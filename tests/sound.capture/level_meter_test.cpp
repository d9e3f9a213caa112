// The capture's level meter: the peaks of each block per channel, and the
// silence watch, counted in the sound's own time; also behind a recorder fed
// by the scripted device.
#include <gmock/gmock.h>

#include <cstdint>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "sound.capture/level_meter.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/volume_meter.h"
#include "support/support.h"

namespace {

using kit::LevelMeter;

constexpr uint32_t kRate = 44100;
constexpr std::size_t kBlockFrames = 4410;  // 100 ms

std::vector<int16_t> stereo(std::size_t frames, int16_t left, int16_t right) {
    std::vector<int16_t> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<int16_t>(i % 2 ? -left : left));
        samples.push_back(static_cast<int16_t>(i % 2 ? -right : right));
    }
    return samples;
}

TEST(LevelMeter, EachChannelHasThePeakOfItsOwnSamples) {
    struct Row {
        std::vector<int16_t> samples;
        unsigned channels;
        int left, right;
    };
    const Row table[] = {
        {{100, -200, -300, 50}, 2, 300, 200},
        {{0, 0, 0, -32768}, 2, 0, 32767},  // the most negative sample is full scale
        {{7, -9, 3}, 1, 9, 9},             // mono: both channels
        {{}, 2, 0, 0},
    };
    for (const Row& row : table) {
        LevelMeter::Peaks p =
            LevelMeter::blockPeaks(row.samples.data(), row.samples.size() / row.channels, row.channels);
        EXPECT_EQ(p.left, row.left);
        EXPECT_EQ(p.right, row.right);
    }
}

TEST(LevelMeter, ThirtyTwoBitSamplesArePeaksOnTheSixteenBitScale) {
    const int32_t samples[] = {100 << 16, -(200 << 16) - 32768, INT32_MIN, 65535, 0, INT32_MAX};
    LevelMeter::Peaks p = LevelMeter::blockPeaks(samples, 3, 2);
    EXPECT_EQ(p.left, 32767) << "full scale, never past it";
    EXPECT_EQ(p.right, 32767);
    p = LevelMeter::blockPeaks(samples, 1, 2);
    EXPECT_EQ(p.left, 100);
    EXPECT_EQ(p.right, 201) << "rounded";
}

TEST(LevelMeter, TwoMinutesOfSilentFramesCountOnceUntilSoundComesBack) {
    LevelMeter meter;
    std::vector<int16_t> quiet = stereo(kBlockFrames, 32, -20);  // -60.2 dBFS: silence
    std::vector<int16_t> heard = stereo(kBlockFrames, 0, 33);    // -59.9 dBFS on one channel: sound
    auto feed = [&](const std::vector<int16_t>& block, int blocks) {
        for (int i = 0; i < blocks; ++i) meter.measure(block.data(), kBlockFrames, 2, kRate);
    };
    feed(quiet, 1199);
    EXPECT_FALSE(meter.silentNow()) << "119.9 s";
    EXPECT_EQ(meter.silences(), 0u);
    feed(quiet, 1);
    EXPECT_TRUE(meter.silentNow()) << "120 s";
    EXPECT_EQ(meter.silences(), 1u);
    feed(quiet, 3000);
    EXPECT_EQ(meter.silences(), 1u) << "one silence, however long";
    feed(heard, 1);
    EXPECT_FALSE(meter.silentNow());
    EXPECT_EQ(meter.peaks().right, 33);
    feed(quiet, 1000);
    feed(heard, 1);
    feed(quiet, 1199);
    EXPECT_EQ(meter.silences(), 1u) << "sound in between starts the count again";
    feed(quiet, 1);
    EXPECT_EQ(meter.silences(), 2u);
    EXPECT_EQ(meter.blocks(), 6402u);
}

TEST(LevelMeter, SilenceIsCountedInTheSoundsTimeAtEachRate) {
    LevelMeter meter;
    std::vector<int16_t> quiet(9600 * 2, 0);                                    // 100 ms at 96 kHz
    for (int i = 0; i < 600; ++i) meter.measure(quiet.data(), 4410, 2, 44100);  // 60 s
    for (int i = 0; i < 599; ++i) meter.measure(quiet.data(), 9600, 2, 96000);  // 59.9 s
    EXPECT_FALSE(meter.silentNow());
    meter.measure(quiet.data(), 9600, 2, 96000);
    EXPECT_TRUE(meter.silentNow());
}

// The recorder measures every block it receives, scaled as it is written.
TEST(LevelMeterBehindARecorder, PublishesThePeaksOfTheLatestScaledBlock) {
    testsupport::ScriptedWaveIn device;
    std::vector<int16_t> source = stereo(kBlockFrames, 1000, -4000);
    std::vector<int16_t> second = stereo(kBlockFrames, 20000, 10);
    source.insert(source.end(), second.begin(), second.end());
    device.setSource(source);
    auto meter = kit::makeCounted<kit::VolumeMeter2>();
    auto stream = kit::makeCounted<kit::GenericSoundEncodingStream>(kit::smartptr<kit::ISoundEncoder>(meter));
    auto recorder = kit::makeCounted<kit::SoundRecorder>(stream, kit::kRecordingFormat, 2.0, 100, 60000, device);
    recorder->start();
    ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder->levels().blocks() == 1; }, 5000));
    EXPECT_EQ(recorder->levels().peaks().left, 2000);
    EXPECT_EQ(recorder->levels().peaks().right, 8000);
    ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder->levels().blocks() == 2; }, 5000));
    EXPECT_EQ(recorder->levels().peaks().left, 32767) << "clipped by the scaling";
    EXPECT_EQ(recorder->levels().peaks().right, 20);
    recorder->finish();
    stream->finish();
    EXPECT_THAT(device.violations(), ::testing::IsEmpty());
}

}  // namespace
