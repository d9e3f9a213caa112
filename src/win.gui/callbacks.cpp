#include "win.gui/callbacks.h"

#include <atomic>
#include <string>

#include "diagnostics/eventlog.h"

namespace gui_process {
namespace {
std::atomic<HINSTANCE> programInstance{nullptr};
std::atomic<Gui*> gui{nullptr};
std::atomic<HWND> mailboxWindow{nullptr};
}  // namespace

HINSTANCE instance() noexcept {
    HINSTANCE h = programInstance.load();
    return h ? h : ::GetModuleHandleA(nullptr);
}
void setInstance(HINSTANCE instance) noexcept { programInstance.store(instance); }

Gui* theGui() noexcept { return gui.load(); }
void setTheGui(Gui* newGui) noexcept { gui.store(newGui); }

void setMailbox(HWND window) noexcept { mailboxWindow.store(window); }
HWND mailbox() noexcept { return mailboxWindow.load(); }

}  // namespace gui_process

namespace {

constexpr const char* kTraceSource = "win.gui/callbacks";

bool post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    HWND window = gui_process::mailbox();
    if (window && ::PostMessageA(window, message, wParam, lParam)) return true;
    FW_TRACE("No mailbox for message %u: dropped", message);
    return false;
}

}  // namespace

void CrashStop_Reminder_Func(const char* message) {
    FW_TRACE("CrashStop_Reminder_Func()");
    auto* text = new std::string(message ? message : "");
    if (!post(gui_process::kCrashStop, 0, reinterpret_cast<LPARAM>(text))) delete text;
}

void finishNotifier(void*) { post(gui_process::kRecordingDone); }

void timeReminderProc(int) { post(gui_process::kTimeReminder); }

void spaceReminderProc(uint64_t* freeBytes) { post(gui_process::kSpaceReminder, freeBytes ? 1 : 0); }
