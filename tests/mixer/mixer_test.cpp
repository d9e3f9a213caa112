// The mixer operations on scripted sound cards.
#include <gmock/gmock.h>

#include "kit/exceptions.h"
#include "mixer/kit_mixer.h"
#include "mixer/scripted_mixer.h"
#include "support/support.h"

namespace {

using namespace testmixer;
using kit::Mixer;
using kit::VolumeRecord;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A classic card as the only mixer, with a probe on its wave-in destination.
struct ClassicBench {
    explicit ClassicBench(DWORD listType = MIXERCONTROL_CONTROLTYPE_MUX) { buildClassicCard(card, listType); }
    ScriptedCard card{"Classic"};
    ScriptedMixers mixers{{&card}};
    ScriptedProbe probe{card, kWaveInLine};
    Mixer mixer{mixers, probe};
};

TEST(MixerChoice, MixerZeroIsUsedWhenItHasAWaveInputDestination) {
    ClassicBench b;
    ScriptedCard other;
    buildWineRecordingCard(other);
    ScriptedMixers both({&b.card, &other});
    Mixer mixer(both, b.probe);
    mixer.selectSource(kLineIn);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kLineIn));
    EXPECT_EQ(other.opens(), 0);
}

TEST(MixerChoice, WithoutOneTheFirstMixerWithAWaveInputDestinationIsUsed) {
    // The layout under Wine: two playback mixers, then one per recording device.
    ScriptedCard play0, play1, rec2, rec3;
    buildWinePlaybackCard(play0);
    buildWinePlaybackCard(play1);
    buildWineRecordingCard(rec2);
    buildWineRecordingCard(rec3);
    ScriptedMixers mixers({&play0, &play1, &rec2, &rec3});
    ScriptedProbe probe(rec2, 0xFFFF0000);
    Mixer mixer(mixers, probe);
    VolumeRecord before = mixer.setVolume(0, VolumeRecord(1234), false);
    EXPECT_EQ(before.left, 0u);
    EXPECT_THAT(rec2.volume(0), ElementsAre(1234u));
    EXPECT_THAT(play0.volume(0), ElementsAre(0u));
    EXPECT_THAT(rec3.volume(0), ElementsAre(0u));
    EXPECT_EQ(play0.openNow() + play1.openNow() + rec2.openNow() + rec3.openNow(), 0) << "every mixer is closed again";
}

TEST(MixerChoice, WithNoRecordingMixerEveryOperationHasNothingToActOn) {
    ScriptedCard play0;
    buildWinePlaybackCard(play0);
    ScriptedMixers mixers({&play0, nullptr});
    ScriptedProbe probe(play0, 0xFFFF0000);
    Mixer mixer(mixers, probe);
    EXPECT_EQ(mixer.openRecordingMixer(), nullptr);
    mixer.prepareLine(0, VolumeRecord(100));
    EXPECT_FALSE(mixer.setMute(0, true));
    VolumeRecord v = mixer.setVolume(0, std::nullopt, false);
    EXPECT_EQ(v.left + v.right, 0u);
    EXPECT_THAT(mixer.measureLines(), IsEmpty());
    EXPECT_THAT(play0.setCalls(), IsEmpty());
    EXPECT_EQ(probe.averageCalls, 0);
    EXPECT_EQ(play0.openNow(), 0);
}

TEST(MixerLines, AMixerWithOnlyMonoSourcesYieldsAnEmptyMeasurementList) {
    ScriptedCard rec;
    buildWineRecordingCard(rec);
    ScriptedMixers mixers({&rec});
    ScriptedProbe probe(rec, 0xFFFF0000);
    Mixer mixer(mixers, probe);
    testsupport::EventsFile events;
    EXPECT_THAT(mixer.measureLines(), IsEmpty());
    EXPECT_EQ(probe.averageCalls, 0);
    std::string log = events.added();
    EXPECT_THAT(log, HasSubstr("0: Master Volume -- 1 channels"));
    EXPECT_THAT(log, HasSubstr("mono, ignored"));
}

TEST(MixerLines, EveryStereoLineIsMeasuredSelectedUnmutedAtMidVolumeAndRestored) {
    ClassicBench b;
    b.probe.averageSequence = {100, 200, 300};
    testsupport::EventsFile events;
    kit::MeasurementList list = b.mixer.measureLines();
    // The mono microphone is left out; the last of three measurements counts.
    EXPECT_THAT(list, ElementsAre(kit::Measurement{kStereoMix, 300}, kit::Measurement{kLineIn, 300},
                                  kit::Measurement{kCd, 300}, kit::Measurement{kAux, 300}));
    ASSERT_EQ(b.probe.seen.size(), 12u);
    const DWORD order[] = {kStereoMix, kLineIn, kCd, kAux};
    for (std::size_t i = 0; i < b.probe.seen.size(); ++i) {
        const auto& s = b.probe.seen[i];
        EXPECT_THAT(s.heard, ElementsAre(order[i / 3])) << "measurement " << i;
        EXPECT_FALSE(s.muted);
        if (order[i / 3] != kAux) {
            EXPECT_THAT(s.volume, ElementsAre(32767u, 32767u)) << "measurement " << i;
        }
    }
    EXPECT_EQ(b.probe.mixerOpenWhileMeasuring, 0) << "the mixer is closed while measuring";
    // Mute and volume are as they were; the selection is not restored.
    EXPECT_TRUE(b.card.muted(kStereoMix));
    EXPECT_THAT(b.card.volume(kStereoMix), ElementsAre(40000u, 41000u));
    EXPECT_THAT(b.card.volume(kLineIn), ElementsAre(10000u, 12000u));
    EXPECT_FALSE(b.card.muted(kLineIn));
    EXPECT_THAT(b.card.volume(kCd), ElementsAre(30000u, 30000u));
    EXPECT_THAT(b.card.volume(kMic), ElementsAre(20000u));
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kAux));
    std::string log = events.added();
    EXPECT_THAT(log, HasSubstr("65537: Stereo Mix -- 2 channels"));
    EXPECT_THAT(log, HasSubstr("65538: Microphone -- 1 channels"));
    EXPECT_THAT(log, HasSubstr("Trying line: 65539"));
    EXPECT_THAT(log, HasSubstr("Volume: 300"));
    EXPECT_EQ(b.card.openNow(), 0);
}

TEST(MixerLines, AFailingMeasurementStillRestoresTheLine) {
    struct FailingProbe : ScriptedProbe {
        using ScriptedProbe::ScriptedProbe;
        int16_t measureAverage() override {
            kit::setOrigin("test", 1, "FailingProbe");
            throw kit::ARuntimeError("waveInOpen() failed");
        }
    };
    ScriptedCard card;
    buildClassicCard(card);
    ScriptedMixers mixers({&card});
    FailingProbe probe(card, kWaveInLine);
    Mixer mixer(mixers, probe);
    EXPECT_THROW(mixer.measureLines(), kit::ARuntimeError);
    EXPECT_TRUE(card.muted(kStereoMix));
    EXPECT_THAT(card.volume(kStereoMix), ElementsAre(40000u, 41000u));
}

TEST(MixerSelect, AMuxSelectsOnlyTheGivenLine) {
    ClassicBench b;
    b.mixer.selectSource(kCd);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kCd));
    b.mixer.selectSource(kStereoMix);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kStereoMix));
}

TEST(MixerSelect, AMultipleSelectControlKeepsTheOtherLinesSelected) {
    ClassicBench b(MIXERCONTROL_CONTROLTYPE_MIXER);
    b.mixer.selectSource(kCd);
    b.mixer.selectSource(kLineIn);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kMic, kLineIn, kCd));
}

TEST(MixerSelect, ASingleSelectControlDeselectsTheOthers) {
    ClassicBench b(MIXERCONTROL_CONTROLTYPE_SINGLESELECT);
    b.mixer.selectSource(kLineIn);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kLineIn));
}

TEST(MixerSelect, ALineThatIsNoSourceChangesNothing) {
    ClassicBench b;
    b.mixer.selectSource(0x999);
    b.mixer.prepareLine(0x999);
    EXPECT_FALSE(b.mixer.setMute(0x999, true));
    EXPECT_THAT(b.card.setCalls(), IsEmpty());
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kMic));
}

TEST(MixerSelect, ADestinationWithoutAListControlChangesNothing) {
    ScriptedCard rec;
    buildWineRecordingCard(rec);
    ScriptedMixers mixers({&rec});
    ScriptedProbe probe(rec, 0xFFFF0000);
    Mixer mixer(mixers, probe);
    mixer.selectSource(0);
    EXPECT_THAT(rec.setCalls(), IsEmpty());
}

TEST(MixerMute, SetMuteAnswersTheFormerStateAndSetsTheNewOne) {
    ClassicBench b;
    EXPECT_TRUE(b.mixer.setMute(kStereoMix, false));
    EXPECT_FALSE(b.card.muted(kStereoMix));
    EXPECT_FALSE(b.mixer.setMute(kStereoMix, true));
    EXPECT_TRUE(b.card.muted(kStereoMix));
}

TEST(MixerMute, ANonUniformMuteSetsTheFirstAndLastChannel) {
    ScriptedCard card;
    DWORD dest = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Rec", 2);
    card.addSource(dest, 5, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line", 2);
    card.addMute(5, false, false);
    ScriptedMixers mixers({&card});
    ScriptedProbe probe(card, dest);
    Mixer mixer(mixers, probe);
    EXPECT_FALSE(mixer.setMute(5, true));
    EXPECT_THAT(card.values(5, MIXERCONTROL_CONTROLTYPE_MUTE), ElementsAre(1u, 1u));
}

TEST(MixerMute, ALineWithoutMuteAnswersFalseAndChangesNothing) {
    ClassicBench b;
    EXPECT_FALSE(b.mixer.setMute(kAux, true));
    EXPECT_THAT(b.card.setCalls(), IsEmpty());
}

TEST(MixerVolume, ALineWithoutAVolumeControlAnswersZeroAndZero) {
    ClassicBench b;
    VolumeRecord v = b.mixer.setVolume(kAux, std::nullopt, false);
    EXPECT_EQ(v.left, 0u);
    EXPECT_EQ(v.right, 0u);
    EXPECT_FALSE(v.flag);
    b.mixer.setVolume(kAux, VolumeRecord(5), false);
    EXPECT_THAT(b.card.setCalls(), IsEmpty());
}

TEST(MixerVolume, AGivenRecordSetsLeftAndRightAndTheFormerValuesAreAnswered) {
    ClassicBench b;
    VolumeRecord before = b.mixer.setVolume(kLineIn, VolumeRecord(1000, 2000), false);
    EXPECT_EQ(before.left, 10000u);
    EXPECT_EQ(before.right, 12000u);
    EXPECT_THAT(b.card.volume(kLineIn), ElementsAre(1000u, 2000u));
}

TEST(MixerVolume, ReadOnlyLeavesTheValues) {
    ClassicBench b;
    VolumeRecord v = b.mixer.setVolume(kLineIn, VolumeRecord(1), true);
    EXPECT_EQ(v.left, 10000u);
    EXPECT_EQ(v.right, 12000u);
    EXPECT_THAT(b.card.volume(kLineIn), ElementsAre(10000u, 12000u));
}

TEST(MixerVolume, PrepareLineSelectsUnmutesAndSetsTheVolume) {
    ClassicBench b;
    b.mixer.prepareLine(kStereoMix, VolumeRecord(16383));
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kStereoMix));
    EXPECT_FALSE(b.card.muted(kStereoMix));
    EXPECT_THAT(b.card.volume(kStereoMix), ElementsAre(16383u, 16383u));
    b.mixer.prepareLine(kCd, VolumeRecord(1), true);
    EXPECT_THAT(b.card.selectedLines(kWaveInLine), ElementsAre(kCd));
    EXPECT_THAT(b.card.volume(kCd), ElementsAre(30000u, 30000u)) << "keepVolume leaves the volume";
    b.mixer.prepareLine(kLineIn);
    EXPECT_THAT(b.card.volume(kLineIn), ElementsAre(32767u, 32767u)) << "no volume means mid range";
    EXPECT_EQ(b.card.openNow(), 0);
}

// Mid range of a volume control's bounds.
struct Bounds {
    DWORD minimum, maximum, middle;
    bool uniform;
};

class MixerMidRange : public ::testing::TestWithParam<Bounds> {};

TEST_P(MixerMidRange, NoVolumeSetsTheMiddleOfTheBoundsOnBothChannels) {
    const Bounds& p = GetParam();
    ScriptedCard card;
    DWORD dest = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Rec", 2);
    card.addSource(dest, 9, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line", 2);
    card.addVolume(9, p.uniform ? std::vector<DWORD>{p.minimum} : std::vector<DWORD>{p.minimum, p.maximum}, p.uniform,
                   p.minimum, p.maximum);
    ScriptedMixers mixers({&card});
    ScriptedProbe probe(card, dest);
    Mixer mixer(mixers, probe);
    mixer.setVolume(9, std::nullopt, false);
    if (p.uniform) {
        EXPECT_THAT(card.volume(9), ElementsAre(p.middle));
    } else {
        EXPECT_THAT(card.volume(9), ElementsAre(p.middle, p.middle));
    }
}

INSTANTIATE_TEST_SUITE_P(Bounds, MixerMidRange,
                         ::testing::Values(Bounds{0, 65535, 32767, false}, Bounds{0, 65535, 32767, true},
                                           Bounds{0, 255, 127, false}, Bounds{100, 200, 150, false},
                                           Bounds{0, 0xFFFFFFFFu, 0x7FFFFFFFu, false}, Bounds{7, 7, 7, true}));

}  // namespace
