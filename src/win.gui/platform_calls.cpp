#include "win.gui/platform_calls.h"

#include <shellapi.h>

#include <atomic>
#include <string>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/scoped.h"
#include "kit/text_code.h"

namespace gui_platform {
namespace {

constexpr const char* kTraceSource = "win.gui/platform_calls";

void platformShellOpen(HWND owner, const wchar_t* target, int show) {
    ::ShellExecuteW(owner, nullptr, target, nullptr, nullptr, show);
}

void platformRunCommand(const wchar_t* commandLine, int show) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        FW_TRACE("cannot start the command, error %lu", static_cast<unsigned long>(::GetLastError()));
        return;
    }
    kit::ScopedHandle process(started.hProcess), thread(started.hThread);
}

void platformNotice(HWND owner, const char* text) { ::MessageBoxA(owner, text, "Sonotape", MB_OK | MB_ICONWARNING); }

std::atomic<ShutdownCall> shutdownCall{&platformShutdown};
std::atomic<ShellOpenCall> shellOpenCall{&platformShellOpen};
std::atomic<RunCommandCall> runCommandCall{&platformRunCommand};
std::atomic<ExecutionStateCall> executionStateCall{&::SetThreadExecutionState};
std::atomic<NoticeCall> noticeCall{&platformNotice};
std::atomic<kit::TickSource> clockCall{&kit::systemTicks};

}  // namespace

void platformShutdown() {
    kit::ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive())) {
        kit::setOrigin("win.gui/gui", __LINE__, "Gui::doneRecord");
        throw kit::WindowsError("OpenProcessToken");
    }
    TOKEN_PRIVILEGES privileges{};
    ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    if (::GetLastError() != ERROR_SUCCESS) {
        kit::setOrigin("win.gui/gui", __LINE__, "Gui::doneRecord");
        throw kit::WindowsError("AdjustTokenPrivileges");
    }
    FW_TRACE("ExitWindowsEx(EWX_SHUTDOWN)");
    if (!::ExitWindowsEx(EWX_SHUTDOWN, 0)) {
        kit::setOrigin("win.gui/gui", __LINE__, "Gui::doneRecord");
        throw kit::WindowsError("ExitWindowsEx");
    }
}

void shutdownComputer() { shutdownCall.load()(); }

void shellOpen(HWND owner, const char* target, int show) {
    shellOpenCall.load()(owner, kit::widen(target).c_str(), show);
}

void runCommand(const char* commandLine, int show) { runCommandCall.load()(kit::widen(commandLine).c_str(), show); }

void keepSystemAwake(bool awake) {
    EXECUTION_STATE state = ES_CONTINUOUS | (awake ? ES_SYSTEM_REQUIRED : 0);
    if (executionStateCall.load()(state) == 0)
        FW_TRACE("SetThreadExecutionState(0x%lx) failed", static_cast<unsigned long>(state));
}
void showNotice(HWND owner, const char* text) { noticeCall.load()(owner, text); }

kit::TickSource recordingClock() noexcept { return clockCall.load(); }

namespace testing {
void setShutdownCall(ShutdownCall call) noexcept { shutdownCall.store(call ? call : &platformShutdown); }
void setShellOpenCall(ShellOpenCall call) noexcept { shellOpenCall.store(call ? call : &platformShellOpen); }
void setRunCommandCall(RunCommandCall call) noexcept { runCommandCall.store(call ? call : &platformRunCommand); }
void setExecutionStateCall(ExecutionStateCall call) noexcept {
    executionStateCall.store(call ? call : &::SetThreadExecutionState);
}
void setNoticeCall(NoticeCall call) noexcept { noticeCall.store(call ? call : &platformNotice); }
void setRecordingClock(kit::TickSource clock) noexcept { clockCall.store(clock ? clock : &kit::systemTicks); }
}  // namespace testing

}  // namespace gui_platform
