// Run by the test bed before any test: asking for the desktop window makes
// Wine start its desktop process and wait until it is ready. Started from here,
// with this program's output going nowhere, the desktop process holds no
// test's output open while it lives.
#include <windows.h>

int main() {
    ::GetDesktopWindow();
    for (int i = 0; i < 100 && !::FindWindowA("Shell_TrayWnd", nullptr); ++i) ::Sleep(50);
    return ::FindWindowA("Shell_TrayWnd", nullptr) ? 0 : 1;
}
