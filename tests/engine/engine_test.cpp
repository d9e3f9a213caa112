// The engine's operations on the real devices of the bed, a new engine for
// each test.
#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/finalizer.h"
#include "engine/output_messages.h"
#include "mixer/kit_mixer.h"
#include "diagnostics/shell_open.h"
#include "mixer/recording_sound_probe.h"
#include "engine/engine.h"
#include "config/settings.h"
#include "kit/regkey.h"
#include "kit/scoped.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/scripted_wave_in.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "support/support.h"

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, Settings::kKeyPath); }
};
::testing::Environment* const engineEnvironment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

// What the engine's threads report, counted.
class CountedEvents : public engine::EngineEvents {
public:
    void mustStop(const std::string& reason) override {
        std::lock_guard<std::mutex> g(lock);
        stopText = reason;
        ++stops;
    }
    void halfHourRecorded() override {}
    void diskSpaceLow(bool) override {}
    void recordingFinished() override { ++finished; }
    std::string lastStop() {
        std::lock_guard<std::mutex> g(lock);
        return stopText;
    }

    std::atomic<int> finished{0};
    std::atomic<int> stops{0};

private:
    std::mutex lock;
    std::string stopText;
};

// A new engine for each test (seams set by a fixture before SetUp).
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override { eng = std::make_unique<engine::Engine>(events, seams); }
    void TearDown() override { eng.reset(); }

    bool finishAndWait() {
        int before = events.finished;
        if (eng->finish() != engine::EndResult::finishing) return false;
        return waitUntil([&] { return events.finished > before; }, 20000);
    }
    // Waits until the recording has taken `blocks` blocks of sound (100 ms
    // each) from the device: time alone says nothing on a busy machine.
    bool recorded(uint32_t blocks) {
        return waitUntil(
            [&] {
                const kit::SoundRecorder* r = eng->recorderForTests();
                return r != nullptr && r->blocksRecorded() >= blocks;
            },
            20000);
    }
    // Changes the stored settings through the engine.
    template <class Change>
    void changeSettings(Change&& change) {
        Settings cfg = eng->settings();
        change(cfg);
        eng->storeSettings(cfg);
    }

    CountedEvents events;
    engine::EngineSeams seams;
    std::unique_ptr<engine::Engine> eng;
};
using Engine = EngineFixture;
using EngineOnTheBed = EngineFixture;

kit::RegKey settingsKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true); }

TEST_F(Engine, FinishAndAbortBeforeAnyStartAnswerNotStarted) {
    EXPECT_EQ(eng->finish(), engine::EndResult::notRecording);
    EXPECT_EQ(eng->abort(), engine::EndResult::notRecording);
    EXPECT_FALSE(eng->isRecording());
}

TEST_F(Engine, ASecondStartAnswersAlreadyStartedAndChangesNothing) {
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->isRecording());
    const kit::SoundRecorder* recorder = eng->recorderForTests();
    EXPECT_EQ(eng->start(), engine::StartResult::alreadyRecording);
    EXPECT_EQ(eng->recorderForTests(), recorder);
    EXPECT_EQ(eng->abort(), engine::EndResult::ended);
    EXPECT_FALSE(eng->isRecording());
}

TEST_F(Engine, AbortWithoutOutputWritesNothingAndReturnsToIdle) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(recorded(3));
    const kit::SoundRecorder* recorder = eng->recorderForTests();
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(eng->abort(), engine::EndResult::ended);
    EXPECT_FALSE(eng->isRecording());
    EXPECT_EQ(eng->recorderForTests(), nullptr);
    EXPECT_FALSE(eng->setOutputFile(dir.file("late.wav").c_str(), engine::FORMAT_WAV, 0));
    EXPECT_FALSE(fileExists(dir.file("late.wav")));
}

TEST_F(Engine, ASecondOutputFileIsRefusedAndTheFirstStays) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("first.wav").c_str(), engine::FORMAT_WAV, 0));
    EXPECT_FALSE(eng->setOutputFile(dir.file("second.wav").c_str(), engine::FORMAT_WAV, 0));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    EXPECT_FALSE(eng->isRecording());
    WavFile first = readWav(dir.file("first.wav"));
    EXPECT_TRUE(first.valid);
    EXPECT_GT(first.dataSize, 0u);
    EXPECT_FALSE(fileExists(dir.file("second.wav")));
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), 3u);
}

TEST_F(Engine, AnUnknownFormatIsRefusedAndTheRecordingGoesOn) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    EXPECT_FALSE(eng->setOutputFile(dir.file("six.wav").c_str(), 6, 0));
    EXPECT_TRUE(eng->isRecording());
    EXPECT_FALSE(eng->hasOutput());
    EXPECT_TRUE(eng->setOutputFile(dir.file("after.wav").c_str(), engine::FORMAT_WAV, 0));
    EXPECT_EQ(eng->abort(), engine::EndResult::ended);
    EXPECT_FALSE(fileExists(dir.file("six.wav")));
}

// The bitrates of the MPEG-1 Layer III frames of a file, walked frame by
// frame from the first header (44100 Hz frames: 144 * bitrate / 44100 bytes).
std::vector<int> frameBitrates(const std::string& data) {
    static const int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    std::vector<int> rates;
    std::size_t at = data.find("\xFF\xFA");
    while (at != std::string::npos && at + 4 <= data.size()) {
        auto b = reinterpret_cast<const unsigned char*>(data.data() + at);
        if (b[0] != 0xFF || (b[1] & 0xFE) != 0xFA) break;
        int kbps = kKbps[b[2] >> 4];
        if (kbps == 0) break;
        rates.push_back(kbps);
        at += 144 * kbps * 1000 / 44100 + ((b[2] >> 1) & 1);
    }
    return rates;
}

TEST_F(Engine, AChosenBitrateMakesAnMp3AtThatBitrate) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("low.mp3").c_str(), engine::FORMAT_MP3_BITRATE, 64));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    std::vector<int> rates = frameBitrates(readFile(dir.file("low.mp3")));
    ASSERT_GT(rates.size(), 10u);
    // The encoder's preset lets the library choose each frame's rate up to the
    // chosen one (the first frame carries the library's information tag).
    for (std::size_t i = 1; i < rates.size(); ++i) EXPECT_LE(rates[i], 64) << "frame " << i;
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), 4u);
}

TEST_F(Engine, AFlacRecordingIsACompleteFlacFileAndTheFormatIsStored) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("take.flac").c_str(), engine::FORMAT_FLAC, 0));
    ASSERT_TRUE(recorded(20));
    ASSERT_TRUE(finishAndWait());
    std::string file = readFile(dir.file("take.flac"));
    ASSERT_GT(file.size(), 42u);
    EXPECT_EQ(file.substr(0, 4), "fLaC");
    // STREAMINFO's 36-bit total sample count, written at the end.
    auto b = reinterpret_cast<const unsigned char*>(file.data());
    uint64_t total = (static_cast<uint64_t>(b[21] & 0x0F) << 32) | (static_cast<uint64_t>(b[22]) << 24) |
                     (b[23] << 16) | (b[24] << 8) | b[25];
    EXPECT_GT(total, 44100u * 3 / 2);
    NativeResult test = runNative(dir.path(), "flac -t take.flac", 60000);
    EXPECT_EQ(test.exitCode, 0) << test.output;
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), 5u);
}

// The bits per sample of a FLAC file's STREAMINFO.
unsigned flacBits(const std::string& file) {
    auto b = reinterpret_cast<const unsigned char*>(file.data());
    return file.size() > 21 ? (((b[20] & 0x01u) << 4) | (b[21] >> 4)) + 1 : 0;
}

// Loopback keeps the depth of a 24-bit WAV or FLAC: the bits chosen reach the
// file, the outcome and LastBits. MP3 and the recording line stay 16-bit and
// leave the stored choice alone.
TEST_F(Engine, TheBitsChosenForWavAndFlacReachTheFileAndAreStored) {
    TempDir dir;
    eng->useSourceForTests(Settings::kSourceLoopback);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    EXPECT_TRUE(eng->offersDeepFiles());
    ASSERT_TRUE(eng->setOutputFile(dir.file("deep.flac"), engine::FORMAT_FLAC, 0, 24));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    EXPECT_EQ(eng->lastRecordingOutcome().bits, 24);
    EXPECT_EQ(flacBits(readFile(dir.file("deep.flac"))), 24u);
    NativeResult test = runNative(dir.path(), "flac -t deep.flac", 60000);
    EXPECT_EQ(test.exitCode, 0) << test.output;
    EXPECT_EQ(settingsKey().readUnsigned("LastBits"), 24u);

    eng->useSourceForTests(Settings::kSourceLoopback);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("take.mp3"), engine::FORMAT_MP3_128, 0, 24));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    EXPECT_EQ(eng->lastRecordingOutcome().bits, 16);
    EXPECT_EQ(settingsKey().readUnsigned("LastBits"), 24u) << "MP3 leaves the choice alone";

    eng->useSourceForTests(Settings::kSourceRecordingLine);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    EXPECT_FALSE(eng->offersDeepFiles());
    ASSERT_TRUE(eng->setOutputFile(dir.file("line.wav"), engine::FORMAT_WAV, 0, 24));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    EXPECT_EQ(readWav(dir.file("line.wav")).bitsPerSample, 16) << "the line records 16 bits";
    EXPECT_EQ(eng->lastRecordingOutcome().bits, 16);
    EXPECT_EQ(settingsKey().readUnsigned("LastBits"), 24u);

    eng->useSourceForTests(Settings::kSourceLoopback);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(eng->setOutputFile(dir.file("plain.wav"), engine::FORMAT_WAV, 0, 16));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    WavFile plain = readWav(dir.file("plain.wav"));
    EXPECT_EQ(plain.bitsPerSample, 16);
    EXPECT_EQ(plain.formatTag, 1);
    EXPECT_EQ(settingsKey().readUnsigned("LastBits"), 16u);
}

TEST_F(Engine, AFileThatCannotBeCreatedIsRefusedAndTheRecordingCanBeAborted) {
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    EXPECT_FALSE(eng->setOutputFile("C:\\no\\such\\folder\\take.wav", engine::FORMAT_WAV, 0));
    EXPECT_FALSE(eng->hasOutput());
    EXPECT_EQ(eng->abort(), engine::EndResult::ended);
}

// Every way an output can fail to be made gets its own reason, a path laid
// out for a message box, and no word of the MP3 library for a WAV file.
TEST_F(Engine, AnOutputThatCannotBeMadeSaysWhy) {
    TempDir dir;
    std::string locked = dir.file("locked.wav");
    writeFile(locked, "an earlier take");
    // Open in another program that lets nobody write it.
    kit::ScopedHandle inUse(::CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(inUse);
    struct Case {
        std::string path;
        const char* says;
    };
    const Case cases[] = {
        {dir.file("no such folder\\take.wav"), "The folder does not exist."},
        {locked, "Access is denied"},
        {dir.file("a<b>.wav"), "The name is not valid for a file."},
        {dir.file(std::string(300, 'x') + ".wav"), "The path is too long."},
        {"", "No file name was given."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(eng->start(), engine::StartResult::started);
        EXPECT_FALSE(eng->setOutputFile(c.path.c_str(), engine::FORMAT_WAV, 0));
        std::string text = eng->outputFailureText();
        EXPECT_THAT(text, HasSubstr(c.says));
        EXPECT_THAT(text, ::testing::Not(HasSubstr("lame_enc.dll")));
        if (!c.path.empty()) {
            EXPECT_THAT(text, HasSubstr("\n" + engine::fitPath(c.path) + "\n"));
        }
        EXPECT_EQ(eng->abort(), engine::EndResult::ended);
    }
    inUse.reset();
    EXPECT_EQ(readFile(locked), "an earlier take");
}

std::atomic<int> stops{0};

// A disk that fills up during the recording: the recording is stopped with
// the reason, and the file holds, and says it holds, what reached the disk.
TEST_F(EngineOnTheBed, AFullDiskStopsTheRecordingWithItsReasonAndAConsistentFile) {
    TempDir dir;
    std::string folder = dir.file("small");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    testsupport::SmallDisk disk(folder, 512 << 10);
    ASSERT_TRUE(disk.mounted()) << "mounting a tmpfs needs root";
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    std::string path = folder + "\\take.wav";
    ASSERT_TRUE(eng->setOutputFile(path.c_str(), engine::FORMAT_WAV, 0));
    bool stopped = waitUntil([&] { return events.stops > 0; }, 15000);
    ASSERT_TRUE(finishAndWait());
    ASSERT_TRUE(stopped) << "the full disk was not reported";
    EXPECT_EQ(events.stops.load(), 1);
    EXPECT_THAT(events.lastStop(), HasSubstr("The disk is full."));
    EXPECT_THAT(events.lastStop(), HasSubstr("The recording was stopped"));
    WavFile wav = readWav(path);
    ASSERT_TRUE(wav.valid);
    EXPECT_GT(wav.dataSize, 400000u);
    EXPECT_EQ(wav.dataSize % 4, 0u);
    EXPECT_EQ(wav.fileSize, 44u + wav.dataSize) << "the header counts exactly what the disk holds";
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
}

TEST_F(Engine, FinishingWithoutOutputDoesNotWaitForever) {
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(recorded(1));
    EXPECT_TRUE(finishAndWait());
    EXPECT_FALSE(eng->isRecording());
}

TEST_F(Engine, AFirstRunStoresTheDefaultsAndTheNextEngineReadsThem) {
    eng.reset();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Settings::kKeyPath);
    eng = std::make_unique<engine::Engine>(events);
    EXPECT_FALSE(eng->settingsWereStored());
    EXPECT_EQ(eng->settings().volumeLevel, 32767);
    EXPECT_EQ(settingsKey().readUnsigned("VolumeLevel"), 32767u);
    eng = std::make_unique<engine::Engine>(events);
    EXPECT_TRUE(eng->settingsWereStored());
}

TEST_F(Engine, StoredSettingsBecomeTheEnginesAndSetTheRunEntry) {
    Settings settings = eng->settings();
    settings.storageDir = "D:\\recordings";
    settings.lastBitrate = 256;
    settings.remind30min = true;
    settings.startWithWindows = true;
    eng->storeSettings(settings);
    EXPECT_EQ(settingsKey().readString("StorageDir"), "D:\\recordings");
    EXPECT_EQ(settingsKey().readUnsigned("lastBitrate"), 256u);
    EXPECT_EQ(settingsKey().readUnsigned("Remind30min"), 1u);
    EXPECT_EQ(eng->settings().lastBitrate, 256);
    EXPECT_TRUE(eng->settings().startWithWindows);
    EXPECT_TRUE(Settings().isAutostartEnabled());

    settings.startWithWindows = false;
    eng->storeSettings(settings);
    EXPECT_FALSE(Settings().isAutostartEnabled());
    EventsFile file;
    eng->storeSettings(settings);  // as after every recording: no entry to remove
    EXPECT_THAT(file.added(), ::testing::Not(HasSubstr("WARN")));

    Settings read;
    ASSERT_TRUE(read.load());
    EXPECT_EQ(read.lastBitrate, 256);
    EXPECT_FALSE(read.startWithWindows);
}

// ---- the capture device scripted -----------------------------------------------------------

// The engine records from a scripted device, whose blocks the test returns.
class ScriptedCapture : public EngineFixture {
protected:
    void SetUp() override {
        seams.captureDevice = &device;
        EngineFixture::SetUp();
        changeSettings([](Settings& cfg) { cfg.volumeCoeff = 1.0; });
    }
    void TearDown() override {
        if (eng->isRecording()) eng->abort();
        EngineFixture::TearDown();
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
    }
    // `blocks` full blocks of 100 ms, each once the device holds all it should.
    void record(int blocks) {
        for (int i = 0; i < blocks; ++i) {
            ASSERT_TRUE(device.waitQueued(kit::SoundRecorder::kDeviceBlocks));
            ASSERT_TRUE(device.deliverFull());
        }
    }

    testsupport::ScriptedWaveIn device;
    TempDir dir;
};

// The recording options dialog closes itself after a minute; OK just before
// that (and even at the first tick after it) still gives the whole recording.
TEST_F(ScriptedCapture, OkAtTheEndOfTheOptionsDialogsMinuteGivesTheWholeRecording) {
    constexpr int kBefore = (engine::kOutputChoiceMs + 1000) / 100;  // the dialog's last tick
    std::vector<int16_t> source = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 63, 59);
    device.setSource(source);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    record(kBefore);
    ASSERT_TRUE(eng->setOutputFile(dir.file("late.wav").c_str(), engine::FORMAT_WAV, 0));
    record(10);
    ASSERT_TRUE(finishAndWait());

    WavFile wav = readWav(dir.file("late.wav"));
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.samples.size(), static_cast<std::size_t>(kBefore + 10) * 8820);
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), source.begin())) << "bit for bit, no gap";
    engine::RecordingOutcome outcome = eng->lastRecordingOutcome();
    EXPECT_TRUE(outcome.saved);
    EXPECT_EQ(outcome.recordedMs, static_cast<uint64_t>(kBefore + 10) * 100);
    EXPECT_EQ(outcome.lostMs, 0u);
    EXPECT_FALSE(outcome.deviceLost);
}

// The device goes away while the user is still choosing the file: the file
// gets what came before, the recording can be finished, and says so.
TEST_F(ScriptedCapture, ALostDeviceEndsWithTheFileOfWhatCameBefore) {
    std::vector<int16_t> source = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 3, 15);
    device.setSource(source);
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    record(12);
    device.goAway();
    ASSERT_TRUE(waitUntil([&] { return eng->isCaptureDeviceLost(); }, 8000));
    EXPECT_TRUE(eng->isRecording()) << "the user interface ends it";
    ASSERT_TRUE(eng->setOutputFile(dir.file("lost.wav").c_str(), engine::FORMAT_WAV, 0));
    ASSERT_TRUE(finishAndWait());
    WavFile wav = readWav(dir.file("lost.wav"));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    ASSERT_EQ(wav.samples.size(), 12u * 8820);
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), source.begin()));
    engine::RecordingOutcome outcome = eng->lastRecordingOutcome();
    EXPECT_TRUE(outcome.saved);
    EXPECT_TRUE(outcome.deviceLost);
    EXPECT_EQ(outcome.recordedMs, 1200u);
    EXPECT_EQ(device.prepared(), 0u);
}

// The device's rate changes in the middle of a block, before the file is
// chosen: the first file ends with the last frame at the old rate, the
// recording goes on in the next free name at the new rate, and no frame is
// lost or repeated.
TEST_F(ScriptedCapture, AChangeOfRateGoesOnInTheNextPartAtTheNewRate) {
    constexpr uint32_t kNewRate = 48000;
    constexpr uint32_t kCutBytes = 4000;  // of the block that goes back when the rate changes
    constexpr std::size_t kBlockSamples = 8820;
    std::vector<int16_t> source = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 6, 23);
    device.setSource(source);
    std::string taken = dir.file("split (2).wav");
    writeFile(taken, "someone else's");
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    record(5);
    ASSERT_TRUE(device.waitQueued(kit::SoundRecorder::kDeviceBlocks));
    ASSERT_TRUE(device.deliver(kCutBytes));
    device.changeRate(kNewRate);
    record(3);
    ASSERT_TRUE(eng->setOutputFile(dir.file("split.wav"), engine::FORMAT_WAV, 0));
    record(7);
    ASSERT_TRUE(finishAndWait());

    WavFile first = readWav(dir.file("split.wav"));
    WavFile second = readWav(dir.file("split (3).wav"));
    ASSERT_TRUE(first.valid);
    ASSERT_TRUE(second.valid);
    EXPECT_EQ(first.samplesPerSec, static_cast<uint32_t>(kRate));
    EXPECT_EQ(second.samplesPerSec, kNewRate);
    EXPECT_EQ(second.avgBytesPerSec, kNewRate * 4);
    std::size_t before = 5 * kBlockSamples + kCutBytes / 2;
    ASSERT_EQ(first.samples.size(), before);
    ASSERT_EQ(second.samples.size(), 10 * kBlockSamples);
    EXPECT_TRUE(std::equal(first.samples.begin(), first.samples.end(), source.begin()));
    EXPECT_TRUE(std::equal(second.samples.begin(), second.samples.end(), source.begin() + before))
        << "the next part goes on with the next frame";
    EXPECT_EQ(readFile(taken), "someone else's") << "a name already taken is skipped";
    engine::RecordingOutcome outcome = eng->lastRecordingOutcome();
    EXPECT_EQ(outcome.parts, 2u);
    EXPECT_EQ(outcome.rateChanges, 1u);
    ASSERT_EQ(outcome.files.size(), 2u) << "each file listed, for its own line in log.txt";
    EXPECT_EQ(outcome.files[1].path, dir.file("split (3).wav"));
    EXPECT_EQ(outcome.files[0].frames, before / 2);
    EXPECT_EQ(outcome.files[1].frames, 10 * kBlockSamples / 2);
    EXPECT_EQ(outcome.files[1].samplesPerSec, static_cast<int32_t>(kNewRate));
    EXPECT_EQ(outcome.lostMs, 0u);
    uint64_t us = uint64_t{before / 2} * 1000000 / kRate + uint64_t{10 * kBlockSamples / 2} * 1000000 / kNewRate;
    EXPECT_EQ(outcome.recordedMs, us / 1000);
}

TEST_F(ScriptedCapture, CancelAfterTheDeviceWasLostAbortsCleanly) {
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    record(5);
    device.goAway();
    ASSERT_TRUE(waitUntil([&] { return eng->isCaptureDeviceLost(); }, 8000));
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(eng->abort(), engine::EndResult::ended);
    EXPECT_LT(::GetTickCount() - t0, 1000u);
    EXPECT_FALSE(eng->isRecording());
    EXPECT_EQ(device.prepared(), 0u);
}

TEST_F(ScriptedCapture, NoRecordingDeviceIsSaidInWords) {
    device.failNext(testsupport::ScriptedWaveIn::Call::open, MMSYSERR_BADDEVICEID);
    eng->start();
    EXPECT_FALSE(eng->isRecording());
    EXPECT_THAT(eng->lastProblem(), HasSubstr("No recording device was found"));

    device.failNext(testsupport::ScriptedWaveIn::Call::open, MMSYSERR_ALLOCATED);
    eng->start();
    EXPECT_FALSE(eng->isRecording());
    EXPECT_EQ(eng->lastProblem(), "") << "no words beyond the problem report";
}

// Mutes the bed's sink: what is played then does not reach the recording input.
void setSinkMuted(bool muted) {
    startNative(std::string("/usr/bin/pactl set-sink-mute @DEFAULT_SINK@ ") + (muted ? "1" : "0"));
    if (muted)
        waitForSilentSink(5000);
    else
        ::Sleep(800);  // nothing plays: the unmuting cannot be seen, only given time
}

TEST_F(Engine, AFailingCalibrationKeepsTheSettingsAndASuccessfulOneStoresThem) {
    changeSettings([](Settings& cfg) {
        cfg.line = 7;
        cfg.volumeLevel = 1234;
        cfg.volumeCoeff = 3.5;
        cfg.needCalibration = true;
    });

    setSinkMuted(true);
    bool calibrated = eng->calibrate();
    setSinkMuted(false);
    EXPECT_FALSE(calibrated);
    EXPECT_EQ(settingsKey().readString("VolumeCoeff"), "3.500000");
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 1u);
    EXPECT_EQ(settingsKey().readUnsigned("Line"), 7u);

    ASSERT_TRUE(waitForSilentSink(10000));
    EventsFile file;
    EXPECT_TRUE(eng->calibrate());
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 0u);
    // Loopback hears the test sound: it is chosen at its own level, no line is
    // measured, and nobody is told of an error.
    EXPECT_EQ(settingsKey().readUnsigned("CaptureSource"), 1u);
    std::string log = file.added();
    EXPECT_THAT(log, HasSubstr("loopback capture chosen"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("loudest device")));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("ERR        #")));
    EXPECT_EQ(settingsKey().readString("VolumeCoeff"), "1.000000");
    // The other cases record from the line.
    changeSettings([](Settings& cfg) { cfg.captureSource = Settings::kSourceRecordingLine; });
}

// ---- a whole recording on the bed ---------------------------------------------------------

// The settings of a program that was never calibrated: the line's volume
// in the middle of its range and no scaling of the samples.
void uncalibrated(Settings& cfg) {
    cfg.line = 0;
    cfg.volumeLevel = 32767;
    cfg.volumeCoeff = 1.0;
}

// Plays a pseudo-random signal, records it with the output chosen two seconds
// late, and checks the file: the signal from the first captured frame on,
// bit for bit, no gap, no duplicate.

TEST_F(EngineOnTheBed, TheWavHoldsThePlayedSignalFromTheFirstCapturedBlock) {
    TempDir dir;
    changeSettings(uncalibrated);
    ASSERT_TRUE(waitForSilentSink(10000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 9, 77);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));  // the signal is under way before the recording starts

    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(recorded(20));
    ASSERT_TRUE(eng->setOutputFile(dir.file("take.wav").c_str(), engine::FORMAT_WAV, 0));
    ASSERT_TRUE(recorded(50));
    ASSERT_TRUE(finishAndWait());

    WavFile wav = readWav(dir.file("take.wav"));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    double seconds = wav.samples.size() / 2.0 / kRate;
    EXPECT_GT(seconds, 4.5);
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.capturedOffset, 0) << "the file begins with the first captured block";
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2);
    waitForSignalEnd(playing, 9500);
}

TEST_F(EngineOnTheBed, AnMp3RecordingHasTheRightLength) {
    TempDir dir;
    ASSERT_EQ(eng->start(), engine::StartResult::started);
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(eng->setOutputFile(dir.file("take.mp3").c_str(), engine::FORMAT_MP3_128, 0));
    ASSERT_TRUE(recorded(30));
    ASSERT_TRUE(finishAndWait());
    double recorded = eng->lastRecordingOutcome().recordedMs / 1000.0;

    std::string decoded = dir.file("decoded.wav");
    ASSERT_TRUE(
        startNative("/usr/bin/mpg123 -q -w \"" + unixPath(decoded) + "\" \"" + unixPath(dir.file("take.mp3")) + "\""));
    ASSERT_TRUE(waitUntil([&] { return readWav(decoded).valid; }, 20000));
    int64_t size = -1;
    ASSERT_TRUE(waitUntil(
        [&] {  // mpg123 is done when the file stops growing
            int64_t now = fileSize(decoded);
            bool same = now == size;
            size = now;
            ::Sleep(200);
            return same;
        },
        20000));
    WavFile wav = readWav(decoded);
    double seconds = wav.samples.size() / 2.0 / kRate;
    EXPECT_GT(recorded, 2.5);
    EXPECT_NEAR(seconds, recorded, 0.150) << "decoded " << seconds << " s of " << recorded << " s recorded";
}

// ---- failures -----------------------------------------------------------------------------

namespace failures {

// Mixers that cannot even be counted, as after a driver crash.
class BrokenMixers : public kit::IMixerSystem {
public:
    unsigned deviceCount() override {
        kit::setOrigin("tests/engine", 1, "BrokenMixers::deviceCount");
        throw kit::ARuntimeError("the mixers went away");
    }
    std::unique_ptr<kit::IMixerDevice> open(unsigned) override { return nullptr; }
};

TEST_F(Engine, AFailedStartAnswersStartErrorAndNothingRecords) {
    BrokenMixers broken;
    kit::RecordingSoundProbe probe;
    kit::Mixer failing(broken, probe);
    engine::Engine failingEngine(events, {nullptr, &failing});
    failingEngine.useSourceForTests(Settings::kSourceRecordingLine);
    EXPECT_EQ(failingEngine.start(), engine::StartResult::failed);
    EXPECT_FALSE(failingEngine.isRecording());
    EXPECT_EQ(failingEngine.finish(), engine::EndResult::notRecording);
}

// In a copy of this program beside a LAME that cannot open a stream: the MP3
// encoder fails after it has made the file.
int outputThatFails(const std::vector<std::string>& args) {
    fw::setShellOpen([](const char*) {});
    CountedEvents events;
    engine::Engine eng(events);
    eng.useSourceForTests(Settings::kSourceRecordingLine);
    int code = 0;
    if (eng.start() != engine::StartResult::started)
        code = 3;
    else if (eng.setOutputFile(args[0], engine::FORMAT_MP3_128, 0))
        code = 1;
    else if (::GetFileAttributesA(args[0].c_str()) != INVALID_FILE_ATTRIBUTES)
        code = 2;
    eng.abort();
    return code;
}
testsupport::ChildMain outputChild("output-fails", &outputThatFails);

TEST_F(Engine, AnOutputThatFailsAfterItsFileWasMadeLeavesNoFile) {
    TempDir dir;
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    ASSERT_TRUE(::CopyFileA(exe, dir.file("engine_child.exe").c_str(), FALSE));
    std::string lame = programFolder() + "\\fake_lame\\full\\lame_enc.dll";
    ASSERT_TRUE(::CopyFileA(lame.c_str(), dir.file("lame_enc.dll").c_str(), FALSE)) << lame;
    std::string mp3 = dir.file("take.mp3");
    std::string line = "\"" + dir.file("engine_child.exe") + "\" --child output-fails \"" + mp3 + "\"";
    ::SetEnvironmentVariableA("FAKE_LAME", "failInit=1");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL started =
        ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.path().c_str(), &si, &pi);
    ::SetEnvironmentVariableA("FAKE_LAME", nullptr);
    ASSERT_TRUE(started);
    ::CloseHandle(pi.hThread);
    ASSERT_EQ(::WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u) << "1: the output was taken, 2: a file was left behind, 3: no start";
    EXPECT_FALSE(fileExists(mp3));
}

// The end of the engine when a wait fails: the failure is reported and the
// process ends with the fatal code, instead of an exception out of a
// destructor (std::terminate).
int destroyWithBrokenWait(const std::vector<std::string>&) {
    fw::setShellOpen([](const char*) {});
    CountedEvents events;
    {
        engine::Engine eng(events);
        engine::Finalizer& finalizer = eng.finalizerForTests();
        finalizer.begin(nullptr, true);
        finalizer.wait();
        ::CloseHandle(finalizer.threadHandle());  // the next wait on it fails
    }
    return 0;
}
testsupport::ChildMain destroyChild("destroy-broken-wait", &destroyWithBrokenWait);

TEST_F(Engine, AFailedWaitAtTheEndIsReportedAndEndsWithTheFatalCode) {
    testsupport::EventsFile file;
    testsupport::ChildProcess child("destroy-broken-wait");
    ASSERT_TRUE(child.wait(60000));
    EXPECT_EQ(child.exitCode(), 13u);
    EXPECT_THAT(file.added(), HasSubstr("WaitForSingleObject failed"));
}

}  // namespace failures

}  // namespace
