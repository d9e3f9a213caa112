#include "diagnostics/eventlog.h"

#include <windows.h>
#include <share.h>
#include <shlobj.h>
#include <winternl.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "diagnostics/diag_thread.h"
#include "diagnostics/event_format.h"
#include "diagnostics/event_ring.h"
#include "diagnostics/problem_windows.h"
#include "diagnostics/shell_open.h"
#include "kit/exceptions.h"
#include "kit/last_error.h"
#include "kit/scoped.h"
#include "kit/text_code.h"
#include "kit/threads.h"

namespace fw {
namespace {

constexpr int kFormatBuffer = 10240;
constexpr std::size_t kOutputBytes = 102400;

constexpr UINT kIdApplicationName = 9870;
constexpr UINT kIdProductName = 9871;
constexpr UINT kIdLibraryName = 9872;
constexpr UINT kIdEventsFile = 9874;
constexpr UINT kIdProblemText = 9875;

struct Texts {
    char application[251];
    char product[251];
    char library[251];
    char eventsFile[261];
    char problem[2049];
    char eventsPath[3 * MAX_PATH + 1];  // UTF-8: up to three bytes a character
};

// Everything the log needs after initialisation; allocated once and never
// freed, so that logging during static destruction stays safe.
struct LogState {
    Texts texts{};
    EventRing base{"base"};
    EventRing verbose{"verbose"};
    char* output = nullptr;
    uint32_t lostOnOutput[2] = {0, 0};
    EventPrinter printer;
    std::FILE* file = nullptr;
    DWORD tlsFile = TLS_OUT_OF_INDEXES, tlsLine = TLS_OUT_OF_INDEXES, tlsLevel = TLS_OUT_OF_INDEXES;
    DWORD threadId = 0;
    std::atomic<bool> holdWriting{false};
};

LogState* g = nullptr;
std::atomic<int> stateWord{0};  // 0 not started, 1 starting, 2 ready
std::mutex startLock;
std::atomic<uint32_t> sequence{0};
std::atomic<bool> eventLogShown{false};
std::atomic<DWORD> initialisingThread{0};

void loadText(UINT id, char* buffer, int size, const char* fallback) {
    if (::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, size) <= 0) {
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", fallback);
    }
}

void loadTexts(Texts& t) {
    wchar_t wideExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, wideExe, MAX_PATH);
    std::string exeName = kit::narrow(wideExe);
    const char* exe = exeName.c_str();
    const char* base = exe;
    for (const char* p = exe; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    char stem[3 * MAX_PATH];
    std::snprintf(stem, sizeof stem, "%s", base);
    if (char* dot = std::strrchr(stem, '.')) *dot = '\0';

    loadText(kIdApplicationName, t.application, sizeof t.application, stem);
    loadText(kIdProductName, t.product, sizeof t.product, t.application);
    loadText(kIdLibraryName, t.library, sizeof t.library, "Field Watch");
    char defaultFile[300];
    std::snprintf(defaultFile, sizeof defaultFile, "%s Logged Events.txt", t.product);
    loadText(kIdEventsFile, t.eventsFile, sizeof t.eventsFile, defaultFile);
    char defaultProblem[2048];
    std::snprintf(defaultProblem, sizeof defaultProblem,
                  "%s seems to be experiencing problems. If you think the program works incorrectly, click below "
                  "to send the information about this problem to the developers.",
                  t.product);
    loadText(kIdProblemText, t.problem, sizeof t.problem, defaultProblem);
}

bool findEventsPath(Texts& t) {
    wchar_t wideFolder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, wideFolder, CSIDL_APPDATA, TRUE)) return false;
    std::string folder = kit::narrow(wideFolder);
    const char* slash = !folder.empty() && (folder.back() == '\\' || folder.back() == '/') ? "" : "\\";
    std::snprintf(t.eventsPath, sizeof t.eventsPath, "%s%s%s", folder.c_str(), slash, t.eventsFile);
    return true;
}

void flushEvents();
DWORD WINAPI diagnosticsThread(void* startedEvent);

void initialise() {
    auto* state = new (std::nothrow) LogState;
    if (!state) fatalStop("Field Watch failed to allocate buffers: not enough memory");
    loadTexts(state->texts);
    state->output = static_cast<char*>(std::malloc(kOutputBytes));
    if (!state->output || !state->base.allocate() || !state->verbose.allocate())
        fatalStop("Field Watch failed to allocate buffers: not enough memory");
    if (!findEventsPath(state->texts)) fatalStop("Field Watch failed to find Application Data directory");

    state->tlsFile = ::TlsAlloc();
    state->tlsLine = ::TlsAlloc();
    state->tlsLevel = ::TlsAlloc();
    if (state->tlsLevel == TLS_OUT_OF_INDEXES || state->tlsLine == TLS_OUT_OF_INDEXES ||
        state->tlsFile == TLS_OUT_OF_INDEXES)
        throw kit::WindowsError("TlsAlloc failed");
    g = state;

    if (!initialiseProblemWindows()) fatalStop("Field Watch failed to initialize warnings subsystem");

    // UTF-8 with its mark; a file an earlier version wrote in the system's
    // code page is converted once. Shared for reading and writing: the user
    // may open the file while we run.
    kit::makeUtf8TextFile(state->texts.eventsPath);
    state->file = ::_fsopen(state->texts.eventsPath, "a", _SH_DENYNO);

    kit::WCondition started;
    kit::ScopedHandle thread(
        ::CreateThread(nullptr, 0, &diagnosticsThread, started.nativeHandle(), 0, &state->threadId));
    if (!thread) throw kit::WindowsError("CreateThread failed");
    started.wait();
}

// ---- per-thread context ------------------------------------------------------------
//
// The four values sit in thread-local slots. The first 64 slots live in the
// thread's own environment block, where they are read and written directly:
// every logging call touches them, and TlsGetValue would also clear the
// caller's last error.

// The platform's NtCurrentTeb reads the block through the segment register of
// the target (fs on x86, gs on x64); GCC takes that read for an access at a
// small constant address and warns where it is inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
TEB* currentTeb() noexcept { return NtCurrentTeb(); }

void* tlsGet(DWORD slot) noexcept {
    if (slot < 64) return currentTeb()->TlsSlots[slot];
    kit::KeepLastError keep;
    return ::TlsGetValue(slot);
}

void tlsSet(DWORD slot, void* value) noexcept {
    if (slot < 64)
        currentTeb()->TlsSlots[slot] = value;
    else
        ::TlsSetValue(slot, value);
}

intptr_t tlsGetInt(DWORD slot) noexcept { return reinterpret_cast<intptr_t>(tlsGet(slot)); }
void tlsSetInt(DWORD slot, intptr_t value) noexcept { tlsSet(slot, reinterpret_cast<void*>(value)); }
#pragma GCC diagnostic pop

void ensureReady() {
    if (stateWord.load(std::memory_order_acquire) != 2) ensureDiagnostics();
}

// ---- logging ---------------------------------------------------------------------

void store(const char* name, int level, const char* text, std::size_t textLength) {
    const char* file = static_cast<const char*>(tlsGet(g->tlsFile));
    int line = static_cast<int>(tlsGetInt(g->tlsLine));
    EventRing& ring = isVerboseLevel(level) ? g->verbose : g->base;
    uint32_t tick = ::GetTickCount();
    std::size_t nameLength = std::strlen(name);
    ring.lock();
    ring.store(file, line, level, name, nameLength, text, textLength, tick,
               [] { return sequence.fetch_add(1, std::memory_order_relaxed) + 1; });
    ring.unlock();
}

void logV(const char* name, int level, const char* format, va_list args) {
    char text[kFormatBuffer];
    int n = std::vsnprintf(text, sizeof text, format ? format : "", args);
    std::size_t length = n < 0 ? 0 : (n >= kFormatBuffer ? kFormatBuffer - 1 : static_cast<std::size_t>(n));
    store(name ? name : "", level, text, length);

    switch (level) {
    case LEVEL_ERR:
        if (::GetCurrentThreadId() != g->threadId) {
            kit::KeepLastError keep;
            requestNotice(programNotice(), true);
        }
        break;
    case LEVEL_FATAL: throw FwException();
    case LEVEL_ASSERT: throw FwAssertionFailure();
    default: break;
    }
}

// ---- the diagnostics thread -----------------------------------------------------------

void writeOutput(const OutputBuffer& out) {
    if (!g->file || out.size() == 0) return;
    if (::GetACP() != CP_UTF8) {  // a system older than the UTF-8 code page: the file stays UTF-8
        std::string text = kit::toUtf8(std::string_view(out.begin(), out.size()));
        std::fwrite(text.data(), 1, text.size(), g->file);
        std::fflush(g->file);
        return;
    }
    std::fwrite(out.begin(), 1, out.size(), g->file);
    std::fflush(g->file);
}

void flushEvents() {
    EventRing* rings[2] = {&g->base, &g->verbose};
    OutputBuffer out(g->output, kOutputBytes);
    rings[0]->lock();
    rings[1]->lock();
    uint32_t endDrops[2] = {rings[0]->takeDropped(), rings[1]->takeDropped()};
    bool held[2] = {true, true};
    for (int i = 0; i < 2; ++i) {
        if (rings[i]->empty()) {
            rings[i]->unlock();
            held[i] = false;
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (g->lostOnOutput[i] > 0 && EventPrinter::printDiscarded(out, g->lostOnOutput[i], rings[i]->name()))
            g->lostOnOutput[i] = 0;
    }
    while (held[0] || held[1]) {
        int i = !held[0] ? 1 : !held[1] ? 0 : (rings[0]->head().sequence < rings[1]->head().sequence ? 0 : 1);
        EventRing& ring = *rings[i];
        const EventRecord& record = ring.head();
        if (record.discardedBefore > 0 && !EventPrinter::printDiscarded(out, record.discardedBefore, ring.name()))
            endDrops[i] += record.discardedBefore;
        if (!g->printer.printRecord(out, record)) ++g->lostOnOutput[i];
        ring.popHead();  // after printing: the record's texts live in the ring
        if (ring.empty()) {
            ring.unlock();
            held[i] = false;
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (endDrops[i] > 0 && !EventPrinter::printDiscarded(out, endDrops[i], rings[i]->name()))
            g->lostOnOutput[i] += endDrops[i];
    }
    writeOutput(out);
}

void handleThreadMessage(const MSG& msg) {
    switch (msg.message) {
    case detail::kNoticeRequest:
    case detail::kCloseProblemWindows: handleNoticeThreadMessage(msg.message, msg.wParam, msg.lParam); break;
    case detail::kFlushNow:
        flushEvents();
        ::SetEvent(reinterpret_cast<HANDLE>(msg.lParam));
        break;
    default: break;
    }
}

DWORD WINAPI diagnosticsThread(void* startedEvent) {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // creates the message queue
    ::SetEvent(static_cast<HANDLE>(startedEvent));
    for (;;) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return 0;
            if (msg.hwnd) {
                // The problem windows' own messages are sent, never posted:
                // a posted one came from elsewhere and is dropped.
                if (msg.message >= WM_USER && msg.message < 0xC000) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            } else {
                handleThreadMessage(msg);
            }
        }
        if (!g->holdWriting.load(std::memory_order_relaxed)) flushEvents();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
}

}  // namespace

// ---- public operations ---------------------------------------------------------------

void ensureDiagnostics() {
    for (;;) {
        int expected = 0;
        if (stateWord.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            std::lock_guard<std::mutex> starting(startLock);
            initialisingThread.store(::GetCurrentThreadId());
            try {
                initialise();
            } catch (...) {
                fatalStop("Field Watch faced an exception during initialization");
            }
            stateWord.store(2, std::memory_order_release);
            return;
        }
        if (expected == 2) return;
        // The initialising thread itself may log once the buffers exist.
        if (initialisingThread.load() == ::GetCurrentThreadId() && g) return;
        ::Sleep(50);
        std::lock_guard<std::mutex> waitForTheStart(startLock);
    }
}

// None of the logging operations changes the caller's last error.
void setTraceOrigin(const char* file, int line) noexcept {
    ensureReady();
    tlsSet(g->tlsFile, const_cast<char*>(file));
    tlsSetInt(g->tlsLine, line);
}

void setEventLevel(int level) noexcept {
    ensureReady();
    tlsSetInt(g->tlsLevel, level);
}

void trace(const char* format, ...) {
    ensureReady();
    tlsSetInt(g->tlsLevel, LEVEL_TRACE);
    va_list args;
    va_start(args, format);
    logV("Trace", LEVEL_TRACE, format, args);
    va_end(args);
}

void logEvent(const char* name, const char* format, ...) {
    ensureReady();
    int level = static_cast<int>(tlsGetInt(g->tlsLevel));
    va_list args;
    va_start(args, format);
    try {
        logV(name, level, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void assertionFailed(const char* expression) {
    setEventLevel(LEVEL_ASSERT);
    logEvent("AssertionFailed", "failed assertion = %s", expression);
    throw FwAssertionFailure();  // not reached: storing the event throws
}

void assertionFailed(const char* file, int line, const char* expression) {
    setTraceOrigin(file, line);
    assertionFailed(expression);
}

void showEventLog() {
    ensureReady();
    if (eventLogShown.exchange(true)) return;
    shellOpen(g->texts.eventsPath);
}

void fatalStop(const char* text) {
    char message[1024];
    std::snprintf(message, sizeof message,
                  "The program you are trying to run faced such big troubles that it cannot continue running. We "
                  "are really sorry.\n\nPlease contact the support team, and tell them that the following problem "
                  "has occured:\n\t%s\n\nThank you for your help.",
                  text);
    ::MessageBoxA(nullptr, message, "Error", MB_OK);
    ::ExitProcess(13);
}

std::string eventsFilePath() {
    ensureReady();
    return g->texts.eventsPath;
}

const char* applicationName() {
    ensureReady();
    return g->texts.application;
}
const char* productName() {
    ensureReady();
    return g->texts.product;
}
const char* libraryName() {
    ensureReady();
    return g->texts.library;
}
const char* problemText() {
    ensureReady();
    return g->texts.problem;
}

bool flush(unsigned long timeoutMs) {
    ensureReady();
    kit::ScopedHandle done(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!done) return false;
    while (!::PostThreadMessageA(g->threadId, detail::kFlushNow, 0, reinterpret_cast<LPARAM>(done.get()))) ::Sleep(5);
    if (::WaitForSingleObject(done.get(), timeoutMs) == WAIT_OBJECT_0) return true;
    // The diagnostics thread still sets the event later: it stays open.
    done.detach();
    return false;
}

namespace detail {
DWORD diagnosticsThreadId() noexcept { return g ? g->threadId : 0; }
}  // namespace detail

namespace testing {

void flushNow() { fw::flush(INFINITE); }

void holdWriting(bool hold) {
    ensureReady();
    g->holdWriting.store(hold);
}

}  // namespace testing
}  // namespace fw
