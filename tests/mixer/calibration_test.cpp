// The calibration on a scripted card: the probe hears chosen levels per line
// and per playing sound, and peaks that follow the line's volume.
#include <gmock/gmock.h>

#include "kit/exceptions.h"
#include "mixer/calibration.h"
#include "mixer/scripted_mixer.h"
#include "support/support.h"

namespace {

using namespace testmixer;
using kit::CalibrationResult;
using kit::Measurement;
using kit::MeasurementList;
using kit::Mixer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr uint32_t kThreshold = 500;

struct Bench {
    Bench() { buildClassicCard(card); }
    ScriptedCard card{"Classic"};
    ScriptedMixers mixers{{&card}};
    ScriptedProbe probe{card, kWaveInLine};
    Mixer mixer{mixers, probe};
    testsupport::EventsFile events;

    CalibrationResult run() { return mixer.calibrateLines(kThreshold); }
};

TEST(Calibration, TheLineThatHearsTheWaveButNotTheMidiSoundIsChosen) {
    Bench b;
    b.probe.waveAverage = {{kStereoMix, 200}, {kLineIn, 900}, {kCd, 1500}};
    b.probe.midiAverage = {{kCd, 1200}};
    b.probe.peakAtVolume = {{32767, 16384}};
    CalibrationResult r = b.run();
    EXPECT_TRUE(r.lineChosen);
    EXPECT_EQ(r.line, kLineIn);
    EXPECT_EQ(r.level, 32767u);
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 16384);
    // Left selected, unmuted and at the level; the test sounds are stopped.
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kLineIn));
    EXPECT_FALSE(b.card.muted(kLineIn));
    EXPECT_THAT(b.card.volume(kLineIn), ElementsAre(32767u, 32767u));
    EXPECT_FALSE(b.probe.wavePlaying);
    EXPECT_FALSE(b.probe.midiPlaying);
    EXPECT_EQ(b.card.openNow(), 0);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("CALIBRATING START"));
    EXPECT_THAT(log, HasSubstr("Playing WAVE"));
    EXPECT_THAT(log, HasSubstr("channel 65537, volume 200"));
    EXPECT_THAT(log, HasSubstr("filtered: channel 65537, volume 200"));
    EXPECT_THAT(log, HasSubstr("filtered: channel 65539, volume 0")) << "line in is silent while MIDI plays";
    EXPECT_THAT(log, HasSubstr("Playing MIDI"));
    EXPECT_THAT(log, HasSubstr("removed device 65540, wave volume 1500, midi volume 1200"));
    EXPECT_THAT(log, Not(HasSubstr("no devices left")));
    EXPECT_THAT(log, HasSubstr("loudest device 65539, volume 900"));
    EXPECT_THAT(log, HasSubstr("STEP 1 : regulating mixer"));
    EXPECT_THAT(log, HasSubstr("Current volume = 16384"));
    EXPECT_THAT(log, HasSubstr("FINAL Current volume = 16384"));
    EXPECT_THAT(log, Not(HasSubstr("Decreasing twice")));
    EXPECT_THAT(log, HasSubstr("New level = 32767"));
    EXPECT_THAT(log, HasSubstr("STEP 2 : finding coeff"));
    EXPECT_THAT(log, HasSubstr("Volume2 16384 (id = 65539)"));
    EXPECT_THAT(log, HasSubstr("Coeff = 1.999939"));
    EXPECT_THAT(log, HasSubstr("line = 65539\nlevel = 32767coeff = 1.999939"));
    EXPECT_THAT(log, HasSubstr("CALIBRATING DONE"));
}

TEST(Calibration, WhenEveryLineHearsBothSoundsTheLoudestOfAllIsUsed) {
    Bench b;
    b.probe.waveAverage = {{kStereoMix, 1000}, {kLineIn, 3000}, {kCd, 2000}, {kAux, 400}};
    b.probe.midiAverage = {{kStereoMix, 800}, {kLineIn, 700}, {kCd, 900}};
    b.probe.peakAtVolume = {{32767, 20000}};
    CalibrationResult r = b.run();
    EXPECT_EQ(r.line, kLineIn);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("no devices left, will use the loudest out of all"));
    EXPECT_THAT(log, HasSubstr("filtered: channel 65541, volume 400"));
    EXPECT_THAT(log, HasSubstr("loudest device 65539, volume 3000"));
}

TEST(Calibration, OfTwoEquallyLoudLinesTheOneMeasuredFirstIsChosen) {
    Bench b;
    b.probe.waveAverage = {{kLineIn, 900}, {kCd, 900}};
    b.probe.peakAtVolume = {{32767, 20000}};
    EXPECT_EQ(b.run().line, kLineIn);
}

TEST(Calibration, AClippingPeakHalvesTheLevelAndMeasuresAgain) {
    Bench b;
    b.probe.waveAverage = {{kCd, 5000}};
    b.probe.peakAtVolume = {{32767, 32767}, {16383, 20000}};
    CalibrationResult r = b.run();
    EXPECT_EQ(r.line, kCd);
    EXPECT_EQ(r.level, 16383u);
    EXPECT_THAT(b.card.volume(kCd), ElementsAre(16383u, 16383u));
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 20000);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("FINAL Current volume = 32767"));
    EXPECT_THAT(log, HasSubstr("Decreasing twice"));
    EXPECT_THAT(log, HasSubstr("New level = 16383"));
}

TEST(Calibration, APeakOf32749IsNotClipping) {
    Bench b;
    b.probe.waveAverage = {{kCd, 5000}};
    b.probe.peakAtVolume = {{32767, 32749}};
    CalibrationResult r = b.run();
    EXPECT_EQ(r.level, 32767u);
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 32749);
    EXPECT_THAT(b.events.added(), Not(HasSubstr("Decreasing twice")));
}

TEST(Calibration, ALineThatAlwaysClipsStopsHalvingAtLevelZero) {
    Bench b;
    b.probe.waveAverage = {{kCd, 5000}};
    b.probe.peakOtherwise = 32767;
    CalibrationResult r = b.run();
    EXPECT_EQ(r.level, 0u);
    EXPECT_DOUBLE_EQ(r.coefficient, 1.0);
}

TEST(Calibration, AFinalPeakOf1000GivesTheCoefficient32767Thousandths) {
    Bench b;
    b.probe.waveAverage = {{kCd, 5000}};
    b.probe.peakAtVolume = {{32767, 1000}};
    EXPECT_DOUBLE_EQ(b.run().coefficient, 32.767);
    EXPECT_THAT(b.events.added(), HasSubstr("Coeff = 32.767000"));
}

TEST(Calibration, AFinalPeakOfZeroFailsWithAClearError) {
    Bench b;
    b.probe.waveAverage = {{kCd, 5000}};
    b.probe.peakOtherwise = 0;
    try {
        b.run();
        FAIL() << "a calibration whose line hears nothing must fail";
    } catch (const kit::ARuntimeError& e) {
        EXPECT_THAT(e.message().c_str(), HasSubstr("No recording input hears the test sound"));
        EXPECT_GT(e.originLine(), 0);
    }
    EXPECT_FALSE(b.probe.wavePlaying) << "the test sound is stopped when the calibration fails";
    EXPECT_THAT(b.events.added(), Not(HasSubstr("CALIBRATING DONE")));
}

// A line that heard the wave sound while lines were measured, but whose final
// peak is too quiet to scale up (1 would give the coefficient 32767): refused
// as on the path without a line, with the same words.
TEST(Calibration, AFinalPeakAtOrBelowTheThresholdIsRefusedLikeSilence) {
    for (int16_t peak : {1, 500}) {
        Bench b;
        b.probe.waveAverage = {{kCd, 5000}};
        b.probe.peakAtVolume = {{32767, peak}};
        try {
            b.run();
            ADD_FAILURE() << "a final peak of " << peak << " was accepted";
        } catch (const kit::ARuntimeError& e) {
            EXPECT_THAT(e.message().c_str(), HasSubstr("No recording input hears the test sound")) << peak;
        }
        EXPECT_FALSE(b.probe.wavePlaying);
        EXPECT_THAT(b.events.added(), Not(HasSubstr("CALIBRATING DONE"))) << peak;
    }
}

TEST(CalibrationSteps, TheCoefficientLiftsAPeakAboveTheThresholdToFullScaleWithinTheSaneRange) {
    EXPECT_EQ(kit::coefficientForPeak(16384, 500), 32767.0 / 16384);
    EXPECT_EQ(kit::coefficientForPeak(501, 500), 32767.0 / 501);
    EXPECT_EQ(kit::coefficientForPeak(32767, 500), 1.0);
    for (int peak : {1, 0, -5, 500}) EXPECT_EQ(kit::coefficientForPeak(peak, 500), std::nullopt) << peak;
    // Whatever the threshold, no coefficient above 100 comes out.
    EXPECT_EQ(kit::coefficientForPeak(327, 0), std::nullopt);
    EXPECT_EQ(kit::coefficientForPeak(328, 0), 32767.0 / 328);
}

TEST(Calibration, WithoutMidiOutputNoLineIsRemoved) {
    Bench b;
    b.probe.midiAvailable = false;
    b.probe.waveAverage = {{kLineIn, 900}, {kCd, 1500}};
    b.probe.midiAverage = {{kCd, 1200}};
    b.probe.peakAtVolume = {{32767, 20000}};
    EXPECT_EQ(b.run().line, kCd);
    EXPECT_THAT(b.events.added(), Not(HasSubstr("removed device")));
}

// A recording mixer with a single mono source, as every recording device
// under Wine has: no line to choose; the coefficient alone is calibrated.
struct MonoBench {
    MonoBench() { buildWineRecordingCard(card); }
    ScriptedCard card{"Rec"};
    ScriptedMixers mixers{{&card}};
    ScriptedProbe probe{card, 0xFFFF0000};
    Mixer mixer{mixers, probe};
    testsupport::EventsFile events;
};

TEST(CalibrationWithoutLine, TheCoefficientIsMeasuredOnTheDefaultDeviceAndTheMixerIsLeftAlone) {
    MonoBench b;
    b.probe.defaultWave = 24000;
    CalibrationResult r = b.mixer.calibrateLines(kThreshold);
    EXPECT_FALSE(r.lineChosen);
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 24000);
    EXPECT_THAT(b.card.setCalls(), IsEmpty()) << "the stored line and level stay";
    EXPECT_FALSE(b.probe.wavePlaying);
    EXPECT_EQ(b.probe.waveStarts, 2);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("no line to choose"));
    EXPECT_THAT(log, HasSubstr("Volume2 24000"));
    EXPECT_THAT(log, HasSubstr("CALIBRATING DONE"));
}

TEST(CalibrationWithoutLine, EveryLineSilentAlsoCalibratesTheCoefficientAlone) {
    Bench b;
    b.probe.waveAverage = {{kLineIn, 300}};
    b.probe.peakOtherwise = 12000;
    CalibrationResult r = b.run();
    EXPECT_FALSE(r.lineChosen);
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 12000);
}

struct FailingPeak {
    int16_t peak;
};

class CalibrationWithoutLineFails : public ::testing::TestWithParam<FailingPeak> {};

TEST_P(CalibrationWithoutLineFails, WhenTheDefaultDeviceHearsNothingAboveTheThreshold) {
    MonoBench b;
    b.probe.defaultWave = GetParam().peak;
    EXPECT_THROW(
        {
            try {
                b.mixer.calibrateLines(kThreshold);
            } catch (const kit::ARuntimeError& e) {
                EXPECT_THAT(e.message().c_str(), HasSubstr("No recording input hears the test sound"));
                throw;
            }
        },
        kit::ARuntimeError);
    EXPECT_FALSE(b.probe.wavePlaying);
}

INSTANTIATE_TEST_SUITE_P(Peaks, CalibrationWithoutLineFails,
                         ::testing::Values(FailingPeak{0}, FailingPeak{1}, FailingPeak{499}, FailingPeak{500}));

// ---- the loopback capture first ------------------------------------------------------------

// What the loopback capture of the playback device hears: the wave test sound
// at `peak` while it plays, nothing otherwise; or it cannot open at all, as
// where the platform refuses loopback.
class LoopbackProbe : public kit::ISoundProbe {
public:
    explicit LoopbackProbe(const ScriptedProbe& sounds) : sounds(sounds) {}
    int16_t measureAverage() override { return measurePeak(); }
    int16_t measurePeak() override {
        ++calls;
        if (refused) throw kit::MMError("waveInOpen() failed", MMSYSERR_NOTSUPPORTED);
        return sounds.wavePlaying ? peak : 0;
    }
    void startWave() override {}
    void stopWave() override {}
    uint32_t startMidi() override { return 0; }
    void stopMidi(uint32_t) override {}

    bool refused = false;
    int16_t peak = 0;
    int calls = 0;

private:
    const ScriptedProbe& sounds;
};

struct LoopbackBench {
    LoopbackBench() {
        buildClassicCard(card);
        probe.waveAverage = {{kLineIn, 900}};
        probe.peakAtVolume = {{32767, 16384}};
    }
    ScriptedCard card{"Classic"};
    ScriptedMixers mixers{{&card}};
    ScriptedProbe probe{card, kWaveInLine};
    LoopbackProbe loopback{probe};
    Mixer mixer{mixers, probe, &loopback};
    testsupport::EventsFile events;
};

TEST(CalibrationWithLoopback, ALoopbackThatHearsTheTestSoundIsChosenAndNoMixerIsTouched) {
    LoopbackBench b;
    b.loopback.peak = 18000;
    CalibrationResult r = b.mixer.calibrate(kThreshold);
    EXPECT_TRUE(r.loopback);
    EXPECT_FALSE(r.lineChosen);
    EXPECT_EQ(r.coefficient, 1.0);
    EXPECT_THAT(b.card.setCalls(), IsEmpty()) << "no mixer line or volume is touched";
    EXPECT_EQ(b.card.openNow(), 0);
    EXPECT_FALSE(b.probe.wavePlaying);
    EXPECT_EQ(b.loopback.calls, 1);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("Loopback volume = 18000"));
    EXPECT_THAT(log, HasSubstr("loopback capture chosen"));
    EXPECT_THAT(log, Not(HasSubstr("Trying line")));
}

TEST(CalibrationWithLoopback, WhereLoopbackIsRefusedTheRecordingLineIsCalibratedAsBefore) {
    LoopbackBench b;
    b.loopback.refused = true;
    CalibrationResult r = b.mixer.calibrate(kThreshold);
    EXPECT_FALSE(r.loopback);
    EXPECT_TRUE(r.lineChosen);
    EXPECT_EQ(r.line, kLineIn);
    EXPECT_DOUBLE_EQ(r.coefficient, 32767.0 / 16384);
    EXPECT_FALSE(b.probe.wavePlaying);
    std::string log = b.events.added();
    EXPECT_THAT(log, HasSubstr("loopback capture not available: waveInOpen() failed"));
    EXPECT_THAT(log, HasSubstr("loudest device 65539"));
    EXPECT_THAT(log, Not(HasSubstr("ERR ")));
}

TEST(CalibrationWithLoopback, ALoopbackThatHearsNothingLeavesTheChoiceToTheLines) {
    LoopbackBench b;
    b.loopback.peak = 500;  // at the threshold: silent
    CalibrationResult r = b.mixer.calibrate(kThreshold);
    EXPECT_FALSE(r.loopback);
    EXPECT_EQ(r.line, kLineIn);
    EXPECT_EQ(b.loopback.calls, 3);
}

// The sorting steps alone.
TEST(CalibrationSteps, FilteringRemovesEveryEntryAtOrBelowTheThreshold) {
    MeasurementList list = {{1, 500}, {2, 501}, {3, 0}, {4, 9000}, {5, 500}};
    EXPECT_THAT(kit::filterSilent(list, 500), ElementsAre(Measurement{2, 501}, Measurement{4, 9000}));
    EXPECT_THAT(kit::filterSilent({}, 500), IsEmpty());
}

TEST(CalibrationSteps, AMidiEntryRemovesTheFirstCandidateOfItsLine) {
    MeasurementList candidates = {{1, 900}, {2, 800}, {1, 700}};
    EXPECT_THAT(kit::removeHeardBy(candidates, {{1, 600}, {9, 600}}),
                ElementsAre(Measurement{2, 800}, Measurement{1, 700}));
}

TEST(CalibrationSteps, TheLoudestIsTheFirstOfTheGreatest) {
    EXPECT_EQ(kit::chooseLoudest({{1, 5}, {2, 9}, {3, 9}, {4, 1}}), (Measurement{2, 9}));
    EXPECT_EQ(kit::chooseLoudest({}), std::nullopt);
}

}  // namespace
