// Cost of one trace call beside the cost of formatting the same text with
// snprintf, and heap allocations per event once the log runs.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "diagnostics/eventlog.h"
#include "support/support.h"

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
}

namespace {
std::atomic<long> allocations{0};
}

extern "C" {
void* __wrap_malloc(size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_malloc(n);
}
void* __wrap_calloc(size_t n, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_calloc(n, size);
}
void* __wrap_realloc(void* p, size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __real_realloc(p, n);
}
}

namespace {

constexpr const char* kTraceSource = "tests/bench_eventlog";
constexpr int kBatch = 400;  // well inside the 999 records a buffer holds between passes
constexpr int kBatches = 300;

double nowNs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1e9 / static_cast<double>(frequency.QuadPart);
}

// What any logging call must do at least: format the text into a stack buffer.
__attribute__((noinline)) int formatOnStack(int i) {
    char text[10240];
    int n = std::snprintf(text, sizeof text, "frame %d of %s", i, "take1.wav");
    asm volatile("" : : "r"(text) : "memory");
    return n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs `call` kBatch times spread over `threads` threads and answers the
// time per call.
template <class Call>
double batch(int threads, Call call) {
    std::atomic<int> ready{0};
    std::vector<double> spans(threads);
    auto body = [&](int t) {
        ready.fetch_add(1);
        while (ready.load() < threads) {}
        double start = nowNs();
        for (int i = 0; i < kBatch / threads; ++i) call(i);
        spans[t] = nowNs() - start;
    };
    if (threads == 1) {
        body(0);
    } else {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) workers.emplace_back(body, t);
        for (auto& w : workers) w.join();
    }
    return *std::max_element(spans.begin(), spans.end()) / (kBatch / threads);
}

}  // namespace

int main() {
    fw::ensureDiagnostics();
    fw::testing::holdWriting(true);  // passes only between batches
    // The three measurements take turns, batch by batch, so that they see the
    // same machine; the log is written out between batches so that every call
    // stores its event.
    std::vector<double> snprintfRuns, traceRuns, trace2Runs, ratios;
    fw::setTraceOrigin(kTraceSource, __LINE__);
    for (int b = 0; b < kBatches; ++b) {
        double base = batch(1, [](int i) { formatOnStack(i); });
        fw::testing::flushNow();
        double one = batch(1, [](int i) { fw::trace("frame %d of %s", i, "take1.wav"); });
        fw::testing::flushNow();
        double two = batch(2, [](int i) {
            fw::setTraceOrigin(kTraceSource, __LINE__);
            fw::trace("frame %d of %s", i, "take1.wav");
        });
        fw::testing::flushNow();
        fw::setTraceOrigin(kTraceSource, __LINE__);
        snprintfRuns.push_back(base);
        traceRuns.push_back(one);
        trace2Runs.push_back(two);
        ratios.push_back(one / base);
    }
    double snprintfNs = median(snprintfRuns), traceNs = median(traceRuns), trace2Ns = median(trace2Runs);

    fw::testing::flushNow();
    const int events = 20000;
    long before = allocations.load();
    for (int i = 0; i < events; ++i) {
        FW_TRACE("frame %d of %s", i, "take1.wav");
        if (i % 500 == 499) {
            long paused = allocations.load();
            fw::testing::flushNow();  // the writer's own work is not the caller's cost
            before += allocations.load() - paused;
        }
    }
    double allocsPerEvent = static_cast<double>(allocations.load() - before) / events;

    std::printf("trace from one thread %.0f ns, from two threads %.0f ns, snprintf %.0f ns\n", traceNs, trace2Ns,
                snprintfNs);
    std::printf(
        "bench eventlog: arch=%s trace_ns=%.0f trace_two_threads_ns=%.0f snprintf_ns=%.0f ratio=%.2f "
        "allocs_per_event=%g\n",
        testsupport::kTargetArch, traceNs, trace2Ns, snprintfNs, median(ratios), allocsPerEvent);
    return 0;
}
