// The capture on the test bed: Wine's real waveIn reading the null sink's
// monitor, into which the native paplay plays a known signal.
#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/sound_recorder.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using kit::smartptr;
using testsupport::ChildMain;
using testsupport::ChildProcess;
using testsupport::Coverage;
using testsupport::describe;
using testsupport::playedSignalInside;
using testsupport::TempDir;

constexpr DWORD kBlockMs = 100;
constexpr unsigned kBacklogMs = 60000;

// Each test starts on a silent sink and waits for the end of what it plays.
class CaptureOnTheBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testsupport::waitForSilentSink(15000)) << "the sink keeps playing"; }
    void play(const std::string& wav, DWORD milliseconds) {
        ASSERT_TRUE(testsupport::playIntoSink(wav));
        playStart = ::GetTickCount();
        playing = milliseconds;
    }
    void TearDown() override {
        while (playing && ::GetTickCount() - playStart < playing + 500) ::Sleep(50);
    }
    DWORD playStart = 0;
    DWORD playing = 0;
};

// The whole path of a recording: capture into a stream without encoder, the
// file chosen two seconds later, then a normal finish. The recording starts
// while the signal plays (the bed loses the first milliseconds of a playback
// that starts under a running capture) and ends after the signal has ended.
TEST_F(CaptureOnTheBed, APlayedSignalReachesTheWavFileWithoutGapOrChangeAfterALateEncoder) {
    TempDir dir;
    std::string signalPath = dir.file("signal.wav");
    std::string outPath = dir.file("recording.wav");
    std::vector<int16_t> played = testsupport::pseudoRandomSignal(44100 * 6, 4711);
    testsupport::writeWav(signalPath, played);

    play(signalPath, 6000);
    ASSERT_TRUE(testsupport::waitForSoundInSink(10000));  // the signal is under way
    smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream);
    smartptr<kit::SoundRecorder> recorder(
        new kit::SoundRecorder(stream, kit::kRecordingFormat, 1.0, kBlockMs, kBacklogMs));
    recorder->start();
    // Two seconds of capture (Wine's capture needs about a second to begin).
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder->blocksRecorded() >= 20; }, 10000));
    EXPECT_EQ(recorder->blocksWritten(), 1u) << "one write waits in the stream, the rest in the pending list";
    EXPECT_GE(recorder->pendingPeak(), 19u);
    kit::SoundFormat format = kit::kRecordingFormat;
    stream->setEncoder(smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(outPath.c_str(), &format)));

    while (::GetTickCount() - playStart < 6000 + 1500) ::Sleep(50);  // the signal's end, and a margin
    recorder->finish();
    stream->finish();
    EXPECT_EQ(recorder->blocksDropped(), 0u);

    testsupport::WavFile w = testsupport::readWav(outPath);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.riffSize, w.dataSize + 36);
    EXPECT_EQ(w.fileSize, 44u + w.dataSize);
    // Every written block is in the file: whole blocks, the last one cut by the reset.
    EXPECT_LE(w.dataSize, recorder->blocksWritten() * 17640u);
    EXPECT_GT(w.dataSize, (recorder->blocksWritten() - 1) * 17640u);
    EXPECT_GT(w.dataSize, 3u * 176400u);

    Coverage c = playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_EQ(c.capturedOffset, 0) << "the file begins with the signal: nothing before it was lost";
    EXPECT_TRUE(c.signalEndInside) << "the signal ran to its end in the file: " << describe(c);
    std::printf("recorded %.2f s; signal frames %ld..%zu, from the file's first frame on\n", w.dataSize / 176400.0,
                c.playedOffset, static_cast<std::size_t>(c.playedOffset) + c.matchedFrames);
}

// ---- a capture path held up -----------------------------------------------------------------

// Passes writes on to the real stream; its `stallAt`-th write holds the
// capture thread for `stallMs` first, as a busy computer may.
class StallingStream : public kit::IAsyncOutStream {
public:
    StallingStream(smartptr<kit::GenericSoundEncodingStream> inner, uint32_t stallAt, DWORD stallMs)
        : inner(std::move(inner)), stallAt(stallAt), stallMs(stallMs) {}
    void write(const void* data, uint32_t length, void* cookie) override {
        if (++writes == stallAt) ::Sleep(stallMs);
        inner->write(data, length, cookie);
    }
    void setCompletionQueue(smartptr<kit::EventQueue> queue, uint32_t key) override {
        inner->setCompletionQueue(std::move(queue), key);
    }

private:
    smartptr<kit::GenericSoundEncodingStream> inner;
    uint32_t writes = 0;
    uint32_t stallAt;
    DWORD stallMs;
};

struct HeldUpRecording {
    testsupport::WavFile wav;
    uint64_t lostMs = 0;
    bool deviceLost = false;
};

// Records what `played` plays, with the capture thread held up once for
// `stallMs` two seconds in.
class HeldUpOnTheBed : public CaptureOnTheBed {
protected:
    HeldUpRecording recordHeldUp(const std::vector<int16_t>& played, DWORD stallMs);
    TempDir dir;
};

HeldUpRecording HeldUpOnTheBed::recordHeldUp(const std::vector<int16_t>& played, DWORD stallMs) {
    std::string signalPath = dir.file("signal.wav");
    std::string outPath = dir.file("held-up.wav");
    testsupport::writeWav(signalPath, played);
    DWORD seconds = static_cast<DWORD>(played.size() / 2 / testsupport::kRate);
    play(signalPath, seconds * 1000);
    EXPECT_TRUE(testsupport::waitForSoundInSink(10000)) << "the signal is under way";
    kit::SoundFormat format = kit::kRecordingFormat;
    smartptr<kit::GenericSoundEncodingStream> file(new kit::GenericSoundEncodingStream(
        smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(outPath.c_str(), &format))));
    smartptr<StallingStream> stream(new StallingStream(file, 20, stallMs));
    smartptr<kit::SoundRecorder> recorder(new kit::SoundRecorder(stream, format, 1.0, kBlockMs, kBacklogMs));
    recorder->start();
    testsupport::waitUntil([&] { return recorder->blocksRecorded() >= 20 + (stallMs + 3000) / kBlockMs; }, 20000);
    recorder->finish();
    file->finish();
    HeldUpRecording result{testsupport::readWav(outPath), recorder->lostMs(), recorder->deviceLost()};
    std::printf("held up %lu ms: %.2f s recorded, %llu ms reported lost\n", static_cast<unsigned long>(stallMs),
                result.wav.dataSize / 176400.0, static_cast<unsigned long long>(result.lostMs));
    return result;
}

TEST_F(HeldUpOnTheBed, HalfASecondOfAHeldUpCaptureThreadLosesNothing) {
    std::vector<int16_t> played = testsupport::pseudoRandomSignal(44100 * 9, 5151);
    HeldUpRecording r = recordHeldUp(played, 500);
    ASSERT_TRUE(r.wav.valid);
    testsupport::Skips skips = testsupport::skipsInCapture(r.wav.samples, played);
    std::printf("gaps in the file: %.1f ms in %zu pieces\n", skips.skippedFrames * 1000.0 / testsupport::kRate,
                skips.runs ? skips.runs - 1 : 0);
    Coverage c = playedSignalInside(r.wav.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_EQ(c.capturedOffset, 0) << describe(c);
    EXPECT_EQ(c.matchedFrames, r.wav.samples.size() / 2) << "every frame is the played one: no gap";
    EXPECT_EQ(r.lostMs, 0u);
    EXPECT_FALSE(r.deviceLost);
}

// Held up far longer than the device's blocks last: sound is really lost, and
// the recorder says how much, as the file shows it.
TEST_F(HeldUpOnTheBed, SoundLostWhileTheCaptureThreadWasHeldUpIsReportedWithItsLength) {
    std::vector<int16_t> played = testsupport::pseudoRandomSignal(44100 * 12, 6161);
    HeldUpRecording r = recordHeldUp(played, 3000);
    ASSERT_TRUE(r.wav.valid);
    testsupport::Skips skips = testsupport::skipsInCapture(r.wav.samples, played);
    ASSERT_TRUE(skips.ok) << "the file is the played signal with pieces left out";
    double gapMs = skips.skippedFrames * 1000.0 / testsupport::kRate;
    std::printf("gaps in the file: %.1f ms in %zu pieces\n", gapMs, skips.runs - 1);
    EXPECT_GT(gapMs, 500.0);
    EXPECT_NEAR(static_cast<double>(r.lostMs), gapMs, 60.0) << "the reported loss is what the file lacks";
    EXPECT_FALSE(r.deviceLost);
}

// A recording whose process is killed leaves a valid WAV of all but its last second.
int recordUntilKilled(const std::vector<std::string>& args) {
    if (args.size() < 2) return 2;
    kit::SoundFormat format = kit::kRecordingFormat;
    smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream(
        smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(args[0].c_str(), &format))));
    smartptr<kit::SoundRecorder> recorder(new kit::SoundRecorder(stream, format, 1.0, kBlockMs, kBacklogMs));
    recorder->start();
    HANDLE started = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, args[1].c_str());
    if (started) ::SetEvent(started);
    ::Sleep(INFINITE);
    return 0;
}
ChildMain recordUntilKilledChild("record-until-killed", recordUntilKilled);

TEST_F(CaptureOnTheBed, AKilledRecordingLeavesAValidWavOfThePlayedSignal) {
    TempDir dir;
    std::string signalPath = dir.file("signal.wav");
    std::string outPath = dir.file("killed.wav");
    std::vector<int16_t> played = testsupport::pseudoRandomSignal(44100 * 8, 815);
    testsupport::writeWav(signalPath, played);
    std::string eventName = "sonotape-test-recording-" + std::to_string(::GetCurrentProcessId());
    HANDLE started = ::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(started, nullptr);

    play(signalPath, 8000);
    ASSERT_TRUE(testsupport::waitForSoundInSink(10000));  // the signal is under way
    ChildProcess child("record-until-killed", {outPath, eventName});
    ASSERT_EQ(::WaitForSingleObject(started, 10000), WAIT_OBJECT_0);
    DWORD t0 = ::GetTickCount();
    // About three seconds: Wine's capture takes up to a second to deliver its
    // first block in a new process, so wait until 2.5 s of audio reached the file.
    testsupport::waitUntil([&] { return testsupport::fileSize(outPath) >= 44 + 441000; }, 15000);
    child.kill();
    ASSERT_TRUE(child.wait(5000));
    ::CloseHandle(started);
    std::printf("killed %lu ms after the recording started\n", static_cast<unsigned long>(::GetTickCount() - t0));

    testsupport::WavFile w = testsupport::readWav(outPath);
    ASSERT_TRUE(w.valid) << "the file left behind parses as a WAV";
    EXPECT_EQ(w.riffSize, w.dataSize + 36) << "the two sizes agree";
    EXPECT_GE(w.fileSize, 44u + w.dataSize) << "the file holds every byte the header counts";
    EXPECT_GE(w.dataSize, 2u * 176400u) << "at least two seconds of audio";
    EXPECT_EQ(w.samples.size() * 2, w.dataSize);
    Coverage c = playedSignalInside(w.samples, played);
    EXPECT_TRUE(c.ok) << describe(c);
    EXPECT_EQ(c.capturedOffset, 0) << describe(c);
    EXPECT_FALSE(c.signalEndInside) << "the recording lies inside the signal";
}

}  // namespace
