// Benchmark: 20 seconds recorded on the bed into a WAV file (SoundRecorder,
// encoding stream, WAV encoder), and the same source recorded at the same time
// by the native parec for comparison. The recording is scaled by a calibrated
// coefficient (1.365, what the bed's calibration finds; another one may be
// given as the first argument), as every recording after calibration is.
//
// Our figure is the CPU time of this process (GetProcessTimes: every thread,
// Wine's own included) from the recorder's construction to the end of the
// stream, per second of audio in the file. Before it, the same measure is
// taken of a bare waveIn capture (two 100 ms blocks, no code of ours) as the
// platform's baseline (after a first capture that loads Wine's audio stack), and the difference is printed as our own share. The
// wineserver's CPU time over the recording is read from /proc and printed
// apart (it serves every Wine process: an upper bound of this recording's share).
// The recording's own two threads (capture and encoding thread) are also
// timed (GetThreadTimes, just before the finish, as Wine only reads a running
// thread's times): the most direct measure of our code's share; the device
// callback runs on Wine's thread and is not in it.
// parec's figure is the CPU time bash reports for its children (`times`:
// timeout and parec), per second of audio in parec's file.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/capture_check.h"
#include "sound.capture/sound_recorder.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;

constexpr int kSeconds = 20;
constexpr double kCoefficient = 1.365;

// What the recording should hold: each played sample times the coefficient,
// truncated toward zero and held to the 16-bit range.
std::vector<int16_t> scaled(const std::vector<int16_t>& played, double coefficient) {
    std::vector<int16_t> out(played.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        double p = static_cast<double>(static_cast<int64_t>(played[i] * coefficient));
        out[i] = static_cast<int16_t>(p < -32768 ? -32768 : p > 32767 ? 32767 : p);
    }
    return out;
}

// utime + stime of this prefix's wineserver, in ms, or -1 when it cannot be found.
double wineserverCpuMs() {
    char prefix[MAX_PATH] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return -1;
    std::string wanted = std::string("WINEPREFIX=") + prefix;
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA("Z:\\proc\\*", &found);
    if (h == INVALID_HANDLE_VALUE) return -1;
    double result = -1;
    do {
        std::string name = found.cFileName;
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string dir = "Z:\\proc\\" + name + "\\";
        if (readFile(dir + "comm").rfind("wineserver", 0) != 0) continue;
        std::string entries = std::string(1, '\0') + readFile(dir + "environ") + std::string(1, '\0');
        if (entries.find('\0' + wanted + '\0') == std::string::npos) continue;  // another prefix's server
        std::string stat = readFile(dir + "stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> v;
        for (std::string f; fields >> f;) v.push_back(f);
        if (v.size() > 12 && v[0] != "Z") result = (std::atof(v[11].c_str()) + std::atof(v[12].c_str())) * 10.0;
        if (result >= 0) break;
    } while (::FindNextFileA(h, &found));
    ::FindClose(h);
    return result;
}

double secondsOf(const std::string& wav) {
    WavFile w = readWav(wav);
    return w.valid ? w.dataSize / 176400.0 : 0.0;
}

double parseBashTimesChildren(const std::string& text) {
    // Two lines "XmY.YYYs XmZ.ZZZs": the shell's own times, then its children's.
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    double total = 0;
    std::istringstream parts(last);
    std::string t;
    while (parts >> t) {
        std::size_t m = t.find('m');
        if (m == std::string::npos) continue;
        total += std::atof(t.substr(0, m).c_str()) * 60.0 + std::atof(t.substr(m + 1).c_str());
    }
    return total * 1000.0;
}

double threadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    auto ms = [](const FILETIME& f) {
        return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// CPU ms per audio second of a bare waveIn capture of `seconds`: two 100 ms
// blocks cycled by a minimal loop (event callback), no code of ours.
double bareWaveInBaseline(int seconds) {
    WAVEFORMATEX f = kit::captureFormat(kit::kRecordingFormat);
    HANDLE done = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEIN device = nullptr;
    double cpu0 = processCpuMs();
    if (::waveInOpen(&device, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR) {
        ::CloseHandle(done);
        return -1;
    }
    const DWORD bytes = f.nAvgBytesPerSec / 10;
    std::vector<char> memory(2 * bytes);
    WAVEHDR h[2] = {};
    for (int i = 0; i < 2; ++i) {
        h[i].lpData = memory.data() + i * bytes;
        h[i].dwBufferLength = bytes;
        ::waveInPrepareHeader(device, &h[i], sizeof h[i]);
        ::waveInAddBuffer(device, &h[i], sizeof h[i]);
    }
    ::waveInStart(device);
    uint64_t recorded = 0;
    DWORD t0 = ::GetTickCount();
    while (::GetTickCount() - t0 < seconds * 1000u) {
        ::WaitForSingleObject(done, 200);
        for (WAVEHDR& x : h) {
            if (!(x.dwFlags & WHDR_DONE)) continue;
            recorded += x.dwBytesRecorded;
            ::waveInAddBuffer(device, &x, sizeof x);
        }
    }
    ::waveInReset(device);
    for (WAVEHDR& x : h) ::waveInUnprepareHeader(device, &x, sizeof x);
    ::waveInClose(device);
    ::CloseHandle(done);
    double audio = recorded / static_cast<double>(f.nAvgBytesPerSec);
    return audio > 0 ? (processCpuMs() - cpu0) / audio : -1;
}

}  // namespace

int main(int argc, char** argv) {
    double coefficient = argc > 1 ? std::atof(argv[1]) : kCoefficient;
    bareWaveInBaseline(1);  // loads and connects Wine's audio stack: not part of either figure
    double baseline = bareWaveInBaseline(10);

    TempDir dir;
    std::string signalPath = dir.file("signal.wav");
    std::string outPath = dir.file("bench.wav");
    std::string parecPath = dir.file("parec.wav");
    std::string script = dir.file("parec.sh");
    std::vector<int16_t> played = pseudoRandomSignal(44100 * (kSeconds + 6), 2025);
    writeWav(signalPath, played);

    std::string unixDir = unixPath(dir.path());
    writeFile(script, "cd '" + unixDir + "'\n" + "timeout -s INT " + std::to_string(kSeconds) +
                          " parec --file-format=wav --rate=44100 --channels=2 --format=s16le parec.wav\n"
                          "times > times.txt\n"
                          "touch done\n");

    DWORD playStart = ::GetTickCount();
    if (!playIntoSink(signalPath)) {
        std::printf("cannot start paplay\n");
        return 1;
    }
    ::Sleep(500);
    if (!startNative("/bin/bash \"" + unixPath(script) + "\"")) {
        std::printf("cannot start parec\n");
        return 1;
    }

    double cpu0 = processCpuMs();
    double server0 = wineserverCpuMs();
    kit::SoundFormat format = kit::kRecordingFormat;
    kit::smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream(
        kit::smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(outPath.c_str(), &format))));
    kit::smartptr<kit::SoundRecorder> recorder(new kit::SoundRecorder(stream, format, coefficient, 100, 60000));
    std::vector<HANDLE> ownThreads;
    for (DWORD id : {recorder->captureThreadId(), stream->encodingThreadId()})
        if (HANDLE h = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, id)) ownThreads.push_back(h);
    recorder->start();
    DWORD t0 = ::GetTickCount();
    while (recorder->blocksRecorded() < kSeconds * 10u && ::GetTickCount() - t0 < (kSeconds + 10) * 1000u) ::Sleep(100);
    // Wine reads a thread's times from the running thread only: take them now.
    double perThread[2] = {0, 0};  // capture, encoding
    for (std::size_t i = 0; i < ownThreads.size() && i < 2; ++i) {
        perThread[i] = threadCpuMs(ownThreads[i]);
        ::CloseHandle(ownThreads[i]);
    }
    double threadsCpu = perThread[0] + perThread[1];
    recorder->finish();
    stream->finish();
    double cpu = processCpuMs() - cpu0;
    double server1 = wineserverCpuMs();
    uint32_t blocks = recorder->blocksWritten();
    uint32_t dropped = recorder->blocksDropped();
    uint64_t lost = recorder->lostMs();
    recorder.reset();
    stream.reset();

    double audio = secondsOf(outPath);
    WavFile ours = readWav(outPath);
    Coverage c = playedSignalInside(ours.samples, scaled(played, coefficient));

    waitUntil([&] { return fileExists(dir.file("done")); }, 30000);
    double parecCpu = parseBashTimesChildren(readFile(dir.file("times.txt")));
    double parecAudio = secondsOf(parecPath);

    double ours_ms = audio > 0 ? cpu / audio : -1;
    double parec_ms = parecAudio > 0 ? parecCpu / parecAudio : -1;
    // Let paplay end by itself before the bed goes away.
    while (::GetTickCount() - playStart < (kSeconds + 6) * 1000u + 500u) ::Sleep(100);
    std::printf(
        "capture_wav detail: audio_s=%.2f cpu_ms=%.0f bare_wavein_cpu_ms_per_audio_s=%.2f "
        "minus_bare_cpu_ms_per_audio_s=%.2f own_threads_cpu_ms_per_audio_s=%.2f (capture %.2f, encoding %.2f) "
        "wineserver_cpu_ms_per_audio_s=%.2f signal_exact=%d parec_audio_s=%.2f parec_cpu_ms=%.0f coefficient=%.3f\n",
        audio, cpu, baseline, baseline >= 0 ? ours_ms - baseline : -1.0, audio > 0 ? threadsCpu / audio : -1.0,
        audio > 0 ? perThread[0] / audio : -1.0, audio > 0 ? perThread[1] / audio : -1.0,
        server0 >= 0 && server1 >= 0 && audio > 0 ? (server1 - server0) / audio : -1.0, c.ok ? 1 : 0, parecAudio,
        parecCpu, coefficient);
    std::printf(
        "bench capture_wav: arch=%s cpu_ms_per_audio_s=%.2f own_threads_cpu_ms_per_audio_s=%.2f "
        "parec_cpu_ms_per_audio_s=%.2f blocks=%u dropped=%u lost_ms=%llu\n",
        testsupport::kTargetArch, ours_ms, audio > 0 ? threadsCpu / audio : -1.0, parec_ms, blocks, dropped,
        static_cast<unsigned long long>(lost));
    return 0;
}
