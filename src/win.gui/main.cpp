// Entry point of Sonotape.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "diagnostics/eventlog.h"

namespace {
constexpr const char* kTraceSource = "win.gui/main";
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char folder[MAX_PATH + 16] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE)) {
        ::MessageBoxA(nullptr, "Field Watch failed to find Application Data directory", "", MB_OK);
        return 0;
    }
    std::strcat(folder, "\\Korvel");
    ::CreateDirectoryA(folder, nullptr);
    fw::ensureDiagnostics();
    FW_TRACE("begin");
    ::MessageBoxA(nullptr, "Sonotape is being built. This is the program's first stone.", "Sonotape", MB_OK);
    return 0;
}
