// Benchmark: recording what plays through loopback of the playback device, on
// the bed (Wine 10's real loopback of the null sink), in one run:
//
//   cpu_ms_per_audio_s        CPU time of this process (GetProcessTimes: every
//                             thread, Wine's own included) per second of audio,
//                             loopback, while a signal plays
//   wavein_cpu_ms_per_audio_s the same through waveIn on the recording line
//   drift_ppm                 over a long loopback recording (10 minutes, or
//                             SONOTAPE_BENCH_LOOPBACK_S seconds): audio the
//                             capture delivered against the wall clock, as
//                             the slope of one against the other, fitted on
//                             each side of the device change and averaged
//                             (what the change itself costs is a step, given
//                             as switch_step_ms in the detail line)
//   lost_ms                   sound the recorder reported lost in that recording
//   switch_gap_ms             in its middle the playing device goes away: time
//                             from losing it to capturing the new default
//
// Before the measured runs, a short recording through each route loads and
// connects Wine's audio stack, so that neither figure pays for it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/wasapi_wave_in.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;

constexpr int kCpuSeconds = 15;

struct Recording {
    Recording(kit::WaveInDevice& device, const std::string& path) : path(path) {
        kit::SoundFormat format = kit::kRecordingFormat;
        stream = new kit::GenericSoundEncodingStream(
            kit::smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format)));
        recorder = new kit::SoundRecorder(stream, format, 1.0, 100, 10000, device);
        recorder->start();
    }
    WavFile finish() {
        recorder->finish();
        stream->finish();
        return readWav(path);
    }
    std::string path;
    kit::smartptr<kit::GenericSoundEncodingStream> stream;
    kit::smartptr<kit::SoundRecorder> recorder;
};

// CPU milliseconds per second of audio for `seconds` of recording (by the
// blocks written) from `device`; whether the file holds `played` exactly.
double cpuPerAudioSecond(kit::WaveInDevice& device, const std::string& path, int seconds,
                         const std::vector<int16_t>& played, bool& exact) {
    double cpu0 = processCpuMs();
    Recording r(device, path);
    waitUntil([&] { return r.recorder->blocksRecorded() >= seconds * 10u; }, (seconds + 10) * 1000u);
    WavFile w = r.finish();
    double cpu = processCpuMs() - cpu0;
    double audioS = w.valid ? w.dataSize / 176400.0 : 0;
    exact = !played.empty() && playedSignalInside(w.samples, played).ok;
    return audioS > 0 ? cpu / audioS : -1;
}

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Least-squares slope of y over x.
double slope(const std::vector<double>& x, const std::vector<double>& y) {
    double n = static_cast<double>(x.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    double d = n * sxx - sx * sx;
    return d != 0 ? (n * sxy - sx * sy) / d : 0;
}

}  // namespace

int main() {
    int longSeconds = 600;
    if (const char* s = std::getenv("SONOTAPE_BENCH_LOOPBACK_S")) longSeconds = std::max(30, std::atoi(s));
    TempDir dir;
    kit::WasapiWaveIn loopback(kit::WasapiWaveIn::Source::loopback);
    bool exact = false;
    cpuPerAudioSecond(loopback, dir.file("warm-loopback.wav"), 1, {}, exact);
    cpuPerAudioSecond(kit::systemWaveIn(), dir.file("warm-wavein.wav"), 1, {}, exact);

    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * (2 * kCpuSeconds + 8), 2718);
    writeWav(dir.file("signal.wav"), played);
    DWORD playStart = ::GetTickCount();
    if (!playIntoSink(dir.file("signal.wav"))) {
        std::printf("cannot start paplay\n");
        return 1;
    }
    ::Sleep(500);
    bool loopbackExact = false, waveInExact = false;
    double ours = cpuPerAudioSecond(loopback, dir.file("loopback.wav"), kCpuSeconds, played, loopbackExact);
    double base = cpuPerAudioSecond(kit::systemWaveIn(), dir.file("wavein.wav"), kCpuSeconds, played, waveInExact);
    waitUntil([&] { return ::GetTickCount() - playStart > (2 * kCpuSeconds + 8) * 1000u + 500u; }, 60000);

    // The long recording: what the capture delivered, sampled once a second.
    kit::WasapiWaveIn longLoopback(kit::WasapiWaveIn::Source::loopback);
    Recording r(longLoopback, dir.file("long.wav"));
    LARGE_INTEGER t0, now;
    ::QueryPerformanceCounter(&t0);
    std::vector<double> at[2], frames[2];
    bool unplugged = false;
    for (;;) {
        ::Sleep(1000);
        ::QueryPerformanceCounter(&now);
        double s = seconds(t0, now);
        kit::WasapiWaveIn::Stats st = longLoopback.stats();
        // The first seconds hold the stream's late start, which silence fills.
        if (s > 5) {
            at[unplugged].push_back(s);
            frames[unplugged].push_back(static_cast<double>(st.deviceFrames + st.silenceFrames));  // in the file
        }
        if (!unplugged && s > longSeconds / 2.0) unplugged = changeBedSound("unplug");
        if (s >= longSeconds) break;
    }
    WavFile w = r.finish();
    ::QueryPerformanceCounter(&now);
    kit::WasapiWaveIn::Stats st = longLoopback.stats();
    uint64_t lostMs = r.recorder->lostMs();
    changeBedSound("reset");
    double slopes[2] = {slope(at[0], frames[0]), slope(at[1], frames[1])};
    double drift = ((slopes[0] + slopes[1]) / 2 / kRate - 1.0) * 1e6;
    // The step at the change: where the recording after it stands against
    // where the recording before it would have gone on.
    double stepMs = 0;
    if (!at[0].empty() && !at[1].empty()) {
        double x = at[1].front();
        double before = frames[0].back() + slopes[0] * (x - at[0].back());
        stepMs = (frames[1].front() - before) * 1000.0 / kRate;
    }
    double fileS = w.valid ? w.dataSize / 176400.0 : 0;

    std::printf(
        "capture_loopback detail: loopback_signal_exact=%d wavein_signal_exact=%d long_s=%.1f file_s=%.3f "
        "device_frames=%llu silence_frames=%llu withdrawn_frames=%llu dropped_frames=%llu device_changes=%u "
        "drift_before_ppm=%.1f drift_after_ppm=%.1f switch_step_ms=%.1f\n",
        loopbackExact ? 1 : 0, waveInExact ? 1 : 0, seconds(t0, now), fileS,
        static_cast<unsigned long long>(st.deviceFrames), static_cast<unsigned long long>(st.silenceFrames),
        static_cast<unsigned long long>(st.withdrawnFrames), static_cast<unsigned long long>(st.droppedFrames),
        st.deviceChanges, (slopes[0] / kRate - 1.0) * 1e6, (slopes[1] / kRate - 1.0) * 1e6, stepMs);
    std::printf(
        "bench capture_loopback: arch=%s cpu_ms_per_audio_s=%.2f wavein_cpu_ms_per_audio_s=%.2f drift_ppm=%.1f "
        "lost_ms=%llu switch_gap_ms=%s\n",
        kTargetArch, ours, base, drift, static_cast<unsigned long long>(lostMs),
        st.deviceChanges > 0 ? std::to_string(st.switchMs).c_str() : "none");
    return 0;
}
