#include "win.gui/mailbox.h"

#include <mutex>
#include <utility>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"

namespace {

constexpr const char* kTraceSource = "win.gui/mailbox";

// The open mailbox and its queue are guarded by one lock, so that a worker
// thread never puts a letter into a mailbox that is going away.
std::mutex mailboxLock;
Mailbox* openMailbox = nullptr;

}  // namespace

Mailbox::Mailbox(HINSTANCE instance, LetterReceiver& receiver) : receiver(receiver) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Mailbox::windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw kit::WindowsError("RegisterClassEx() failed");
    // Message-only: no broadcast and no enumeration of top-level windows reaches it.
    hWnd = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!hWnd) throw kit::WindowsError("CreateWindowEx() failed");
    std::lock_guard<std::mutex> guard(mailboxLock);
    openMailbox = this;
}

Mailbox::~Mailbox() {
    {
        std::lock_guard<std::mutex> guard(mailboxLock);
        if (openMailbox == this) openMailbox = nullptr;
        if (!letters.empty()) FW_TRACE("%u letter(s) left undelivered", static_cast<unsigned>(letters.size()));
    }
    ::SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
    ::DestroyWindow(hWnd);
}

bool Mailbox::post(Letter letter) {
    std::lock_guard<std::mutex> guard(mailboxLock);
    Mailbox* box = openMailbox;
    if (!box) {
        FW_TRACE("No mailbox for letter %d: dropped", static_cast<int>(letter.kind));
        return false;
    }
    box->letters.push_back(std::move(letter));
    // A wake-up that cannot be posted (a full queue) is made up for by the
    // next one: the letter waits in the queue meanwhile.
    ::PostMessageA(box->hWnd, kWake, 0, 0);
    ::SetEvent(box->posted.nativeHandle());
    return true;
}

bool Mailbox::take(Letter& letter) {
    std::lock_guard<std::mutex> guard(mailboxLock);
    if (letters.empty()) return false;
    letter = std::move(letters.front());
    letters.pop_front();
    return true;
}

void Mailbox::deliver() {
    // One at a time: a letter's receiver may run a modal loop that delivers
    // the next ones, and the order stays the order of posting.
    Letter letter{Letter::RecordingDone, {}};
    while (take(letter)) receiver.receive(letter);
}

bool Mailbox::waitForLetter(DWORD milliseconds) { return posted.waitFor(milliseconds); }

LRESULT CALLBACK Mailbox::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == kWake) {
        // Whatever the parameters: the wake-up carries nothing.
        if (auto* self = reinterpret_cast<Mailbox*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
            fw::catchAndReport(kTraceSource, __LINE__, [self] { self->deliver(); });
            fw::takeExceptionReported();
        }
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---- the engine's callbacks ---------------------------------------------------------------

void CrashStop_Reminder_Func(const char* message) {
    FW_TRACE("CrashStop_Reminder_Func()");
    Mailbox::post({Letter::CrashStop, message ? message : ""});
}

void finishNotifier(void*) { Mailbox::post({Letter::RecordingDone, {}}); }

void timeReminderProc(int) { Mailbox::post({Letter::TimeReminder, {}}); }

void spaceReminderProc(uint64_t* freeBytes) {
    Mailbox::post({freeBytes ? Letter::SpaceStop : Letter::SpaceWarning, {}});
}
