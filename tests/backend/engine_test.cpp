// The engine's operations on the real devices of the bed, one engine for the
// whole test program (the engine is process-wide).
#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "backend/engine_state.h"
#include "backend/finalizer.h"
#include "backend/output_messages.h"
#include "diagnostics/shell_open.h"
#include "mixer/recording_sound_probe.h"
#include "backend/engine.h"
#include "config/snt_config.h"
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
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, SntConfig::kKeyPath);
        backend::init();
    }
    void TearDown() override { backend::destroy(); }
};
::testing::Environment* const engineEnvironment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

std::atomic<int> notified{0};
void countNotify(void*) { ++notified; }

bool finishAndWait() {
    int before = notified;
    if (backend::finishRecording(&countNotify) != backend::FE_DELAYED) return false;
    return waitUntil([&] { return notified > before; }, 20000);
}

// Waits until the recording has taken `blocks` blocks of sound (100 ms each)
// from the device: time alone says nothing on a busy machine.
bool recorded(uint32_t blocks) {
    return waitUntil(
        [&] {
            const kit::SoundRecorder* r = backend::engineState().recorder.get();
            return r != nullptr && r->blocksRecorded() >= blocks;
        },
        20000);
}

kit::RegKey settingsKey() { return kit::RegKey(HKEY_CURRENT_USER, SntConfig::kKeyPath, true); }

TEST(Engine, FinishAndAbortBeforeAnyStartAnswerNotStarted) {
    EXPECT_EQ(backend::finishRecording(&countNotify), backend::FE_NOT_STARTED);
    EXPECT_EQ(backend::abortRecording(), backend::FE_NOT_STARTED);
    EXPECT_FALSE(backend::isRecording());
}

TEST(Engine, ASecondStartAnswersAlreadyStartedAndChangesNothing) {
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(backend::isRecording());
    kit::SoundRecorder* recorder = backend::engineState().recorder.get();
    EXPECT_EQ(backend::startRecording(), backend::SE_ALREADY_START);
    EXPECT_EQ(backend::engineState().recorder.get(), recorder);
    EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
    EXPECT_FALSE(backend::isRecording());
}

TEST(Engine, AbortWithoutOutputWritesNothingAndReturnsToIdle) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(recorded(3));
    kit::SoundRecorder* recorder = backend::engineState().recorder.get();
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
    EXPECT_FALSE(backend::isRecording());
    EXPECT_EQ(backend::engineState().stream.get(), nullptr);
    EXPECT_FALSE(backend::setOutputFile(dir.file("late.wav").c_str(), backend::FORMAT_WAV, 0));
    EXPECT_FALSE(fileExists(dir.file("late.wav")));
}

TEST(Engine, ASecondOutputFileIsRefusedAndTheFirstStays) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(backend::setOutputFile(dir.file("first.wav").c_str(), backend::FORMAT_WAV, 0));
    EXPECT_FALSE(backend::setOutputFile(dir.file("second.wav").c_str(), backend::FORMAT_WAV, 0));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    EXPECT_FALSE(backend::isRecording());
    WavFile first = readWav(dir.file("first.wav"));
    EXPECT_TRUE(first.valid);
    EXPECT_GT(first.dataSize, 0u);
    EXPECT_FALSE(fileExists(dir.file("second.wav")));
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), 3u);
}

TEST(Engine, AnUnknownFormatIsRefusedAndTheRecordingGoesOn) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    EXPECT_FALSE(backend::setOutputFile(dir.file("six.wav").c_str(), 6, 0));
    EXPECT_TRUE(backend::isRecording());
    EXPECT_FALSE(backend::engineState().outputSelected);
    EXPECT_TRUE(backend::setOutputFile(dir.file("after.wav").c_str(), backend::FORMAT_WAV, 0));
    EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
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

TEST(Engine, AChosenBitrateMakesAnMp3AtThatBitrate) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(backend::setOutputFile(dir.file("low.mp3").c_str(), backend::FORMAT_MP3_BITRATE, 64));
    ASSERT_TRUE(recorded(10));
    ASSERT_TRUE(finishAndWait());
    std::vector<int> rates = frameBitrates(readFile(dir.file("low.mp3")));
    ASSERT_GT(rates.size(), 10u);
    // The encoder's preset lets the library choose each frame's rate up to the
    // chosen one (the first frame carries the library's information tag).
    for (std::size_t i = 1; i < rates.size(); ++i) EXPECT_LE(rates[i], 64) << "frame " << i;
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), 4u);
}

TEST(Engine, AFlacRecordingIsACompleteFlacFileAndTheFormatIsStored) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(backend::setOutputFile(dir.file("take.flac").c_str(), backend::FORMAT_FLAC, 0));
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

TEST(Engine, AFileThatCannotBeCreatedIsRefusedAndTheRecordingCanBeAborted) {
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    EXPECT_FALSE(backend::setOutputFile("C:\\no\\such\\folder\\take.wav", backend::FORMAT_WAV, 0));
    EXPECT_FALSE(backend::engineState().outputSelected);
    EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
}

// Every way an output can fail to be made gets its own reason, a path laid
// out for a message box, and no word of the MP3 library for a WAV file.
TEST(Engine, AnOutputThatCannotBeMadeSaysWhy) {
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
        ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
        EXPECT_FALSE(backend::setOutputFile(c.path.c_str(), backend::FORMAT_WAV, 0));
        std::string text = backend::outputFailureText();
        EXPECT_THAT(text, HasSubstr(c.says));
        EXPECT_THAT(text, ::testing::Not(HasSubstr("lame_enc.dll")));
        if (!c.path.empty()) {
            EXPECT_THAT(text, HasSubstr("\n" + backend::fitPath(c.path) + "\n"));
        }
        EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
    }
    inUse.reset();
    EXPECT_EQ(readFile(locked), "an earlier take");
}

std::atomic<int> stops{0};
std::string stopText;  // written before `stops` counts it
void recordStop(const char* message) {
    stopText = message;
    ++stops;
}

// A disk that fills up during the recording: the recording is stopped with
// the reason, and the file holds, and says it holds, what reached the disk.
TEST(EngineOnTheBed, AFullDiskStopsTheRecordingWithItsReasonAndAConsistentFile) {
    TempDir dir;
    std::string folder = dir.file("small");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    testsupport::SmallDisk disk(folder, 512 << 10);
    ASSERT_TRUE(disk.mounted()) << "mounting a tmpfs needs root";
    stops = 0;
    backend::setCrashStopReminder(&recordStop);
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    std::string path = folder + "\\take.wav";
    ASSERT_TRUE(backend::setOutputFile(path.c_str(), backend::FORMAT_WAV, 0));
    bool stopped = waitUntil([] { return stops > 0; }, 15000);
    ASSERT_TRUE(finishAndWait());
    backend::setCrashStopReminder(nullptr);
    ASSERT_TRUE(stopped) << "the full disk was not reported";
    EXPECT_EQ(stops.load(), 1);
    EXPECT_THAT(stopText, HasSubstr("The disk is full."));
    EXPECT_THAT(stopText, HasSubstr("The recording was stopped"));
    WavFile wav = readWav(path);
    ASSERT_TRUE(wav.valid);
    EXPECT_GT(wav.dataSize, 400000u);
    EXPECT_EQ(wav.dataSize % 4, 0u);
    EXPECT_EQ(wav.fileSize, 44u + wav.dataSize) << "the header counts exactly what the disk holds";
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
}

TEST(Engine, FinishingWithoutOutputDoesNotWaitForever) {
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ASSERT_TRUE(recorded(1));
    EXPECT_TRUE(finishAndWait());
    EXPECT_FALSE(backend::isRecording());
}

TEST(Engine, LoadConfigOnAFirstRunAnswersFalseAndGivesTheDefaultsItStored) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, SntConfig::kKeyPath);
    SntConfig settings;
    settings.volumeLevel = 4242;
    EXPECT_FALSE(backend::loadConfig(settings));
    EXPECT_EQ(settings.volumeLevel, 32767);
    EXPECT_EQ(settingsKey().readUnsigned("VolumeLevel"), 32767u);
    EXPECT_TRUE(backend::loadConfig(settings));
}

TEST(Engine, WriteConfigMakesTheRecordTheEnginesAndSetsTheRunEntry) {
    SntConfig settings;
    backend::loadConfig(settings);
    settings.storageDir = "D:\\recordings";
    settings.lastBitrate = 256;
    settings.remind30min = true;
    settings.startWithWindows = true;
    backend::writeConfig(settings);
    EXPECT_EQ(settingsKey().readString("StorageDir"), "D:\\recordings");
    EXPECT_EQ(settingsKey().readUnsigned("lastBitrate"), 256u);
    EXPECT_EQ(settingsKey().readUnsigned("Remind30min"), 1u);
    EXPECT_EQ(backend::currentSettings().lastBitrate, 256);
    EXPECT_TRUE(backend::currentSettings().startWithWindows);
    EXPECT_TRUE(backend::engineConfig().isAutostartEnabled());

    settings.startWithWindows = false;
    backend::writeConfig(settings);
    EXPECT_FALSE(backend::engineConfig().isAutostartEnabled());
    EventsFile events;
    backend::writeConfig(settings);  // as after every recording: no entry to remove
    EXPECT_THAT(events.added(), ::testing::Not(HasSubstr("WARN")));

    SntConfig read;
    ASSERT_TRUE(backend::loadConfig(read));
    EXPECT_EQ(read.lastBitrate, 256);
    EXPECT_FALSE(read.startWithWindows);
}

// ---- the capture device scripted -----------------------------------------------------------

// The engine records from a scripted device, whose blocks the test returns.
class ScriptedCapture : public ::testing::Test {
protected:
    void SetUp() override {
        uncalibrated();
        backend::engineState().captureDevice = &device;
    }
    void TearDown() override {
        if (backend::isRecording()) backend::abortRecording();
        backend::engineState().captureDevice = nullptr;
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
    }
    static void uncalibrated() {
        SntConfig& cfg = backend::engineConfig();
        cfg.volumeCoeff = 1.0;
        cfg.save();
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
    constexpr int kBefore = (backend::kOutputChoiceMs + 1000) / 100;  // the dialog's last tick
    std::vector<int16_t> source = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 63, 59);
    device.setSource(source);
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    record(kBefore);
    ASSERT_TRUE(backend::setOutputFile(dir.file("late.wav").c_str(), backend::FORMAT_WAV, 0));
    record(10);
    ASSERT_TRUE(finishAndWait());

    WavFile wav = readWav(dir.file("late.wav"));
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.samples.size(), static_cast<std::size_t>(kBefore + 10) * 8820);
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), source.begin())) << "bit for bit, no gap";
    backend::RecordingOutcome outcome = backend::lastRecordingOutcome();
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
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    record(12);
    device.goAway();
    ASSERT_TRUE(waitUntil([] { return backend::isCaptureDeviceLost(); }, 8000));
    EXPECT_TRUE(backend::isRecording()) << "the user interface ends it";
    ASSERT_TRUE(backend::setOutputFile(dir.file("lost.wav").c_str(), backend::FORMAT_WAV, 0));
    ASSERT_TRUE(finishAndWait());
    WavFile wav = readWav(dir.file("lost.wav"));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    ASSERT_EQ(wav.samples.size(), 12u * 8820);
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), source.begin()));
    backend::RecordingOutcome outcome = backend::lastRecordingOutcome();
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
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    record(5);
    ASSERT_TRUE(device.waitQueued(kit::SoundRecorder::kDeviceBlocks));
    ASSERT_TRUE(device.deliver(kCutBytes));
    device.changeRate(kNewRate);
    record(3);
    ASSERT_TRUE(backend::setOutputFile(dir.file("split.wav").c_str(), backend::FORMAT_WAV, 0));
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
    EXPECT_EQ(backend::lastRecordingParts(), 2u);
    backend::RecordingOutcome outcome = backend::lastRecordingOutcome();
    EXPECT_EQ(outcome.rateChanges, 1u);
    EXPECT_EQ(outcome.lostMs, 0u);
    uint64_t us = uint64_t{before / 2} * 1000000 / kRate + uint64_t{10 * kBlockSamples / 2} * 1000000 / kNewRate;
    EXPECT_EQ(outcome.recordedMs, us / 1000);
}

TEST_F(ScriptedCapture, CancelAfterTheDeviceWasLostAbortsCleanly) {
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    record(5);
    device.goAway();
    ASSERT_TRUE(waitUntil([] { return backend::isCaptureDeviceLost(); }, 8000));
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(backend::abortRecording(), backend::FE_NO_ERROR);
    EXPECT_LT(::GetTickCount() - t0, 1000u);
    EXPECT_FALSE(backend::isRecording());
    EXPECT_EQ(device.prepared(), 0u);
}

TEST_F(ScriptedCapture, NoRecordingDeviceIsSaidInWords) {
    device.failNext(testsupport::ScriptedWaveIn::Call::open, MMSYSERR_BADDEVICEID);
    backend::startRecording();
    EXPECT_FALSE(backend::isRecording());
    EXPECT_THAT(backend::lastProblem(), HasSubstr("No recording device was found"));

    device.failNext(testsupport::ScriptedWaveIn::Call::open, MMSYSERR_ALLOCATED);
    backend::startRecording();
    EXPECT_FALSE(backend::isRecording());
    EXPECT_STREQ(backend::lastProblem(), "") << "no words beyond the problem report";
}

// Mutes the bed's sink: what is played then does not reach the recording input.
void setSinkMuted(bool muted) {
    startNative(std::string("/usr/bin/pactl set-sink-mute @DEFAULT_SINK@ ") + (muted ? "1" : "0"));
    ::Sleep(800);
}

TEST(Engine, AFailingCalibrationKeepsTheSettingsAndASuccessfulOneStoresThem) {
    SntConfig& cfg = backend::engineConfig();
    cfg.line = 7;
    cfg.volumeLevel = 1234;
    cfg.volumeCoeff = 3.5;
    cfg.needCalibration = true;
    cfg.save();

    setSinkMuted(true);
    bool calibrated = backend::calibrate();
    setSinkMuted(false);
    EXPECT_FALSE(calibrated);
    EXPECT_EQ(settingsKey().readString("VolumeCoeff"), "3.500000");
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 1u);
    EXPECT_EQ(settingsKey().readUnsigned("Line"), 7u);

    ASSERT_TRUE(waitForSilentSink(10000));
    EventsFile events;
    EXPECT_TRUE(backend::calibrate());
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 0u);
    // Loopback hears the test sound: it is chosen at its own level, no line is
    // measured, and nobody is told of an error.
    EXPECT_EQ(settingsKey().readUnsigned("CaptureSource"), 1u);
    std::string log = events.added();
    EXPECT_THAT(log, HasSubstr("loopback capture chosen"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("loudest device")));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("ERR        #")));
    EXPECT_EQ(settingsKey().readString("VolumeCoeff"), "1.000000");
    // The other cases record from the line.
    cfg.captureSource = SntConfig::kSourceRecordingLine;
    cfg.save();
}

// ---- a whole recording on the bed ---------------------------------------------------------

// Plays a pseudo-random signal, records it with the output chosen two seconds
// late, and checks the file: the signal from the first captured frame on,
// bit for bit, no gap, no duplicate.
// The settings of a program that was never calibrated: the line's volume
// in the middle of its range and no scaling of the samples.
void uncalibratedSettings() {
    SntConfig& cfg = backend::engineConfig();
    cfg.line = 0;
    cfg.volumeLevel = 32767;
    cfg.volumeCoeff = 1.0;
    cfg.save();
}

TEST(EngineOnTheBed, TheWavHoldsThePlayedSignalFromTheFirstCapturedBlock) {
    TempDir dir;
    uncalibratedSettings();
    ASSERT_TRUE(waitForSilentSink(10000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 9, 77);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ::Sleep(1000);  // the signal is under way before the recording starts

    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    ::Sleep(2000);
    ASSERT_TRUE(backend::setOutputFile(dir.file("take.wav").c_str(), backend::FORMAT_WAV, 0));
    ::Sleep(3000);
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
    ::Sleep(std::max<int>(0, 9500 - static_cast<int>(::GetTickCount() - playing)));
}

TEST(EngineOnTheBed, AnMp3RecordingHasTheRightLength) {
    TempDir dir;
    ASSERT_EQ(backend::startRecording(), backend::SE_NO_ERROR);
    kit::smartptr<kit::SoundRecorder> recorder = backend::engineState().recorder;  // read after the finish
    ::Sleep(1000);
    ASSERT_TRUE(backend::setOutputFile(dir.file("take.mp3").c_str(), backend::FORMAT_MP3_128, 0));
    ::Sleep(2000);
    ASSERT_TRUE(finishAndWait());
    double recorded = static_cast<double>(recorder->bytesDelivered()) / (kRate * 4);

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

TEST(Engine, AFailedStartAnswersStartErrorAndNothingRecords) {
    BrokenMixers broken;
    kit::RecordingSoundProbe probe;
    kit::Mixer* working = backend::engineState().mixer;
    kit::Mixer failing(broken, probe);
    backend::engineState().mixer = &failing;
    int answer = backend::startRecording();
    backend::engineState().mixer = working;
    EXPECT_EQ(answer, backend::SE_ERROR);
    EXPECT_FALSE(backend::isRecording());
    EXPECT_EQ(backend::finishRecording(&countNotify), backend::FE_NOT_STARTED);
}

// In a copy of this program beside a LAME that cannot open a stream: the MP3
// encoder fails after it has made the file.
int outputThatFails(const std::vector<std::string>& args) {
    fw::setShellOpen([](const char*) {});
    backend::init();
    int code = 0;
    if (backend::startRecording() != backend::SE_NO_ERROR)
        code = 3;
    else if (backend::setOutputFile(args[0].c_str(), backend::FORMAT_MP3_128, 0))
        code = 1;
    else if (::GetFileAttributesA(args[0].c_str()) != INVALID_FILE_ATTRIBUTES)
        code = 2;
    backend::abortRecording();
    backend::destroy();
    return code;
}
testsupport::ChildMain outputChild("output-fails", &outputThatFails);

TEST(Engine, AnOutputThatFailsAfterItsFileWasMadeLeavesNoFile) {
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
    backend::init();
    backend::Finalizer* finalizer = backend::engineState().finalizer;
    finalizer->begin(nullptr, true);
    finalizer->wait();
    ::CloseHandle(finalizer->threadHandle());  // the next wait on it fails
    backend::destroy();
    return 0;
}
testsupport::ChildMain destroyChild("destroy-broken-wait", &destroyWithBrokenWait);

TEST(Engine, AFailedWaitAtTheEndIsReportedAndEndsWithTheFatalCode) {
    testsupport::EventsFile events;
    testsupport::ChildProcess child("destroy-broken-wait");
    ASSERT_TRUE(child.wait(60000));
    EXPECT_EQ(child.exitCode(), 13u);
    EXPECT_THAT(events.added(), HasSubstr("WaitForSingleObject failed"));
}

}  // namespace failures

}  // namespace
