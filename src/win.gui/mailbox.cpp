#include "win.gui/mailbox.h"

#include <mutex>
#include <utility>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"

namespace {

constexpr const char* kTraceSource = "win.gui/mailbox";

// The open mailbox and its queue are guarded by one lock, so that a worker
// thread never puts a letter into a mailbox that is going away.
std::mutex mailboxLock;
Mailbox* openMailbox = nullptr;

}  // namespace

Mailbox::Mailbox(HINSTANCE instance, LetterReceiver& receiver_) : receiver(receiver_) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &fw::windowProcedure<Mailbox>;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    if (!fw::registerWindowClass(wc)) throw kit::WindowsError("RegisterClassEx() failed");
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

void Mailbox::handleMessage(UINT message, WPARAM, LPARAM, LRESULT& result, bool& handled) {
    // Whatever the parameters: the wake-up carries nothing.
    if (message != kWake) return;
    deliver();
    result = 0;
    handled = true;
}

// ---- the engine's callbacks ---------------------------------------------------------------

void MailboxEngineEvents::mustStop(const std::string& reason) {
    FW_TRACE("CrashStop_Reminder_Func()");
    Mailbox::post({Letter::CrashStop, reason.c_str()});
}

void MailboxEngineEvents::recordingFinished() { Mailbox::post({Letter::RecordingDone, {}}); }

void MailboxEngineEvents::halfHourRecorded() { Mailbox::post({Letter::TimeReminder, {}}); }

void MailboxEngineEvents::diskSpaceLow(bool mustStop) {
    Mailbox::post({mustStop ? Letter::SpaceStop : Letter::SpaceWarning, {}});
}
