// Notices, the registry of shown notices and the problem-window slots.
#include "diagnostics/problem_windows.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "diagnostics/diag_thread.h"
#include "diagnostics/eventlog.h"
#include "diagnostics/problem_internal.h"
#include "kit/scoped.h"

namespace fw {
namespace {

constexpr const char* kTraceSource = "diagnostics/problem_windows";
constexpr int kMaxNoticeText = 10240;
constexpr int kSlots = 15;
constexpr int kRegistrySlots = 20;

namespace pw = problem_window;

// The windows lock guards the slot table and every slot operation. It is
// recursive: a slot operation sends messages to the frame and panel, which
// may come back to the slots on the same thread.
// It lives as long as the process: a failing thread may still use it at exit.
std::recursive_mutex& windowsLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}
using WindowsLock = std::lock_guard<std::recursive_mutex>;

detail::ProblemSlot slots[kSlots];
ProblemNotice* shownNotices[kRegistrySlots];
detail::ProblemResources resources;
HWND hiddenParent = nullptr;  // diagnostics thread only

bool onDiagnosticsThread() { return ::GetCurrentThreadId() == detail::diagnosticsThreadId(); }

// Requests waiting for the diagnostics thread. Its thread message carries
// only the request's number; the notice is looked up here, so a message from
// anywhere else finds nothing, and a request the caller stopped waiting for
// is dropped.
constexpr int kRequestSlots = 16;
constexpr DWORD kRequestWaitMs = 2000;
struct Request {
    long number = 0;
    ProblemNotice* notice = nullptr;
    bool show = false;
};
SRWLOCK requestLock = SRWLOCK_INIT;
Request pendingRequests[kRequestSlots];
long lastRequestNumber = 0;

long enqueueRequest(ProblemNotice& notice, bool show) {
    ::AcquireSRWLockExclusive(&requestLock);
    long number = 0;
    for (Request& r : pendingRequests) {
        if (r.number != 0) continue;
        if (++lastRequestNumber <= 0) lastRequestNumber = 1;
        r = Request{lastRequestNumber, &notice, show};
        number = r.number;
        break;
    }
    ::ReleaseSRWLockExclusive(&requestLock);
    return number;
}

// Takes the request out of the table; false when it is not (or no longer) there.
bool takeRequest(long number, Request* taken = nullptr) {
    if (number == 0) return false;
    ::AcquireSRWLockExclusive(&requestLock);
    bool found = false;
    for (Request& r : pendingRequests) {
        if (r.number != number) continue;
        if (taken) *taken = r;
        r = Request{};
        found = true;
        break;
    }
    ::ReleaseSRWLockExclusive(&requestLock);
    return found;
}

// The parent of every problem window, so that they get no taskbar buttons.
// It is made on the diagnostics thread, which owns the problem windows: a
// parent on another thread would take them down when that thread ends.
HWND parentWindow() {
    if (!hiddenParent)
        hiddenParent = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                         ::GetModuleHandleA(nullptr), nullptr);
    return hiddenParent;
}

void registerShown(ProblemNotice& notice, bool shown) {
    WindowsLock lock(windowsLock());
    ProblemNotice** free = nullptr;
    for (auto& entry : shownNotices) {
        if (entry == &notice) {
            if (!shown) entry = nullptr;
            return;
        }
        if (!entry && !free) free = &entry;
    }
    if (shown && free) *free = &notice;
}

// The report that ends the process belongs in the file the user is shown:
// the diagnostics thread writes what is pending before the file is opened.
void writePendingEvents() {
    DWORD thread = detail::diagnosticsThreadId();
    if (!thread || onDiagnosticsThread()) return;
    kit::ScopedHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done || !::PostThreadMessageA(thread, detail::kFlushNow, 0, reinterpret_cast<LPARAM>(done.get()))) return;
    // A thread that does not answer in time may still set the event: it is left to it.
    if (::WaitForSingleObject(done.get(), 5000) != WAIT_OBJECT_0) done.detach();
}

}  // namespace

// ---- the notice -------------------------------------------------------------------

ProblemNotice::ProblemNotice(HWND owner, HWND delivery) noexcept
    : deliveryWindow(delivery), ownerWindow(owner), textInstance(nullptr), textId(0) {}

ProblemNotice::ProblemNotice(HINSTANCE instance, UINT id, HWND owner, HWND delivery) noexcept
    : deliveryWindow(delivery), ownerWindow(owner), textInstance(instance), textId(id) {}

// A notice that goes away leaves no window or registry entry pointing at it.
ProblemNotice::~ProblemNotice() {
    if (shown.load() || slot) detail::ProblemWindows::request(*this, false);
    registerShown(*this, false);
    std::free(textBlock);
}

bool ProblemNotice::setText(const char* newText) {
    if (textId != 0 || textBlock || !newText) return false;
    std::size_t length = std::strlen(newText);
    if (length > kMaxNoticeText - 1) length = kMaxNoticeText - 1;
    auto* block = static_cast<char*>(std::malloc(length + 1));
    if (!block) return false;
    std::memcpy(block, newText, length);
    block[length] = '\0';
    textBlock = block;
    return true;
}

const char* ProblemNotice::text() {
    if (!textBlock && textId != 0) {
        char* loaded = static_cast<char*>(std::malloc(kMaxNoticeText));
        int length = loaded ? ::LoadStringA(textInstance, textId, loaded, kMaxNoticeText) : 0;
        if (length > 0) {
            char* exact = static_cast<char*>(std::realloc(loaded, static_cast<std::size_t>(length) + 1));
            textBlock = exact ? exact : loaded;
        } else {
            std::free(loaded);
            textId = 0;  // not in the string table: forget it
        }
    }
    return textBlock ? textBlock : "";
}

ProblemNotice& programNotice() {
    // Never destroyed: the diagnostics thread may use it until the process ends.
    static ProblemNotice* notice = new ProblemNotice;
    return *notice;
}

// ---- requests ------------------------------------------------------------------------

namespace detail {

const ProblemResources& problemResources() noexcept { return resources; }

void ProblemWindows::request(ProblemNotice& notice, bool show) {
    if (notice.shown.load() == show) return;
    long number = ++notice.requests;
    if (!show && notice.dismissed.load()) {
        WindowsLock lock(windowsLock());
        notice.handled.store(number);
        notice.shown.store(false);
        notice.dismissed.store(false);
        registerShown(notice, false);
        return;
    }
    if (notice.deliveryWindow) {
        ::SendMessageA(notice.deliveryWindow, show ? WM_USER + 1 : WM_USER + 2, 0, reinterpret_cast<LPARAM>(&notice));
        notice.handled.store(number);
        notice.shown.store(show);
    } else if (onDiagnosticsThread()) {
        show ? showHere(notice) : hideHere(notice);
    } else {
        DWORD thread = diagnosticsThreadId();
        if (!thread) return;  // the log is still starting: nothing can show it yet
        long request = enqueueRequest(notice, show);
        if (!request) return;  // too many callers at once: this one is dropped
        int attempts = 0;
        while (!::PostThreadMessageA(thread, kNoticeRequest, static_cast<WPARAM>(request), 0)) {
            if (++attempts == 100) {
                takeRequest(request);
                return;
            }
            ::Sleep(10);
        }
        // A diagnostics thread that is held up (a slow shell call) must not
        // hold up the caller: a request not taken in time is dropped.
        DWORD begun = ::GetTickCount();
        while (notice.handled.load() - number < 0) {
            if (::GetTickCount() - begun >= kRequestWaitMs && takeRequest(request)) return;
            ::Sleep(10);
        }
    }
    registerShown(notice, show);
}

void ProblemWindows::showHere(ProblemNotice& notice) {
    WindowsLock lock(windowsLock());
    if (!notice.slot && !notice.dismissed.load()) {
        ProblemSlot* slot = nullptr;
        for (auto& s : slots) {
            if (s.count > 0 && s.owner == notice.ownerWindow) {
                slot = &s;
                break;
            }
        }
        if (!slot) {
            for (int i = kSlots - 1; i >= 0 && !slot; --i)
                if (slots[i].count == 0 && !slots[i].window) slot = &slots[i];
            if (slot) {
                HWND parent = parentWindow();
                slot->window = parent ? createFrame(parent, notice.ownerWindow) : nullptr;
                slot->owner = notice.ownerWindow;
                slot->count = 0;
                if (!slot->window) slot = nullptr;
            }
        }
        if (slot) {
            HWND panel = reinterpret_cast<HWND>(::SendMessageA(slot->window, pw::kGetPanel, 0, 0));
            ::SendMessageA(panel, pw::kAddNotice, 0, reinterpret_cast<LPARAM>(&notice));
            ++slot->count;
            ::SendMessageA(slot->window, pw::kShowAnimated, 0, 0);
            notice.slot = slot;
            notice.shown.store(true);
        }
    }
    notice.handled.store(notice.requests.load());
}

void ProblemWindows::hideHere(ProblemNotice& notice) {
    WindowsLock lock(windowsLock());
    if (ProblemSlot* slot = notice.slot) {
        HWND frame = slot->window;
        if (slot->count-- == 1) ::SendMessageA(frame, pw::kHideAnimated, 0, 0);
        HWND panel = reinterpret_cast<HWND>(::SendMessageA(frame, pw::kGetPanel, 0, 0));
        ::SendMessageA(panel, pw::kRemoveNotice, 0, reinterpret_cast<LPARAM>(&notice));
        if (slot->count == 0) {
            ::DestroyWindow(frame);
            *slot = ProblemSlot{};
        }
        notice.slot = nullptr;
    }
    notice.shown.store(false);
    notice.handled.store(notice.requests.load());
}

bool ProblemWindows::dismiss(ProblemNotice& notice) {
    WindowsLock lock(windowsLock());
    notice.dismissed.store(true);
    ProblemSlot* slot = notice.slot;
    notice.slot = nullptr;
    if (!slot || --slot->count > 0) return false;
    HWND frame = slot->window;
    *slot = ProblemSlot{};
    ::SendMessageA(frame, pw::kHideAnimated, 0, 0);
    ::DestroyWindow(frame);
    return true;
}

void ProblemWindows::closeAllHere() {
    WindowsLock lock(windowsLock());
    for (auto& s : slots)
        if (s.window && s.count > 0) ::SendMessageA(s.window, pw::kHideAnimated, 0, 0);
    for (auto& s : slots) {
        if (s.window) ::DestroyWindow(s.window);
        s = ProblemSlot{};
    }
    for (ProblemNotice* notice : shownNotices)
        if (notice) notice->slot = nullptr;
}

}  // namespace detail

// ---- public operations ----------------------------------------------------------------

bool initialiseProblemWindows() {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    resources.warning = ::LoadIconA(nullptr, IDI_WARNING);
    if (!detail::registerPanelClass(instance) || !detail::registerFrameClass(instance)) return false;
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);  // systems before Vista
        if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return false;
    }
    resources.normalFont = ::CreateFontIndirectA(&metrics.lfMessageFont);
    metrics.lfMessageFont.lfWeight = FW_BOLD;
    resources.boldFont = ::CreateFontIndirectA(&metrics.lfMessageFont);
    if (!resources.normalFont || !resources.boldFont) return false;
    programNotice().setText(problemText());
    return true;
}

void requestNotice(ProblemNotice& notice, bool show) { detail::ProblemWindows::request(notice, show); }

void closeAllProblemWindows() {
    DWORD thread = detail::diagnosticsThreadId();
    if (!thread) return;
    if (onDiagnosticsThread()) {
        detail::ProblemWindows::closeAllHere();
        return;
    }
    kit::ScopedHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done || !::PostThreadMessageA(thread, detail::kCloseProblemWindows, 0, reinterpret_cast<LPARAM>(done.get())))
        return;
    // A diagnostics thread that does not answer must not keep a failing
    // process alive; the event is then left to it.
    if (::WaitForSingleObject(done.get(), 10000) != WAIT_OBJECT_0) done.detach();
}

void terminateAfterReport() {
    FW_TRACE("ending the process after a fatal error");
    writePendingEvents();
    showEventLog();
    closeAllProblemWindows();
    ::ExitProcess(13);
}

void handleNoticeThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case detail::kNoticeRequest: {
        Request r;
        if (!takeRequest(static_cast<long>(wParam), &r)) break;  // dropped, or not ours
        if (r.show)
            detail::ProblemWindows::showHere(*r.notice);
        else
            detail::ProblemWindows::hideHere(*r.notice);
        break;
    }
    case detail::kCloseProblemWindows:
        detail::ProblemWindows::closeAllHere();
        ::SetEvent(reinterpret_cast<HANDLE>(lParam));
        break;
    default: break;
    }
}

}  // namespace fw
