// The silence rules through the engine, on a scripted capture device: the
// durations are audio time, so minutes of silence pass in moments.
#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/engine.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

constexpr std::size_t kBlockSamples = 8820;  // 100 ms of the line's format

class SilenceEvents : public engine::EngineEvents {
public:
    void mustStop(const std::string& reason) override {
        std::lock_guard<std::mutex> g(lock);
        stops.push_back(reason);
    }
    void halfHourRecorded() override {}
    void diskSpaceLow(bool) override {}
    void recordingFinished() override { ++finished; }
    std::vector<std::string> stopTexts() {
        std::lock_guard<std::mutex> g(lock);
        return stops;
    }
    std::atomic<int> finished{0};

private:
    std::mutex lock;
    std::vector<std::string> stops;
};

class SilenceRules : public ::testing::Test {
protected:
    void SetUp() override {
        eng = std::make_unique<engine::Engine>(events, engine::EngineSeams{&device, nullptr});
        change([](Settings& cfg) { cfg.volumeCoeff = 1.0; });
    }
    void TearDown() override {
        if (eng->isRecording()) eng->abort();
        change([](Settings& cfg) { cfg.silenceStart = cfg.silenceStop = cfg.silenceSplit = false; });
        eng.reset();
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
    }
    template <class Change>
    void change(Change&& what) {
        Settings cfg = eng->settings();
        what(cfg);
        eng->storeSettings(cfg);
    }
    void record(std::size_t blocks) {
        for (std::size_t i = 0; i < blocks; ++i) {
            ASSERT_TRUE(device.waitQueued(kit::SoundRecorder::kDeviceBlocks));
            ASSERT_TRUE(device.deliverFull());
        }
    }
    bool finishAndWait() {
        int before = events.finished;
        if (eng->finish() != engine::EndResult::finishing) return false;
        return waitUntil([&] { return events.finished > before; }, 20000);
    }

    SilenceEvents events;
    ScriptedWaveIn device;
    std::unique_ptr<engine::Engine> eng;
    TempDir dir;
};

void appendSilence(std::vector<int16_t>& to, std::size_t frames) { to.insert(to.end(), frames * 2, int16_t{0}); }
void appendSound(std::vector<int16_t>& to, std::size_t frames, uint32_t seed) {
    std::vector<int16_t> sound = pseudoRandomSignal(frames, seed);
    to.insert(to.end(), sound.begin(), sound.end());
}

// Sound with three gaps of 3 s, cut at 2 s of silence: four files, each a
// complete WAV with its own entry, that together are the recording bit for bit.
TEST_F(SilenceRules, EachSilenceGoesOnInTheNextFileAndNothingIsLostOrRepeated) {
    change([](Settings& cfg) {
        cfg.silenceSplit = true;
        cfg.silenceSplitSeconds = 2;
    });
    std::vector<int16_t> source;
    appendSound(source, 30000, 1);
    for (uint32_t gap = 0; gap < 3; ++gap) {
        appendSilence(source, kRate * 3);
        appendSound(source, 20000 + 7000 * gap, 2 + gap);
    }
    std::size_t blocks = (source.size() + kBlockSamples - 1) / kBlockSamples;
    device.setSource(source);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    record(5);
    ASSERT_TRUE(eng->setOutputFile(dir.file("gaps.wav"), engine::FORMAT_WAV, 0));
    record(blocks - 5);
    ASSERT_TRUE(finishAndWait());

    std::vector<int16_t> joined;
    engine::RecordingOutcome outcome = eng->lastRecordingOutcome();
    ASSERT_EQ(outcome.files.size(), 4u);
    EXPECT_EQ(outcome.parts, 4u);
    const char* names[] = {"gaps.wav", "gaps (2).wav", "gaps (3).wav", "gaps (4).wav"};
    for (std::size_t n = 0; n < 4; ++n) {
        WavFile part = readWav(dir.file(names[n]));
        ASSERT_TRUE(part.valid) << names[n];
        EXPECT_EQ(part.riffSize, part.dataSize + 36) << names[n];
        EXPECT_EQ(outcome.files[n].path, dir.file(names[n]));
        EXPECT_EQ(outcome.files[n].frames, part.samples.size() / 2) << names[n];
        EXPECT_TRUE(n == 0 || part.samples.front() == 0) << names[n] << " begins inside the silence";
        EXPECT_TRUE(n == 3 || part.samples.back() == 0) << names[n] << " ends inside the silence";
        joined.insert(joined.end(), part.samples.begin(), part.samples.end());
    }
    source.resize(blocks * kBlockSamples, 0);
    EXPECT_TRUE(joined == source) << joined.size() << " samples of " << source.size();
    EXPECT_FALSE(fileExists(dir.file("gaps (5).wav")));
}

// Waiting for sound: the seconds of silence before it are not written, the
// first sound is whole (with a short pre-roll before it), and the rest follows.
TEST_F(SilenceRules, StartingWhenSoundBeginsKeepsTheFirstSoundWhole) {
    change([](Settings& cfg) { cfg.silenceStart = true; });
    std::vector<int16_t> source;
    appendSilence(source, kRate * 4 + 1234);
    std::size_t onset = source.size();
    appendSound(source, kRate * 2, 7);
    device.setSource(source);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("late.wav"), engine::FORMAT_WAV, 0));
    std::size_t blocks = (source.size() + kBlockSamples - 1) / kBlockSamples;
    record(blocks);
    ASSERT_TRUE(finishAndWait());
    WavFile wav = readWav(dir.file("late.wav"));
    ASSERT_TRUE(wav.valid);
    source.resize(blocks * kBlockSamples, 0);
    std::size_t kept = wav.samples.size();
    ASSERT_GE(kept, source.size() - onset) << "the whole sound";
    EXPECT_LE(kept, source.size() - onset + 2 * (kRate / 4 + kRate / 100)) << "a pre-roll, not the silence";
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), source.end() - static_cast<std::ptrdiff_t>(kept)));
    EXPECT_EQ(eng->lastRecordingOutcome().files.at(0).frames, kept / 2);
}

// A minute of silence after sound asks once to end the recording, saying why;
// silence before the first sound does not count.
TEST_F(SilenceRules, AMinuteOfSilenceAsksToEndTheRecordingOnce) {
    change([](Settings& cfg) {
        cfg.silenceStart = true;
        cfg.silenceStop = true;
        cfg.silenceStopMinutes = 1;
    });
    for (std::size_t silenceAfter : {59, 61}) {
        std::vector<int16_t> source;
        appendSilence(source, kRate * 70);
        appendSound(source, kRate, 3);
        appendSilence(source, kRate * silenceAfter);
        device.setSource(source);
        ASSERT_EQ(eng->start(), engine::StartResult::started);
        ASSERT_TRUE(eng->setOutputFile(dir.file("quiet.wav"), engine::FORMAT_WAV, 0));
        record(source.size() / kBlockSamples);
        ASSERT_TRUE(finishAndWait());  // everything recorded has been looked at
        EXPECT_EQ(events.stopTexts().size(), silenceAfter < 60 ? 0u : 1u) << silenceAfter << " s after the sound";
    }
    EXPECT_THAT(events.stopTexts()[0], HasSubstr("after 1 minute of silence"));
}

}  // namespace
