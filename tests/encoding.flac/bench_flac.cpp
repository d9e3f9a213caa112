// How fast the FLAC encoder (level 5) turns 10 minutes of 44.1 kHz stereo PCM
// into FLAC and how much smaller it gets, next to the host's flac command line
// at the same level on the same audio as a WAV file (in the Debian 13 test
// root that is flac 1.5, natively; libFLAC here is Debian 12's 1.4.2 under Wine).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "encoding.flac/flac_encoding.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "support/support.h"

namespace {

using namespace testsupport;

constexpr double kSeconds = 600.0;
constexpr uint32_t kBlockBytes = 17640;  // 100 ms, as the capture delivers
constexpr int kRuns = 3;                 // the best of three, for both

double encoderSeconds(const std::string& path, const std::vector<int16_t>& pcm) {
    kit::SoundFormat format = kit::kRecordingFormat;
    double start = secondsNow();
    kit::smartptr<kit::FlacSoundEncoder> encoder = new kit::FlacSoundEncoder(path, &format);
    auto data = reinterpret_cast<const uint8_t*>(pcm.data());
    uint32_t total = static_cast<uint32_t>(pcm.size() * 2);
    for (uint32_t at = 0; at < total; at += kBlockBytes)
        encoder->encodeChunk(kit::Chunk{data + at, std::min(kBlockBytes, total - at), nullptr});
    encoder->close();
    return secondsNow() - start;
}

// The host's flac at level 5, timed by the host; -1 when it is not there.
double cliSeconds(const std::string& folder, std::string& version) {
    NativeResult v = runNative(folder, "flac --version", 60000);
    if (!v.finished || v.exitCode != 0) return -1;
    version = v.output.substr(0, v.output.find_first_of("\r\n"));
    for (char& c : version)
        if (c == ' ') c = '-';
    std::string command =
        "s=$(date +%s%N); flac --silent -f -5 -o cli.flac in.wav || exit 1; e=$(date +%s%N); "
        "echo elapsed_ns=$((e - s))";
    NativeResult r = runNative(folder, command, 600000);
    auto at = r.output.find("elapsed_ns=");
    if (!r.finished || r.exitCode != 0 || at == std::string::npos) {
        std::printf("flac command line failed (%d): %s\n", r.exitCode, r.output.c_str());
        return -1;
    }
    return std::stod(r.output.substr(at + 11)) / 1e9;
}

}  // namespace

int main() {
    TempDir dir;
    std::vector<int16_t> pcm = musicLikeSignal(kSeconds);
    writeWav(dir.file("in.wav"), pcm);
    double encoder = 1e9;
    try {
        for (int i = 0; i < kRuns; ++i) encoder = std::min(encoder, encoderSeconds(dir.file("encoder.flac"), pcm));
    } catch (const kit::Exception& e) {
        std::printf("encoder failed: %s\n", e.message().c_str());
        return 1;
    }
    double flacBytes = static_cast<double>(fileSize(dir.file("encoder.flac")));
    double wavBytes = static_cast<double>(fileSize(dir.file("in.wav")));
    double rate = kSeconds / encoder;
    std::string version;
    double cli = 1e9;
    for (int i = 0; i < kRuns && cli > 0; ++i) {
        double c = cliSeconds(dir.path(), version);
        cli = c < 0 ? c : std::min(cli, c);
    }
    std::string versus;
    if (cli > 0) {
        char text[160];
        std::snprintf(text, sizeof text, " ratio_vs_flac_cli=%.2f flac_cli=%s cli_size_ratio=%.4f",
                      rate / (kSeconds / cli), version.c_str(),
                      static_cast<double>(fileSize(dir.file("cli.flac"))) / wavBytes);
        versus = text;
    }
    std::printf("bench flac: arch=%s level=%u x_realtime=%.1f size_ratio=%.4f%s\n", testsupport::kTargetArch,
                kit::kFlacLevel, rate, flacBytes / wavBytes, versus.c_str());
    return 0;
}
