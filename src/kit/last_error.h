// Keeps the thread's last error across a scope, for code that runs between a
// failing platform call and the WindowsError that reports it (tracing, the
// origin register).
#pragma once

#include <windows.h>

namespace kit {

class KeepLastError {
public:
    KeepLastError() noexcept : saved(::GetLastError()) {}
    ~KeepLastError() { ::SetLastError(saved); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

private:
    DWORD saved;
};

}  // namespace kit
