#include <gmock/gmock.h>
#include <windows.h>
#include <mmsystem.h>

#include <vector>

#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;

// Waits until a playback started at `started` and lasting `seconds` is over,
// so that no sound of this test reaches the next one on the bed.
void waitForPlaybackEnd(DWORD started, double seconds) {
    DWORD end = started + static_cast<DWORD>(seconds * 1000) + 500;
    DWORD now = ::GetTickCount();
    if (static_cast<int32_t>(end - now) > 0) ::Sleep(end - now);
}

TEST(Bed, TheNullSinksMonitorIsAWaveInputDevice) { EXPECT_GE(::waveInGetNumDevs(), 1u); }

TEST(Bed, AToneIntoTheSinkComesBackThroughWaveIn) {
    TempDir dir;
    std::string wav = dir.file("tone.wav");
    writeWav(wav, toneSignal(440.0, 4.0, 8000));
    DWORD started = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(wav));
    ::Sleep(700);  // paplay starting up
    std::vector<int16_t> captured = captureSeconds(1.0);
    waitForPlaybackEnd(started, 4.0);
    ASSERT_EQ(captured.size(), 88200u);
    double rms = rmsLevel(captured);
    EXPECT_NEAR(rms, 8000 / std::sqrt(2.0), 200) << "level of the captured tone";
    EXPECT_NEAR(zeroCrossingFrequency(captured), 440.0, 5.0);
    EXPECT_NEAR(rmsLevel(captured, 1), rms, 50);
}

TEST(Bed, APlayedSignalComesBackBitForBit) {
    TempDir dir;
    std::string wav = dir.file("noise.wav");
    std::vector<int16_t> played = pseudoRandomSignal(44100 * 3, 2024);
    writeWav(wav, played);
    DWORD started = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(wav));
    ::Sleep(500);
    // Two seconds: paplay may take a while to start on a busy machine.
    std::vector<int16_t> captured = captureSeconds(2.0);
    waitForPlaybackEnd(started, 3.0);
    SignalMatch m = matchCapture(captured, played);
    ASSERT_GE(m.capturedOffset, 0) << "the played signal was not found in the capture";
    EXPECT_TRUE(m.exact) << "mismatch after " << m.firstMismatch << " frames";
    EXPECT_GT(m.matchedFrames, 44100u / 2);
}

}  // namespace
