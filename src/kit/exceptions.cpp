#include "kit/exceptions.h"

#include <windows.h>

#include "kit/last_error.h"

namespace kit {
namespace {

// The per-thread origin register. Plain thread-local storage; reading it must
// not disturb the thread's last error, which a WindowsError is about to take.
struct Origin {
    const char* file = nullptr;
    int line = -1;
};

thread_local Origin origin;

}  // namespace

void setOrigin(const char* file, int line, const char* /*function*/) noexcept {
    KeepLastError keep;
    origin.file = file;
    origin.line = line;
}

const char* pendingOriginFile() noexcept {
    KeepLastError keep;
    return origin.file;
}

int pendingOriginLine() noexcept {
    KeepLastError keep;
    return origin.line;
}

OriginatedException::OriginatedException() noexcept {
    KeepLastError keep;
    Origin& o = origin;
    file = o.file;
    line = o.line;
    o = Origin{};
}

WindowsError::WindowsError(const char* text_) : code(::GetLastError()), text(text_) {}

WindowsError::WindowsError(shared_string text_) : code(::GetLastError()), text(std::move(text_)) {}

shared_string WindowsError::message() const {
    return shared_string::format("windows err %d (0x%X), message: %s", static_cast<int>(code), code, text.c_str());
}

shared_string WindowsSpecError::message() const {
    return shared_string::format("windows spec err %d (0x%X), message: %s", static_cast<int>(code), code, text.c_str());
}

}  // namespace kit
