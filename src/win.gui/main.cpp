// Entry point of Sonotape: the company folder, the diagnostics, one copy at a
// time, the Gui and the message loop.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <memory>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/singleappinst.h"
#include "resource.h"
#include "win.gui/gui.h"
#include "win.gui/rules.h"

namespace {

constexpr const char* kTraceSource = "win.gui/main";

int run(HINSTANCE instance, int showState) {
    FW_TRACE("begin");
    kit::SingleInstanceChecker checker("KorvelImageDockMutex");
    // Held until the very end, so that a copy started while this one closes is refused.
    kit::smartptr<kit::SingleInstanceCookie> cookie = checker.startSingle();
    if (!cookie) {
        ::MessageBoxA(nullptr, gui_rules::kSecondCopy, gui_rules::kSecondCopyCaption, MB_OK);
        FW_TRACE("Trying to open a second instance of Korvel Sonotape. Exitting.");
        return 1;
    }
    std::unique_ptr<Gui> gui(new Gui(instance));
    gui->initialize(::GetCommandLineA(), showState);

    // Started from a console (or by the Task Scheduler with one), its close and
    // log-off end a recording as the end of the Windows session does.
    if (!::SetConsoleCtrlHandler(&endSessionOnConsoleEvent, TRUE)) FW_TRACE("SetConsoleCtrlHandler() failed");

    HACCEL accelerators = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG msg{};
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
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
