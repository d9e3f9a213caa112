// sntdrive: drives a running Sonotape from the command line, for a person
// who runs the program on a display they cannot see or reach (tools/drive.sh
// starts it in the same Wine session as `make run`).
//
//   sntdrive windows                the program's visible windows
//   sntdrive record                 a click on the record button
//   sntdrive tray [right]           a click on the tray icon
//   sntdrive menu                   a right click on the main window (or the tray icon)
//   sntdrive key KEY                a key to the open menu or dialog: a letter, up, down, enter, escape
//   sntdrive type TITLE ID TEXT     text typed into control ID of the dialog TITLE
//   sntdrive press TITLE ID         a click on control ID (1 OK, 2 Cancel, 6 Yes, 7 No) of the dialog TITLE
//   sntdrive close                  closes the main window: the program ends
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver.h"
#include "program.h"
#include "support/support.h"
#include "support/ui.h"

namespace {

DWORD programId() {
    HWND main = ::FindWindowA(program::kMainClass, "Sonotape");
    if (!main) main = ::FindWindowA(program::kNotificationClass, "Sonotape");
    DWORD id = 0;
    if (main) ::GetWindowThreadProcessId(main, &id);
    return id;
}

HWND target(DWORD id) {
    if (HWND menu = driver::visibleMenu()) return menu;
    for (HWND w : driver::windowsOf(id))
        if (driver::className(w) == program::kDialogClass) return w;
    return nullptr;
}

int usage() {
    std::fputs(
        "usage: sntdrive windows | record | tray [right] | menu | key KEY | type TITLE ID TEXT | press TITLE ID | "
        "close\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    DWORD id = programId();
    if (id == 0) {
        std::fputs("sntdrive: Sonotape is not running\n", stderr);
        return 1;
    }
    HWND main = driver::findWindow(id, program::kMainClass, "Sonotape");

    if (command == "windows") {
        for (HWND w : driver::windowsOf(id)) {
            RECT r{};
            ::GetWindowRect(w, &r);
            std::printf("%-55s %-24s at %ld,%ld size %ldx%ld\n", driver::className(w).c_str(),
                        ("\"" + driver::windowText(w) + "\"").c_str(), r.left, r.top, r.right - r.left,
                        r.bottom - r.top);
        }
        return 0;
    }
    if (command == "record") {
        HWND button = main ? driver::childOf(main, "Button") : nullptr;
        if (!button) {
            std::fputs("sntdrive: the main window is not shown (try: sntdrive tray)\n", stderr);
            return 1;
        }
        driver::click(button);
        return 0;
    }
    if (command == "tray" || command == "menu") {
        std::vector<HWND> icons = driver::trayIconWindows();
        HWND where = command == "menu" && main ? main : (icons.empty() ? nullptr : icons.back());
        if (!where) {
            std::fputs("sntdrive: no tray icon\n", stderr);
            return 1;
        }
        driver::click(where, command == "menu" || (argc > 2 && std::string(argv[2]) == "right"));
        return 0;
    }
    if (command == "key" && argc > 2) {
        HWND to = target(id);
        if (!to) {
            std::fputs("sntdrive: no menu or dialog is open\n", stderr);
            return 1;
        }
        std::string key = argv[2];
        if (key == "up")
            driver::pressKey(to, VK_UP);
        else if (key == "down")
            driver::pressKey(to, VK_DOWN);
        else if (key == "escape")
            driver::pressKey(to, VK_ESCAPE);
        else if (key == "enter")
            driver::typeChar(to, '\r');
        else if (key.size() == 1)
            driver::typeChar(to, key[0]);
        else
            return usage();
        return 0;
    }
    if ((command == "type" && argc > 4) || (command == "press" && argc > 3)) {
        HWND dialog = driver::findWindow(id, program::kDialogClass, argv[2]);
        if (!dialog) {
            std::fprintf(stderr, "sntdrive: no dialog \"%s\"\n", argv[2]);
            return 1;
        }
        int control = std::atoi(argv[3]);
        if (command == "type")
            driver::typeInto(dialog, control, argv[4]);
        else
            driver::clickItem(dialog, control);
        return 0;
    }
    if (command == "close") {
        HWND any = main ? main : driver::findWindow(id, program::kMainClass, "Sonotape", false);
        if (any) ::PostMessageA(any, WM_CLOSE, 0, 0);
        return 0;
    }
    return usage();
}
