// The test sounds and the platform's mixers on the bed: what PlaySound plays
// reaches the null sink and comes back through the default recording device.
#include <gmock/gmock.h>
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "kit/exceptions.h"
#include "mixer/kit_mixer.h"
#include "mixer/test_sounds.h"
#include "sound.capture/capture_check.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;
using ::testing::IsEmpty;

// The frequency of a tone over the frames that sound: stretches of silence
// (ten or more zero frames: before the playback began, or a hiccup of the
// platform's playback at the loop) are left out of the count.
double frequencyWhileSounding(const std::vector<int16_t>& samples) {
    std::size_t frames = samples.size() / kChannels, sounding = 0, crossings = 0, zeroRun = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        zeroRun = samples[f * kChannels] == 0 ? zeroRun + 1 : 0;
        if (zeroRun < 10) ++sounding;
        if (zeroRun == 10) sounding -= 9;
        if (f > 0 && (samples[(f - 1) * kChannels] < 0) != (samples[f * kChannels] < 0)) ++crossings;
    }
    return sounding ? crossings / 2.0 * kRate / static_cast<double>(sounding) : 0;
}

int peakOf(const std::vector<int16_t>& samples) {
    int peak = 0;
    for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

// Each test that plays starts on a silent sink and leaves it silent.
class OnTheBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(waitForSilentSink(15000)) << "the sink keeps playing"; }
    void TearDown() override {
        kit::stopWave();
        EXPECT_TRUE(waitForSilentSink(15000)) << "a test sound still plays";
    }
};

TEST(TestSounds, AreFoundBesideTheExecutableElseByBareName) {
    EXPECT_EQ(kit::findTestSound("sound.wav").str(), programFolder() + "\\sound.wav");
    EXPECT_EQ(kit::findTestSound("sound.mid").str(), programFolder() + "\\sound.mid");
    EXPECT_EQ(kit::findTestSound("no-such-sound.wav").str(), "no-such-sound.wav");
}

TEST(TestSounds, TheWaveFileIsALoudToneThatDoesNotClip) {
    WavFile w = readWav(kit::findTestSound("sound.wav").str());
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.samplesPerSec, 44100u);
    EXPECT_EQ(w.bitsPerSample, 16);
    EXPECT_EQ(peakOf(w.samples), 24000);
    EXPECT_NEAR(zeroCrossingFrequency(w.samples), 441.0, 1.0);
}

TEST_F(OnTheBed, TheWaveSoundPlaysIntoTheSinkUntilItIsStopped) {
    std::string path = kit::findTestSound("sound.wav").str();
    int filePeak = peakOf(readWav(path).samples);
    ASSERT_TRUE(kit::playWaveLooping(path.c_str()));
    ::Sleep(400);
    std::vector<int16_t> heard = captureSeconds(1.5);  // longer than the file: it loops
    kit::stopWave();
    ASSERT_EQ(heard.size(), 132300u);
    // In tenths of a second: the tone at its level and pitch, and sound in
    // every one of them (the loop leaves no gap). Wine's output hiccups when
    // another process takes the processor (a click: a peak above the file's,
    // a tenth out of tune): most tenths must still be clean.
    const std::size_t tenth = kRate / 10 * kChannels;
    int clean = 0, silent = 0, tenths = 0;
    for (std::size_t at = 0; at + tenth <= heard.size(); at += tenth, ++tenths) {
        std::vector<int16_t> part(heard.begin() + static_cast<std::ptrdiff_t>(at),
                                  heard.begin() + static_cast<std::ptrdiff_t>(at + tenth));
        double level = rmsLevel(part);
        if (level < filePeak / 4.0) ++silent;
        if (std::abs(peakOf(part) - filePeak) <= filePeak * 0.02 &&
            std::abs(frequencyWhileSounding(part) - 441.0) <= 5.0 &&
            std::abs(level - filePeak / std::sqrt(2.0)) <= filePeak * 0.03)
            ++clean;
        else
            std::printf("tenth %d: peak %d, %.1f Hz, rms %.0f\n", tenths, peakOf(part), frequencyWhileSounding(part),
                        level);
    }
    std::printf("played peak %d: %d of %d tenths of a second heard clean, %d silent\n", filePeak, clean, tenths,
                silent);
    EXPECT_EQ(silent, 0) << "no gap in the loop";
    EXPECT_GT(clean, tenths / 2) << "the tone as the file holds it";
    EXPECT_TRUE(waitForSilentSink(3000)) << "the looping sound stops";
}

TEST(TestSounds, AMissingMidiFileGivesNoDevice) { EXPECT_EQ(kit::playMidi(nullptr, "no-such-sound.mid"), 0u); }

TEST(TestSounds, TheMidiFilePlaysOrGivesNoDeviceWithoutASequencer) {
    MCIDEVICEID id = kit::playMidi(nullptr, kit::findTestSound("sound.mid").c_str());
    std::printf("sequencer device: %u\n", static_cast<unsigned>(id));
    kit::stopMci(id);
    if (id != 0) {
        // Closed: the identifier is no longer valid.
        MCI_STATUS_PARMS status{};
        status.dwItem = MCI_STATUS_MODE;
        EXPECT_NE(::mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status)), 0u);
    }
}

// A probe for the platform's mixers that must not be asked to measure.
class NoMeasuring : public kit::ISoundProbe {
public:
    int16_t measureAverage() override { return ++calls, 0; }
    int16_t measurePeak() override { return ++calls, 0; }
    void startWave() override {}
    void stopWave() override {}
    uint32_t startMidi() override { return 0; }
    void stopMidi(uint32_t) override {}
    int calls = 0;
};

TEST(SystemMixers, TheRecordingMixerIsFoundAndHasOnlyAMonoSourceUnderWine) {
    NoMeasuring probe;
    kit::Mixer mixer(kit::systemMixers(), probe);
    std::unique_ptr<kit::IMixerDevice> device = mixer.openRecordingMixer();
    ASSERT_NE(device, nullptr) << "a mixer with a wave-input destination";
    MIXERLINEA destination{};
    destination.cbStruct = sizeof destination;
    destination.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    ASSERT_EQ(device->getLineInfo(destination, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);
    EXPECT_GE(destination.cConnections, 1u);
    device.reset();
    EXPECT_THAT(mixer.measureLines(), IsEmpty());
    EXPECT_EQ(probe.calls, 0);
    // The one source line answers its volume through the real calls.
    kit::VolumeRecord v = mixer.setVolume(0, std::nullopt, true);
    EXPECT_LE(v.left, 65535u);
}

TEST_F(OnTheBed, TheMixerMeasuresWhatTheDefaultRecordingDeviceHears) {
    TempDir dir;
    std::string wav = dir.file("tone.wav");
    writeWav(wav, toneSignal(441.0, 1.0, 8000));  // whole periods: it loops without a click
    ASSERT_TRUE(kit::playWaveLooping(wav.c_str()));
    ::Sleep(300);
    kit::Mixer mixer;
    int16_t peak = mixer.measurePeak();
    int16_t average = mixer.measureAverage();
    kit::stopWave();
    std::printf("tone of peak 8000: measured peak %d, average %d (expected %.0f)\n", peak, average,
                8000 * 2 / 3.14159265358979);
    // Wine 10 mixes what it plays in floating point: the tone comes back
    // within a step or two of its peak.
    EXPECT_NEAR(peak, 8000, 4);
    EXPECT_NEAR(average, 8000 * 2 / 3.14159265358979, 8000 * 0.02);
}

// The whole calibration on the bed: every recording mixer under Wine has a
// single mono source, so no line is chosen and the coefficient is measured on
// the default recording device, which hears what PlaySound plays.
TEST_F(OnTheBed, CalibrationFindsTheCoefficientThatLiftsTheTestSoundToFullScale) {
    int filePeak = peakOf(readWav(kit::findTestSound("sound.wav").str()).samples);
    ASSERT_GT(filePeak, 0);
    double expected = 32767.0 / filePeak;
    kit::Mixer mixer;
    EventsFile events;
    DWORD t0 = ::GetTickCount();
    kit::CalibrationResult r = mixer.calibrateLines(500);
    DWORD took = ::GetTickCount() - t0;
    std::printf("calibration: coefficient %.6f, expected %.6f (test sound peak %d), line chosen %d, %lu ms\n",
                r.coefficient, expected, filePeak, r.lineChosen ? 1 : 0, static_cast<unsigned long>(took));
    EXPECT_FALSE(r.lineChosen);
    EXPECT_NEAR(r.coefficient, expected, expected * 0.02);
    std::string log = events.added();
    EXPECT_THAT(log, ::testing::HasSubstr("CALIBRATING START"));
    EXPECT_THAT(log, ::testing::HasSubstr("no line to choose"));
    EXPECT_THAT(log, ::testing::HasSubstr("CALIBRATING DONE"));
}

}  // namespace
