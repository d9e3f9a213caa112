// Benchmark: the CPU time a recording costs through the WASAPI capture and
// through the platform's waveIn, measured in one run on the bed. Each records
// the same played signal for the same time into a WAV file through the same
// recorder, encoding stream and encoder; the WASAPI capture reads the default
// recording endpoint (the sink's monitor: loopback is refused by Wine).
//
// A figure is the CPU time of this process (GetProcessTimes: every thread,
// Wine's own included) from the recorder's construction to the end of the
// stream, per second of audio in the file. Before the two, a short recording
// of each loads and connects Wine's audio stack, so that neither figure pays
// for it.
#include <windows.h>

#include <cstdio>
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

constexpr int kSeconds = 15;

struct Run {
    double cpuMs = 0;
    double audioS = 0;
    bool exact = false;
    double perAudioSecond() const { return audioS > 0 ? cpuMs / audioS : -1; }
};

// Records `seconds` (by the blocks written) from `device` into `path`.
Run record(kit::WaveInDevice& device, const std::string& path, int seconds, const std::vector<int16_t>& played) {
    Run run;
    double cpu0 = processCpuMs();
    kit::SoundFormat format = kit::kRecordingFormat;
    kit::smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream(
        kit::smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format))));
    kit::smartptr<kit::SoundRecorder> recorder(new kit::SoundRecorder(stream, format, 1.0, 100, 10000, device));
    recorder->start();
    DWORD t0 = ::GetTickCount();
    while (recorder->blocksRecorded() < seconds * 10u && ::GetTickCount() - t0 < (seconds + 10) * 1000u) ::Sleep(100);
    recorder->finish();
    stream->finish();
    run.cpuMs = processCpuMs() - cpu0;
    recorder.reset();
    stream.reset();
    WavFile w = readWav(path);
    run.audioS = w.valid ? w.dataSize / 176400.0 : 0;
    run.exact = !played.empty() && playedSignalInside(w.samples, played).ok;
    return run;
}

}  // namespace

int main() {
    TempDir dir;
    kit::WasapiWaveIn wasapi(kit::WasapiWaveIn::Source::recording);
    record(wasapi, dir.file("warm-wasapi.wav"), 1, {});
    record(kit::systemWaveIn(), dir.file("warm-wavein.wav"), 1, {});

    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * (2 * kSeconds + 8), 2718);
    writeWav(dir.file("signal.wav"), played);
    DWORD playStart = ::GetTickCount();
    if (!playIntoSink(dir.file("signal.wav"))) {
        std::printf("cannot start paplay\n");
        return 1;
    }
    ::Sleep(500);
    Run ours = record(wasapi, dir.file("wasapi.wav"), kSeconds, played);
    kit::WasapiWaveIn::Stats stats = wasapi.stats();
    Run base = record(kit::systemWaveIn(), dir.file("wavein.wav"), kSeconds, played);

    while (::GetTickCount() - playStart < (2 * kSeconds + 8) * 1000u + 500u) ::Sleep(100);  // paplay ends by itself
    std::printf(
        "capture_wasapi detail: audio_s=%.2f cpu_ms=%.0f signal_exact=%d silence_frames=%llu "
        "withdrawn_frames=%llu wavein_audio_s=%.2f wavein_cpu_ms=%.0f wavein_signal_exact=%d\n",
        ours.audioS, ours.cpuMs, ours.exact ? 1 : 0, static_cast<unsigned long long>(stats.silenceFrames),
        static_cast<unsigned long long>(stats.withdrawnFrames), base.audioS, base.cpuMs, base.exact ? 1 : 0);
    std::printf("bench capture_wasapi: arch=%s cpu_ms_per_audio_s=%.2f wavein_cpu_ms_per_audio_s=%.2f\n", kTargetArch,
                ours.perAudioSecond(), base.perAudioSecond());
    return 0;
}
