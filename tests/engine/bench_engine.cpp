// Ten engine recordings of three seconds each on the bed: how long a start
// takes until the first block is captured, how long a finish takes until the
// notifier, and whether any played sample went missing from the files.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "engine/engine.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/capture_check.h"
#include "support/bed_audio.h"
#include "support/support.h"

using namespace testsupport;

namespace {

class FinishEvents : public engine::EngineEvents {
public:
    void mustStop(const std::string&) override {}
    void halfHourRecorded() override {}
    void diskSpaceLow(bool) override {}
    void recordingFinished() override { finished = true; }
    std::atomic<bool> finished{false};
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double msSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
    constexpr int kRuns = 10;
    TempDir dir;
    FinishEvents events;
    engine::Engine eng(events);

    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 60, 4711);
    writeWav(dir.file("signal.wav"), played);
    waitForSilentSink(10000);
    playIntoSink(dir.file("signal.wav"));
    ::Sleep(1000);

    std::vector<double> starts, finishes;
    long lostSamples = 0;
    uint64_t lostMs = 0;
    for (int run = 0; run < kRuns; ++run) {
        std::string path = dir.file("take" + std::to_string(run) + ".wav");
        LARGE_INTEGER t0;
        ::QueryPerformanceCounter(&t0);
        if (eng.start() != engine::StartResult::started || !eng.isRecording()) {
            std::printf("run %d: the recording did not start\n", run);
            return 1;
        }
        while (eng.recorderForTests()->blocksRecorded() == 0 && msSince(t0) < 10000) ::Sleep(1);
        starts.push_back(msSince(t0));
        eng.setOutputFile(path, engine::FORMAT_WAV, 0);
        while (msSince(t0) < 3000) ::Sleep(5);

        events.finished = false;
        LARGE_INTEGER t1;
        ::QueryPerformanceCounter(&t1);
        eng.finish();
        while (!events.finished && msSince(t1) < 20000) ::Sleep(1);
        finishes.push_back(msSince(t1));
        lostMs += eng.lastRecordingOutcome().lostMs;

        WavFile wav = readWav(path);
        Coverage c = playedSignalInside(wav.samples, played);
        long frames = static_cast<long>(wav.samples.size() / kChannels);
        long lost = c.ok ? 0 : frames - static_cast<long>(c.matchedFrames);
        if (!c.ok) std::printf("run %d: %s\n", run, c.why.c_str());
        lostSamples += lost * kChannels;
        std::printf("run %d: start %.0f ms, finish %.0f ms, %.2f s recorded\n", run, starts.back(), finishes.back(),
                    frames / static_cast<double>(kRate));
    }
    std::printf("bench engine: arch=%s start_ms=%.0f finish_ms=%.0f lost_samples=%ld lost_ms=%llu runs=%d\n",
                testsupport::kTargetArch, median(starts), median(finishes), lostSamples,
                static_cast<unsigned long long>(lostMs), kRuns);
    return 0;
}
