// How fast the MP3 encoder turns 60 seconds of stereo PCM into MP3 at
// 128 kbit/s, next to the host's lame command line with the same settings.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "encoding.mp3/mp3_encoding.h"
#include "support/native_tools.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using namespace testsupport;

constexpr double kSeconds = 60.0;
constexpr uint32_t kBlockBytes = 17640;  // 100 ms, as the capture delivers
constexpr int kRuns = 3;

double encoderSeconds(const std::string& path, const std::vector<int16_t>& pcm) {
    kit::Mp3Format format{128, 44100, false};
    double start = secondsNow();
    kit::smartptr<kit::Mp3SoundEncoder> encoder = new kit::Mp3SoundEncoder(path, &format);
    auto data = reinterpret_cast<const uint8_t*>(pcm.data());
    uint32_t total = static_cast<uint32_t>(pcm.size() * 2);
    for (uint32_t at = 0; at < total; at += kBlockBytes)
        encoder->encodeChunk(kit::Chunk{data + at, std::min(kBlockBytes, total - at), nullptr});
    encoder->close();
    return secondsNow() - start;
}

double cliSeconds(const std::string& folder) {
    std::string command = "s=$(date +%s%N); lame --quiet " + lameCliOptions(128) +
                          " in.wav cli.mp3 || exit 1; e=$(date +%s%N); echo elapsed_ns=$((e - s))";
    NativeResult r = runNative(folder, command, 300000);
    auto at = r.output.find("elapsed_ns=");
    if (!r.finished || r.exitCode != 0 || at == std::string::npos) {
        std::printf("lame command line failed (%d): %s\n", r.exitCode, r.output.c_str());
        return -1;
    }
    return std::stod(r.output.substr(at + 11)) / 1e9;
}

}  // namespace

int main() {
    TempDir dir;
    std::vector<int16_t> pcm = musicLikeSignal(kSeconds);
    writeWav(dir.file("in.wav"), pcm);

    double encoder = 1e9, cli = 1e9;
    try {
        for (int i = 0; i < kRuns; ++i) {
            encoder = std::min(encoder, encoderSeconds(dir.file("encoder.mp3"), pcm));
            double c = cliSeconds(dir.path());
            if (c < 0) return 1;
            cli = std::min(cli, c);
        }
    } catch (const kit::Exception& e) {
        std::printf("encoder failed: %s\n", e.message().c_str());
        return 1;
    }
    // The same library with the same settings should give the same file.
    bool same = readFile(dir.file("encoder.mp3")) == readFile(dir.file("cli.mp3"));
    std::printf("mp3 sizes: encoder=%lld lame_cli=%lld bytes (%s); best of %d runs: encoder %.3f s, lame_cli %.3f s\n",
                static_cast<long long>(fileSize(dir.file("encoder.mp3"))),
                static_cast<long long>(fileSize(dir.file("cli.mp3"))), same ? "identical" : "different", kRuns, encoder,
                cli);
    double encoderRate = kSeconds / encoder, cliRate = kSeconds / cli;
    std::printf("bench mp3: arch=%s encoder_x_realtime=%.1f lame_cli_x_realtime=%.1f ratio=%.2f\n",
                testsupport::kTargetArch, encoderRate, cliRate, encoderRate / cliRate);
    return 0;
}
