// How long showing and hiding a problem window takes: the request as the
// caller waits for it, and the slide as seen on the screen.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "diagnostics/eventlog.h"
#include "support/support.h"
#include "diagnostics/problem_windows.h"

namespace {

HWND findFrame() {
    HWND frame = nullptr;
    while ((frame = ::FindWindowExA(nullptr, frame, fw::problem_window::kFrameClass, nullptr))) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(frame, &process);
        if (process == ::GetCurrentProcessId()) return frame;
    }
    return nullptr;
}

struct Round {
    double requestMs;  // until requestNotice returned
    double slideMs;    // first visible position to the last one
};

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Round measure(fw::ProblemNotice& notice, bool show) {
    std::atomic<bool> done{false};
    double start = now(), returned = 0;
    std::thread worker([&] {
        fw::requestNotice(notice, show);
        returned = now();
        done = true;
    });
    HWND frame = nullptr;
    RECT last{};
    double firstMove = -1, lastMove = -1;
    while (!done) {
        if (!frame) frame = findFrame();
        RECT r;
        if (frame && ::IsWindowVisible(frame) && ::GetWindowRect(frame, &r) && std::memcmp(&r, &last, sizeof r) != 0) {
            last = r;
            double t = now();
            if (firstMove < 0) firstMove = t;
            lastMove = t;
        }
        ::Sleep(0);
    }
    worker.join();
    return {returned - start, firstMove < 0 ? 0 : lastMove - firstMove};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
    fw::ensureDiagnostics();
    std::vector<double> showRequest, slideIn, hideRequest, slideOut;
    for (int i = 0; i < 7; ++i) {
        fw::ProblemNotice notice;
        notice.setText("A benchmark notice.");
        Round in = measure(notice, true);
        Round out = measure(notice, false);
        showRequest.push_back(in.requestMs);
        slideIn.push_back(in.slideMs);
        hideRequest.push_back(out.requestMs);
        slideOut.push_back(out.slideMs);
    }
    std::printf(
        "bench problem_window: arch=%s show_request_ms=%.0f slide_in_ms=%.0f hide_request_ms=%.0f slide_out_ms=%.0f "
        "rounds=%zu\n",
        testsupport::kTargetArch, median(showRequest), median(slideIn), median(hideRequest), median(slideOut),
        showRequest.size());
    return 0;
}
