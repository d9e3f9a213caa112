// The end of the Windows session with a full backlog: the options dialog has
// been open for a minute (everything recorded waits in memory) when Windows
// asks whether the session may end and then ends it. How long the program
// takes from the question to its answer to the end, which is when the
// recording is complete (WAV and MP3 at 128 kbit/s). The Gui runs in this
// process with the real engine and a scripted device that delivers the minute
// at once.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "driver.h"
#include "program.h"
#include "resource.h"
#include "sound.capture/scripted_wave_in.h"
#include "support/bed_audio.h"
#include "support/support.h"
#include "win.gui/gui.h"

using namespace testsupport;

namespace {

constexpr int kBacklogBlocks = 600;  // 60 s of 100 ms blocks

struct Run {
    bool ok = false;
    double finishMs = 0;
};

double msSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

Run endWithBacklog(const TempDir& dir, int format, const char* name) {
    program::prepareSettings(dir.path(), format);
    ScriptedWaveIn device;
    device.setSource(pseudoRandomSignal(static_cast<std::size_t>(kRate) * 61, 2024));
    Run run;
    {
        Gui gui(::GetModuleHandleA(nullptr), {&device});
        gui.initialize("sonotape.exe", SW_SHOWNORMAL);
        HWND main = gui.getMainWindow()->getHandle();
        std::atomic<bool> done{false};
        std::thread user([&] {
            HWND options = driver::waitWindow(::GetCurrentProcessId(), "#32770", "File save...", 10000);
            if (options) {
                driver::typeInto(options, IDC_PATH, dir.file(name));
                bool delivered = true;
                for (int i = 0; i < kBacklogBlocks && delivered; ++i)
                    delivered = device.waitQueued(1) && device.deliverFull();
                LARGE_INTEGER asked;
                ::QueryPerformanceCounter(&asked);
                LRESULT may = ::SendMessageA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
                ::SendMessageA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
                run.finishMs = msSince(asked);
                run.ok = delivered && may == TRUE;
            }
            done = true;
        });
        gui.toggleRecording();  // the dialog's loop, on this thread
        waitUntil([&] { return done.load(); }, 120000);
        user.join();
    }
    return run;
}

}  // namespace

int main() {
    TempDir dir;
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    ::SetCurrentDirectoryA(dir.path().c_str());  // log.txt goes there
    Run wav = endWithBacklog(dir, engine::FORMAT_WAV, "backlog.wav");
    Run mp3 = endWithBacklog(dir, engine::FORMAT_MP3_128, "backlog.mp3");
    WavFile file = readWav(dir.file("backlog.wav"));
    bool whole = file.valid && file.dataSize >= kBacklogBlocks * 17640u && file.riffSize == file.dataSize + 36;
    int64_t mp3Bytes = fileSize(dir.file("backlog.mp3"));
    bool logged = withUnixLineEnds(readFile("log.txt")).find("backlog.mp3") != std::string::npos;
    ::SetCurrentDirectoryA(cwd);
    program::removeRunEntry();
    bool ok = wav.ok && mp3.ok && whole && mp3Bytes > 900000 && logged;
    std::printf("bench end_session: arch=%s finish_ms=%.0f wav_ms=%.0f mp3_ms=%.0f backlog_s=%d ok=%d\n", kTargetArch,
                std::max(wav.finishMs, mp3.finishMs), wav.finishMs, mp3.finishMs, kBacklogBlocks / 10, ok ? 1 : 0);
    return ok ? 0 : 1;
}
