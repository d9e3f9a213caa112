#include "support/bed_audio.h"

#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "support/native_tools.h"
#include "support/support.h"

namespace testsupport {

std::vector<int16_t> pseudoRandomSignal(std::size_t frames, uint32_t seed, int amplitude) {
    std::vector<int16_t> s(frames * kChannels);
    uint32_t x = seed ? seed : 1;
    for (auto& v : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<int16_t>(static_cast<int>(x % (2u * amplitude + 1)) - amplitude);
    }
    return s;
}

std::vector<int16_t> toneSignal(double frequency, double seconds, int amplitude) {
    std::size_t frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<int16_t> s(frames * kChannels);
    for (std::size_t i = 0; i < frames; ++i) {
        auto v =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * 3.14159265358979323846 * frequency * i / kRate)));
        s[2 * i] = s[2 * i + 1] = v;
    }
    return s;
}

std::vector<int16_t> musicLikeSignal(double seconds) {
    std::size_t frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<int16_t> noise = pseudoRandomSignal(frames, 77, 1500);
    std::vector<int16_t> s(frames * kChannels);
    const double pi = 3.14159265358979323846;
    for (std::size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / kRate;
        double a = 0.5 + 0.5 * std::sin(2 * pi * 0.2 * t);
        double left = 6000 * a * std::sin(2 * pi * 220 * t) + 3000 * std::sin(2 * pi * 659.3 * t);
        double right = 6000 * (1 - a) * std::sin(2 * pi * 329.6 * t) + 3000 * std::sin(2 * pi * 659.3 * t);
        s[2 * i] = static_cast<int16_t>(std::lround(left) + noise[2 * i]);
        s[2 * i + 1] = static_cast<int16_t>(std::lround(right) + noise[2 * i + 1]);
    }
    return s;
}

namespace {
void put32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }
void put16(std::string& s, uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); }
uint32_t get32(const std::string& s, std::size_t at) {
    uint32_t v = 0;
    if (at + 4 <= s.size()) std::memcpy(&v, s.data() + at, 4);
    return v;
}
uint16_t get16(const std::string& s, std::size_t at) {
    uint16_t v = 0;
    if (at + 2 <= s.size()) std::memcpy(&v, s.data() + at, 2);
    return v;
}
}  // namespace

void writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate) {
    uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::string h = "RIFF";
    put32(h, 36 + dataBytes);
    h += "WAVEfmt ";
    put32(h, 16);
    put16(h, 1);
    put16(h, static_cast<uint16_t>(channels));
    put32(h, static_cast<uint32_t>(rate));
    put32(h, static_cast<uint32_t>(rate * channels * 2));
    put16(h, static_cast<uint16_t>(channels * 2));
    put16(h, 16);
    h += "data";
    put32(h, dataBytes);
    h.append(reinterpret_cast<const char*>(samples.data()), dataBytes);
    writeFile(path, h);
}

WavFile readWav(const std::string& path) {
    WavFile w;
    std::string s = readFile(path);
    w.fileSize = s.size();
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0) return w;
    w.riffSize = get32(s, 4);
    std::size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= s.size()) {
        std::string id = s.substr(at, 4);
        uint32_t size = get32(s, at + 4);
        if (id == "fmt ") {
            w.formatTag = get16(s, at + 8);
            w.channels = get16(s, at + 10);
            w.samplesPerSec = get32(s, at + 12);
            w.avgBytesPerSec = get32(s, at + 16);
            w.blockAlign = get16(s, at + 20);
            w.bitsPerSample = get16(s, at + 22);
            haveFormat = true;
        } else if (id == "data") {
            w.dataSize = size;
            std::size_t available = std::min<std::size_t>(size, s.size() - at - 8);
            w.samples.resize(available / 2);
            std::memcpy(w.samples.data(), s.data() + at + 8, w.samples.size() * 2);
            for (std::size_t i = 0; w.bitsPerSample == 24 && i + 3 <= available; i += 3) {
                auto b = [&](std::size_t k) { return uint32_t{static_cast<uint8_t>(s[at + 8 + i + k])}; };
                w.samples24.push_back(static_cast<int32_t>(b(0) << 8 | b(1) << 16 | b(2) << 24) >> 8);
            }
            w.valid = haveFormat;
            return w;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

std::string unixPath(const std::string& windowsPath) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!fn) return windowsPath;
    wchar_t wide[MAX_PATH * 2];
    ::MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2);
    char* unix = fn(wide);
    if (!unix) return windowsPath;
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

bool startNative(const std::string& commandLine) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = commandLine;
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

std::vector<int16_t> captureSeconds(double seconds) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = kChannels;
    f.wBitsPerSample = 16;
    f.nSamplesPerSec = kRate;
    f.nBlockAlign = kChannels * 2;
    f.nAvgBytesPerSec = kRate * kChannels * 2;
    HWAVEIN device = nullptr;
    if (::waveInOpen(&device, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return {};
    std::vector<int16_t> samples(static_cast<std::size_t>(seconds * kRate) * kChannels);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBufferLength = static_cast<DWORD>(samples.size() * 2);
    ::waveInPrepareHeader(device, &header, sizeof header);
    ::waveInAddBuffer(device, &header, sizeof header);
    ::waveInStart(device);
    waitUntil([&] { return (header.dwFlags & WHDR_DONE) != 0; }, static_cast<DWORD>(seconds * 1000) + 5000);
    ::waveInReset(device);
    ::waveInUnprepareHeader(device, &header, sizeof header);
    ::waveInClose(device);
    samples.resize(header.dwBytesRecorded / 2);
    return samples;
}

bool playIntoSink(const std::string& wavPath) { return startNative("/usr/bin/paplay \"" + unixPath(wavPath) + "\""); }

namespace {
std::string environment(const char* name) {
    char value[1024] = {};
    DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// A Unix path as Wine's drive Z: shows it.
std::string windowsPath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}
}  // namespace

bool setBedSoundServer(bool running, unsigned timeoutMs) {
    std::string script = environment("SONOTAPE_BED_SOUND");
    std::string run = environment("SONOTAPE_BED_DIR");
    if (script.empty() || run.empty()) return false;
    std::string state = windowsPath(run + "/pulse/state");
    ::DeleteFileA(state.c_str());
    if (!startNative("/bin/bash \"" + script + "\" " + (running ? "start" : "stop") + " \"" + run + "\"")) return false;
    std::string wanted = running ? "running" : "stopped";
    DWORD t0 = ::GetTickCount();
    while (::GetTickCount() - t0 < timeoutMs) {
        if (readFile(state).rfind(wanted, 0) == 0) return true;
        ::Sleep(50);
    }
    return false;
}

bool changeBedSound(const std::string& change, unsigned timeoutMs) {
    std::string script = environment("SONOTAPE_BED_SOUND");
    std::string run = environment("SONOTAPE_BED_DIR");
    if (script.empty() || run.empty()) return false;
    NativeResult r = runNative(windowsPath(run),
                               "/bin/bash " + shellQuote(script) + " " + change + " " + shellQuote(run), timeoutMs);
    return r.finished && r.exitCode == 0;
}

namespace {
uint64_t keyAt(const std::vector<int16_t>& s, std::size_t frame, std::size_t frames) {
    uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < frames * kChannels; ++i) {
        h ^= static_cast<uint16_t>(s[frame * kChannels + i]);
        h *= 1099511628211ull;
    }
    return h;
}
}  // namespace

long findSignal(const std::vector<int16_t>& haystack, const std::vector<int16_t>& needle, std::size_t probeFrames) {
    std::size_t hayFrames = haystack.size() / kChannels;
    std::size_t needleFrames = needle.size() / kChannels;
    if (needleFrames < probeFrames || hayFrames < probeFrames) return -1;
    uint64_t wanted = keyAt(needle, 0, probeFrames);
    for (std::size_t f = 0; f + probeFrames <= hayFrames; ++f) {
        if (keyAt(haystack, f, probeFrames) == wanted &&
            std::memcmp(&haystack[f * kChannels], needle.data(), probeFrames * kChannels * 2) == 0)
            return static_cast<long>(f);
    }
    return -1;
}

SignalMatch matchCapture(const std::vector<int16_t>& captured, const std::vector<int16_t>& played) {
    SignalMatch m;
    constexpr std::size_t kProbe = 32;
    std::size_t capFrames = captured.size() / kChannels;
    std::size_t playFrames = played.size() / kChannels;
    if (capFrames < kProbe || playFrames < kProbe) return m;
    // Index the played signal by short windows, then find the first captured
    // frame whose window occurs in it.
    std::unordered_map<uint64_t, std::size_t> index;
    index.reserve(playFrames);
    for (std::size_t f = 0; f + kProbe <= playFrames; ++f) index.emplace(keyAt(played, f, kProbe), f);
    for (std::size_t c = 0; c + kProbe <= capFrames; ++c) {
        auto it = index.find(keyAt(captured, c, kProbe));
        if (it == index.end()) continue;
        std::size_t p = it->second;
        if (std::memcmp(&captured[c * kChannels], &played[p * kChannels], kProbe * kChannels * 2) != 0) continue;
        m.capturedOffset = static_cast<long>(c);
        m.playedOffset = static_cast<long>(p);
        std::size_t n = 0;
        while (c + n < capFrames && p + n < playFrames && captured[(c + n) * 2] == played[(p + n) * 2] &&
               captured[(c + n) * 2 + 1] == played[(p + n) * 2 + 1])
            ++n;
        m.matchedFrames = n;
        m.firstMismatch = n;
        m.exact = c + n == capFrames || p + n == playFrames;
        return m;
    }
    return m;
}

Skips skipsInCapture(const std::vector<int16_t>& captured, const std::vector<int16_t>& played) {
    constexpr std::size_t kProbe = 32;
    Skips skips;
    std::size_t capFrames = captured.size() / kChannels;
    std::size_t playFrames = played.size() / kChannels;
    std::unordered_map<uint64_t, std::size_t> index;
    index.reserve(playFrames);
    for (std::size_t f = 0; f + kProbe <= playFrames; ++f) index.emplace(keyAt(played, f, kProbe), f);
    auto lookUp = [&](std::size_t c) -> long {
        auto it = index.find(keyAt(captured, c, kProbe));
        if (it == index.end()) return -1;
        return std::memcmp(&captured[c * kChannels], &played[it->second * kChannels], kProbe * kChannels * 2) == 0
                   ? static_cast<long>(it->second)
                   : -1;
    };
    std::size_t c = 0;
    long p = -1;
    while (c + kProbe <= capFrames && (p = lookUp(c)) < 0) ++c;  // up to the first match
    if (p < 0) return skips;
    std::size_t end = 0;  // where the last run ended in the signal
    for (;;) {
        auto at = static_cast<std::size_t>(p);
        if (skips.runs > 0) skips.skippedFrames += at - end;
        ++skips.runs;
        std::size_t n = 0;
        while (c + n < capFrames && at + n < playFrames && captured[(c + n) * 2] == played[(at + n) * 2] &&
               captured[(c + n) * 2 + 1] == played[(at + n) * 2 + 1])
            ++n;
        c += n;
        end = at + n;
        if (c == capFrames || end == playFrames) break;
        if (c + kProbe > capFrames) return skips;  // too little left to place
        p = lookUp(c);
        if (p < 0 || static_cast<std::size_t>(p) < end) return skips;
    }
    skips.ok = true;
    return skips;
}

double rmsLevel(const std::vector<int16_t>& samples, int channel) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = static_cast<std::size_t>(channel); i < samples.size(); i += kChannels, ++n)
        sum += static_cast<double>(samples[i]) * samples[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

double zeroCrossingFrequency(const std::vector<int16_t>& samples, int channel, int rate) {
    std::size_t frames = samples.size() / kChannels;
    if (frames < 2) return 0;
    std::size_t crossings = 0;
    for (std::size_t f = 1; f < frames; ++f) {
        bool before = samples[(f - 1) * kChannels + channel] < 0;
        bool now = samples[f * kChannels + channel] < 0;
        if (before != now) ++crossings;
    }
    return crossings / 2.0 * rate / static_cast<double>(frames);
}

}  // namespace testsupport
