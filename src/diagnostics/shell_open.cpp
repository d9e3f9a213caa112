#include "diagnostics/shell_open.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>

namespace fw {
namespace {

void platformOpen(const char* path) { ::ShellExecuteA(nullptr, nullptr, path, nullptr, nullptr, SW_SHOWNORMAL); }

std::atomic<ShellOpenFn> opener{&platformOpen};

}  // namespace

void shellOpen(const char* path) { opener.load()(path); }

void setShellOpen(ShellOpenFn fn) noexcept { opener.store(fn ? fn : &platformOpen); }

}  // namespace fw
