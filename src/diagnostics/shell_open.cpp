#include "diagnostics/shell_open.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "kit/text_code.h"

namespace fw {
namespace {

void platformOpen(const char* path) {
    ::ShellExecuteW(nullptr, nullptr, kit::widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::atomic<ShellOpenFn> opener{&platformOpen};

}  // namespace

void shellOpen(const char* path) { opener.load()(path); }

void setShellOpen(ShellOpenFn fn) noexcept { opener.store(fn ? fn : &platformOpen); }

}  // namespace fw
