// The volume meters, fed blocks the way the encoding thread feeds them.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/volume_meter.h"
#include "support/support.h"

namespace {

using kit::Chunk;
using kit::VolumeMeter;
using kit::VolumeMeter2;

Chunk chunkOf(const std::vector<int16_t>& samples) {
    return Chunk{reinterpret_cast<const uint8_t*>(samples.data()), static_cast<uint32_t>(samples.size() * 2), nullptr};
}

template <class Meter>
void feed(Meter& meter, const std::vector<int16_t>& samples, int blocks = 1) {
    for (int i = 0; i < blocks; ++i) meter.encodeChunk(chunkOf(samples));
}

TEST(VolumeMeters, AConstantNegativeSignalGivesItsMagnitudeAsAverageAndPeak) {
    std::vector<int16_t> block(8820, -1000);  // one 100 ms stereo block
    VolumeMeter average;
    VolumeMeter2 peak;
    feed(average, block, 3);
    feed(peak, block, 3);
    EXPECT_EQ(average.takeResult(), 1000);
    EXPECT_EQ(peak.takeResult(), 1000);
}

struct SingleSample {
    std::size_t samples;
    int average;
};

class OneLoudSample : public ::testing::TestWithParam<SingleSample> {};

TEST_P(OneLoudSample, GivesThatPeakAndItsShareAsAverage) {
    std::vector<int16_t> block(GetParam().samples, 0);
    block[block.size() / 2] = 30000;
    VolumeMeter average;
    VolumeMeter2 peak;
    feed(average, block);
    feed(peak, block);
    EXPECT_EQ(peak.takeResult(), 30000);
    EXPECT_EQ(average.takeResult(), GetParam().average);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, OneLoudSample,
                         ::testing::Values(SingleSample{1, 30000}, SingleSample{2, 15000}, SingleSample{7, 4285},
                                           SingleSample{4410, 6}, SingleSample{8820, 3}));

TEST(VolumeMeters, TwoValuesAreNotReadyThreeAre) {
    std::vector<int16_t> block(100, 5);
    VolumeMeter average;
    VolumeMeter2 peak;
    feed(average, block, 2);
    feed(peak, block, 2);
    EXPECT_FALSE(average.isReady());
    EXPECT_FALSE(peak.isReady());
    feed(average, block);
    feed(peak, block);
    EXPECT_TRUE(average.isReady());
    EXPECT_TRUE(peak.isReady());
}

TEST(VolumeMeters, AZeroLengthBlockChangesNeitherMeter) {
    std::vector<int16_t> loud(10, 2000);
    VolumeMeter average;
    VolumeMeter2 peak;
    feed(average, loud, 2);
    feed(peak, loud, 2);
    uint8_t byte = 0x7F;
    for (uint32_t length : {0u, 1u}) {
        average.encodeChunk(Chunk{&byte, length, nullptr});
        peak.encodeChunk(Chunk{&byte, length, nullptr});
    }
    EXPECT_EQ(average.count(), 2u);
    EXPECT_EQ(peak.count(), 2u);
    EXPECT_EQ(average.takeResult(), 2000);
    EXPECT_EQ(peak.takeResult(), 2000);
}

TEST(VolumeMeters, TheAverageIsTheMeanOfTheBlockMeansAndThePeakTheLargestBlockPeak) {
    VolumeMeter average;
    VolumeMeter2 peak;
    for (int16_t level : {100, -300, 200}) {
        std::vector<int16_t> block(50, level);
        feed(average, block);
        feed(peak, block);
    }
    std::vector<int16_t> mixed = {10, -20, 30, -40};  // block mean 25
    feed(average, mixed);
    EXPECT_EQ(average.takeResult(), (100 + 300 + 200 + 25) / 4);
    EXPECT_EQ(peak.takeResult(), 300);
}

TEST(VolumeMeters, TakingTheResultEmptiesTheMeter) {
    std::vector<int16_t> block(10, 700);
    VolumeMeter2 peak;
    feed(peak, block, 3);
    EXPECT_EQ(peak.takeResult(), 700);
    EXPECT_FALSE(peak.isReady());
    EXPECT_EQ(peak.takeResult(), 0);
    VolumeMeter average;
    EXPECT_EQ(average.takeResult(), 0) << "no blocks give 0, not a division by zero";
}

TEST(VolumeMeters, TheMostNegativeSampleCountsAsFullScale) {
    std::vector<int16_t> block = {0, -32768, 5, 0};
    VolumeMeter2 peak;
    feed(peak, block);
    EXPECT_EQ(peak.takeResult(), 32767) << "a full-scale negative sample must read as clipping, not as silence";
    VolumeMeter average;
    std::vector<int16_t> full(4, -32768);
    feed(average, full);
    EXPECT_EQ(average.takeResult(), 32768);
}

TEST(VolumeMeters, ReadinessCanBePolledWhileTheEncodingThreadAppends) {
    VolumeMeter average;
    std::vector<int16_t> block(64, 3);
    std::atomic<bool> go{false};
    std::thread encoding([&] {
        while (!go) std::this_thread::yield();
        feed(average, block, 20000);
    });
    go = true;
    std::size_t last = 0;
    bool orderly = true;
    while (last < 20000) {
        bool ready = average.isReady();
        std::size_t now = average.count();
        orderly = orderly && now >= last && now <= 20000 && (!ready || now > 2);
        last = now;
    }
    encoding.join();
    EXPECT_TRUE(orderly) << "counts seen while appending only grow";
    EXPECT_TRUE(average.isReady());
    EXPECT_EQ(average.takeResult(), 3);
}

// Blocks recorded by a SoundRecorder reach the meter through the encoding
// stream; every block delivered before the recorder finished is measured.
TEST(VolumeMetersBehindAStream, MeasureEveryBlockTheRecorderDelivered) {
    constexpr std::size_t kBlockSamples = 8820;  // 100 ms of 2 x 16 bit x 44100 Hz
    std::vector<int16_t> source;
    for (int16_t level : {-1000, 3000, -2000, 500, 0}) source.insert(source.end(), kBlockSamples, level);
    source[kBlockSamples + 17] = -31000;  // the peak, inside the second block

    for (bool peak : {false, true}) {
        testsupport::ScriptedWaveIn device;
        device.setSource(source);
        kit::smartptr<kit::VolumeMeter> average = kit::makeCounted<kit::VolumeMeter>();
        kit::smartptr<kit::VolumeMeter2> peaks = kit::makeCounted<kit::VolumeMeter2>();
        kit::smartptr<kit::ISoundEncoder> meter =
            peak ? kit::smartptr<kit::ISoundEncoder>(peaks) : kit::smartptr<kit::ISoundEncoder>(average);
        auto stream = kit::makeCounted<kit::GenericSoundEncodingStream>(meter);
        auto recorder = kit::makeCounted<kit::SoundRecorder>(stream, kit::kRecordingFormat, 1.0, 100, 60000, device);
        recorder->start();
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(device.deliverFull()) << "block " << i;
        auto ready = [&] { return peak ? peaks->isReady() : average->isReady(); };
        ASSERT_TRUE(testsupport::waitUntil(ready, 5000));
        recorder->finish();
        stream->finish();
        if (peak) {
            EXPECT_EQ(peaks->count(), 4u);
            EXPECT_EQ(peaks->takeResult(), 31000);
        } else {
            EXPECT_EQ(average->count(), 4u);
            // Block means 1000, about 3000 (one sample of 31000 among 8820), 2000 and 500.
            double second = (3000.0 * (kBlockSamples - 1) + 31000) / kBlockSamples;
            EXPECT_EQ(average->takeResult(), static_cast<int>((1000 + second + 2000 + 500) / 4));
        }
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
    }
}

}  // namespace
