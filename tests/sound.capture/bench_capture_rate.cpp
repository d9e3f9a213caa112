// Benchmark: what recording at the playback device's own rate costs, on the
// bed with its sinks at 48 000 Hz (set before this program first uses Wine's
// audio; tools/bench.sh starts each benchmark with a fresh Wine server), in
// one run, side by side:
//
//   cpu_ms_per_audio_s           CPU time of this process (GetProcessTimes:
//                                every thread, Wine's own included) per second
//                                of audio, loopback at the device's rate (only
//                                the samples converted), while a signal plays
//   resampled_cpu_ms_per_audio_s the same asking Windows for 44 100 Hz
//                                (AUTOCONVERTPCM resamples), as loopback
//                                recorded before it followed the device
//   exact                        whether the recording at the device's rate
//                                holds the played signal bit for bit
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

constexpr int kDeviceRate = 48000;
constexpr int kSeconds = 15;

// CPU milliseconds per second of audio for `seconds` of loopback recorded at
// `rate`; whether the file holds `played` exactly.
double cpuPerAudioSecond(kit::WasapiWaveIn& loopback, const std::string& path, int rate, int seconds,
                         const std::vector<int16_t>& played, bool& exact) {
    kit::SoundFormat format{2, 16, rate};
    kit::smartptr<kit::GenericSoundEncodingStream> stream = new kit::GenericSoundEncodingStream(
        kit::smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format)));
    kit::smartptr<kit::SoundRecorder> recorder = new kit::SoundRecorder(stream, format, 1.0, 100, 10000, loopback);
    double cpu0 = processCpuMs();
    recorder->start();
    waitUntil([&] { return recorder->blocksRecorded() >= seconds * 10u; }, (seconds + 10) * 1000u);
    recorder->finish();
    stream->finish();
    double cpu = processCpuMs() - cpu0;
    WavFile w = readWav(path);
    double audioS = w.valid ? w.dataSize / (rate * 4.0) : 0;
    exact = !played.empty() && w.valid && playedSignalInside(w.samples, played).ok;
    return audioS > 0 ? cpu / audioS : -1;
}

}  // namespace

int main() {
    if (!changeBedSound("rate-" + std::to_string(kDeviceRate))) {
        std::printf("the bed's sinks cannot be set to %d Hz\n", kDeviceRate);
        return 1;
    }
    TempDir dir;
    kit::WasapiWaveIn loopback(kit::WasapiWaveIn::Source::loopback);
    if (loopback.mixRate() != kDeviceRate) {
        std::printf("the playback device's mix rate is %u Hz, not %d\n", loopback.mixRate(), kDeviceRate);
        changeBedSound("reset");
        return 1;
    }
    bool exact = false, unused = false;
    cpuPerAudioSecond(loopback, dir.file("warm.wav"), kDeviceRate, 1, {}, unused);

    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kDeviceRate) * (2 * kSeconds + 8), 4800);
    writeWav(dir.file("signal.wav"), played, 2, kDeviceRate);
    DWORD playStart = ::GetTickCount();
    if (!playIntoSink(dir.file("signal.wav"))) {
        std::printf("cannot start paplay\n");
        changeBedSound("reset");
        return 1;
    }
    waitForSoundInSink(5000);
    double native = cpuPerAudioSecond(loopback, dir.file("native.wav"), kDeviceRate, kSeconds, played, exact);
    double resampled = cpuPerAudioSecond(loopback, dir.file("resampled.wav"), 44100, kSeconds, {}, unused);
    waitForSignalEnd(playStart, (2 * kSeconds + 8) * 1000u);
    changeBedSound("reset");
    std::printf(
        "bench capture_rate: arch=%s rate=%d cpu_ms_per_audio_s=%.2f resampled_cpu_ms_per_audio_s=%.2f exact=%d\n",
        kTargetArch, kDeviceRate, native, resampled, exact ? 1 : 0);
    return 0;
}
