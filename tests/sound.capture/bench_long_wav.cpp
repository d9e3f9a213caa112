// Benchmark: a WAV recording past the 4 GiB RIFF limit, for real, at many
// times real time: the scripted device delivers blocks as fast as the
// recorder takes them, through the recorder, the encoding stream and the WAV
// encoder, which goes on in a continuation file. Then every part is read
// back: each header must match its data, and the parts together must hold
// exactly the frames fed, in order (every frame carries its own number).
//
// Prints: bench long_wav: arch=... parts=N bytes=B lost_samples=L mb_per_s=R
// (R: recorded bytes per second of wall time while recording). Needs about
// 4.3 GB of free disk in the temporary folder for the run.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "support/support.h"

namespace {

using namespace testsupport;

constexpr unsigned kBlockMs = 10000;  // large blocks: the stream encodes one per pass
constexpr uint32_t kBlockBytes = 1764000;
constexpr uint64_t kTotalBytes = 0x100000000ull + 40 * uint64_t{kBlockBytes};  // 4 GiB and 400 s more

uint32_t constantTicks() { return 1; }  // no completion ever looks slow

// Frame f holds its own number: left the low 16 bits, right the high 16 bits.
void fillFrames(std::vector<int16_t>& block, uint64_t firstFrame) {
    for (std::size_t i = 0; i < block.size() / 2; ++i) {
        uint32_t f = static_cast<uint32_t>(firstFrame + i);
        block[2 * i] = static_cast<int16_t>(f & 0xFFFF);
        block[2 * i + 1] = static_cast<int16_t>(f >> 16);
    }
}

struct Check {
    uint32_t parts = 0;
    uint64_t bytes = 0;
    uint64_t framesInOrder = 0;  // frames read back that carry the expected number
    bool headersMatch = true;
};

// Reads every part back, frame by frame.
Check readBack(const std::string& first) {
    Check c;
    std::vector<char> buffer(8 << 20);
    bool inOrder = true;
    for (uint32_t n = 1;; ++n) {
        std::string path = n == 1 ? first : kit::wavePartName(first, n);
        HANDLE f = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) break;
        ++c.parts;
        LARGE_INTEGER size{};
        ::GetFileSizeEx(f, &size);
        uint8_t header[44] = {};
        DWORD got = 0;
        ::ReadFile(f, header, 44, &got, nullptr);
        uint32_t riff = 0, data = 0;
        std::memcpy(&riff, header + 4, 4);
        std::memcpy(&data, header + 40, 4);
        auto expected = kit::waveHeader(kit::kRecordingFormat, data);
        if (got != 44 || std::memcmp(header, expected.data(), 44) != 0 ||
            uint64_t{data} + 44 != uint64_t(size.QuadPart))
            c.headersMatch = false;
        uint64_t left = data;
        while (
            left > 0 &&
            ::ReadFile(f, buffer.data(), static_cast<DWORD>(std::min<uint64_t>(left, buffer.size())), &got, nullptr) &&
            got > 0) {
            for (DWORD i = 0; inOrder && i + 4 <= got; i += 4) {
                uint16_t lo, hi;
                std::memcpy(&lo, &buffer[i], 2);
                std::memcpy(&hi, &buffer[i + 2], 2);
                if ((uint32_t{hi} << 16 | lo) == static_cast<uint32_t>(c.framesInOrder))
                    ++c.framesInOrder;
                else
                    inOrder = false;
            }
            left -= got;
            c.bytes += got;
        }
        ::CloseHandle(f);
    }
    return c;
}

}  // namespace

int main() {
    TempDir dir;
    std::string path = dir.file("long.wav");
    ScriptedWaveIn device;
    kit::smartptr<kit::GenericSoundEncodingStream> stream(new kit::GenericSoundEncodingStream(
        kit::smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &kit::kRecordingFormat))));
    kit::smartptr<kit::SoundRecorder> recorder(
        new kit::SoundRecorder(stream, kit::kRecordingFormat, 1.0, kBlockMs, 60000, device, &constantTicks));
    recorder->start();

    std::vector<int16_t> block(kBlockBytes / 2);
    LARGE_INTEGER frequency, started, ended;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&started);
    uint64_t fed = 0;
    while (fed < kTotalBytes) {
        // As fast as the file takes it, but never faster: a real device keeps
        // its pace, and blocks beyond the recorder's backlog would be dropped.
        while (fed > recorder->bytesDelivered() + 4 * uint64_t{kBlockBytes}) ::Sleep(1);
        fillFrames(block, fed / 4);
        if (!device.deliverData(block.data(), kBlockBytes, 60000)) {
            std::printf("the recorder took no block for a minute after %llu bytes\n",
                        static_cast<unsigned long long>(fed));
            return 1;
        }
        fed += kBlockBytes;
    }
    recorder->finish();
    stream->finish();
    ::QueryPerformanceCounter(&ended);
    uint32_t dropped = recorder->blocksDropped();
    recorder.reset();
    stream.reset();
    double seconds = double(ended.QuadPart - started.QuadPart) / double(frequency.QuadPart);

    Check c = readBack(path);
    uint64_t lost = fed / 4 - c.framesInOrder + (c.bytes / 4 - c.framesInOrder);
    std::printf(
        "bench long_wav: arch=%s parts=%u bytes=%llu lost_samples=%llu mb_per_s=%.1f headers=%s dropped_blocks=%u\n",
        kTargetArch, c.parts, static_cast<unsigned long long>(c.bytes), static_cast<unsigned long long>(lost),
        fed / seconds / 1e6, c.headersMatch ? "match" : "WRONG", dropped);
    return c.parts >= 2 && lost == 0 && c.bytes == fed && c.headersMatch ? 0 : 1;
}
