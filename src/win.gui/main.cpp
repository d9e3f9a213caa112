// Entry point of Sonotape: the company folder, the diagnostics, one copy at a
// time, the Gui and the message loop.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <memory>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/scoped.h"
#include "kit/singleappinst.h"
#include "kit/text_code.h"
#include "resource.h"
#include "win.gui/gui.h"
#include "win.gui/rules.h"

namespace {

constexpr const char* kTraceSource = "win.gui/main";

constexpr const char* kUsage =
    "usage: sonotape.exe --record [PATH] [--format wav|mp3|flac] [--bitrate N] [--for H:MM] | --stop | --status";

// A command's answer on the caller's console: the standard output it handed
// down, else the console of the parent process (a GUI program has none of its own).
void tell(const command::Reply& reply) {
    std::string line = reply.text + "\r\n";
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    kit::ScopedHandle console;
    bool attached = false;
    if (!out || out == INVALID_HANDLE_VALUE) {
        attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
        if (attached)
            console.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        out = console.get();
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE) {
        if (::GetConsoleMode(out, &mode)) {
            std::wstring wide = kit::widen(line);
            ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        } else {
            ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
    }
    console.reset();
    if (attached) ::FreeConsole();
    FW_TRACE("Command answer %d: %s", reply.code, reply.text.c_str());
}

// A relative PATH is taken in the caller's working folder, which the running copy does not know.
std::string absolutePath(const std::string& path) {
    std::wstring wide = kit::widen(path);
    DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    full.resize(size);
    return kit::narrow(full);
}

int run(HINSTANCE instance, int showState) {
    FW_TRACE("begin");
    kit::SingleInstanceChecker checker("KorvelImageDockMutex");
    // Held until the very end, so that a copy started while this one closes is refused.
    kit::smartptr<kit::SingleInstanceCookie> cookie = checker.startSingle();
    command::Parsed parsed = command::parseArguments(command::commandLineArguments(::GetCommandLineW()));
    if (!parsed.ok) {
        tell(command::Reply{command::kRefused, "sonotape: " + parsed.error + "\r\n" + kUsage});
        return command::kRefused;
    }
    command::Command order = parsed.command;
    if (!order.path.empty()) order.path = absolutePath(order.path);
    if (!cookie && order.verb != command::Verb::None) {
        command::Reply reply = command::send(order);
        tell(reply);
        return reply.code;
    }
    if (cookie && (order.verb == command::Verb::Stop || order.verb == command::Verb::Status)) {
        tell(command::Reply{command::kNotRunning, "Sonotape is not running"});
        return command::kNotRunning;
    }
    if (!cookie) {
        ::MessageBoxA(nullptr, gui_rules::kSecondCopy, gui_rules::kSecondCopyCaption, MB_OK);
        FW_TRACE("Trying to open a second instance of Korvel Sonotape. Exitting.");
        return 1;
    }
    std::unique_ptr<Gui> gui(new Gui(instance));
    if (order.verb == command::Verb::Record) gui->startQuietly();
    gui->initialize(::GetCommandLineA(), showState);
    if (order.verb == command::Verb::Record) {
        command::Reply reply = gui->runCommand(order);
        tell(reply);
        if (reply.code != command::kDone) return reply.code;
    }

    // Started from a console (or by the Task Scheduler with one), its close and
    // log-off end a recording as the end of the Windows session does.
    if (!::SetConsoleCtrlHandler(&endSessionOnConsoleEvent, TRUE)) FW_TRACE("SetConsoleCtrlHandler() failed");

    HACCEL accelerators = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG msg{};
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == WM_HOTKEY && msg.wParam == Gui::kHotkeyId) {
            fw::catchAndReport(kTraceSource, __LINE__, [&] { gui->hotkeyPressed(); });
            continue;
        }
        if (!::TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    ::SetConsoleCtrlHandler(&endSessionOnConsoleEvent, FALSE);
    gui.reset();   // completes a recording under way, saves the window position, shuts the engine down
    ::Sleep(200);  // the worker threads and the diagnostics thread settle
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
    wchar_t folder[MAX_PATH + 16] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, TRUE)) {
        ::MessageBoxA(nullptr, gui_rules::kNoAppData, "", MB_OK);
        return 0;
    }
    std::wcscat(folder, L"\\Korvel");
    ::CreateDirectoryW(folder, nullptr);
    fw::ensureDiagnostics();

    int code = 0;
    fw::catchAndReportFatal(kTraceSource, __LINE__, [&] { code = run(instance, showState); });
    return code;
}
