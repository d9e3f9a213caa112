// The recording probe: short recordings through the real recorder, stream and
// volume meters, from a scripted wave-input device.
#include <gmock/gmock.h>

#include <vector>

#include "kit/exceptions.h"
#include "mixer/recording_sound_probe.h"
#include "sound.capture/scripted_wave_in.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testsupport::ScriptedWaveIn;

constexpr std::size_t kBlockSamples = 8820;  // 100 ms of 2 x 16 bit x 44100 Hz

TEST(RecordingProbe, MeasuresTheAverageAndThePeakOfWhatTheDeviceRecords) {
    ScriptedWaveIn device;
    device.setSource(std::vector<int16_t>(kBlockSamples * 40, -1000));
    device.startAutoFeed(5);
    kit::RecordingSoundProbe probe(device);
    EXPECT_EQ(probe.measureAverage(), 1000);
    EXPECT_EQ(probe.measurePeak(), 1000);
    device.stopAutoFeed();
    EXPECT_FALSE(device.isOpen()) << "each measurement closes its device";
    EXPECT_THAT(device.violations(), IsEmpty());
}

TEST(RecordingProbe, MeasuresAtTheDevicesOwnRateWhereItHasOne) {
    for (uint32_t rate : {0u, 48000u, 96000u}) {
        ScriptedWaveIn device;
        device.setSource(std::vector<int16_t>(kBlockSamples * 90, 2000));
        device.startAutoFeed(5);
        kit::RecordingSoundProbe probe(device, 5000, [rate] { return rate; });
        EXPECT_EQ(probe.measurePeak(), 2000);
        device.stopAutoFeed();
        EXPECT_EQ(device.openedFormat().nSamplesPerSec, rate ? rate : 44100u);
        EXPECT_EQ(device.openedFormat().nAvgBytesPerSec, (rate ? rate : 44100u) * 4);
    }
}

TEST(RecordingProbe, ThePeakIsTheLargestOfTheMeasuredBlocks) {
    ScriptedWaveIn device;
    std::vector<int16_t> source(kBlockSamples * 40, 100);
    source[kBlockSamples + 5] = -30000;  // second block
    device.setSource(source);
    device.startAutoFeed(5);
    kit::RecordingSoundProbe probe(device);
    EXPECT_EQ(probe.measurePeak(), 30000);
    device.stopAutoFeed();
}

TEST(RecordingProbe, ADeviceThatDeliversNothingIsAnErrorNotAHang) {
    ScriptedWaveIn device;
    kit::RecordingSoundProbe probe(device, 300);
    try {
        probe.measureAverage();
        FAIL() << "no blocks must not give a level";
    } catch (const kit::ARuntimeError& e) {
        EXPECT_THAT(e.message().c_str(), HasSubstr("The recording device delivers no sound"));
    }
    EXPECT_FALSE(device.isOpen());
    EXPECT_THAT(device.violations(), IsEmpty());
}

TEST(RecordingProbe, AFailingOpenReachesTheCaller) {
    ScriptedWaveIn device;
    device.failNext(ScriptedWaveIn::Call::open, MMSYSERR_BADDEVICEID);
    kit::RecordingSoundProbe probe(device);
    try {
        probe.measurePeak();
        FAIL() << "waveInOpen failed";
    } catch (const kit::MMError& e) {
        EXPECT_STREQ(e.message().c_str(), "waveInOpen() failed");
        EXPECT_EQ(e.resultCode(), static_cast<uint32_t>(MMSYSERR_BADDEVICEID));
    }
}

}  // namespace
