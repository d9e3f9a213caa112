// The one exception hierarchy of the system.
//
// A throw site first records where it is (setOrigin with its source name, line
// and qualified function name), then throws. Every exception takes that origin
// when it is constructed and resets the register, so an exception thrown
// without a preceding setOrigin carries no file and line -1. The register is
// per thread: two threads throwing at once never exchange origins.
#pragma once

#include <cstdint>

#include "kit/origins.h"
#include "kit/shared_string.h"

namespace kit {

// Records the origin of the next exception constructed on this thread. The
// function name is accepted for the reader of the throw site; it is not kept.
void setOrigin(const char* file, int line, const char* function) noexcept;
inline void setOrigin(origins::Site site, const char* function) noexcept {
    setOrigin(site.source, site.line, function);
}

// Origin a new exception would take now (for tests and diagnostics).
const char* pendingOriginFile() noexcept;
int pendingOriginLine() noexcept;

class OriginatedException {
public:
    OriginatedException() noexcept;  // takes and resets the thread's origin register
    OriginatedException(const OriginatedException&) noexcept = default;
    OriginatedException& operator=(const OriginatedException&) noexcept = default;

    const char* originFile() const noexcept { return file; }
    int originLine() const noexcept { return line; }

protected:
    const char* file;
    int32_t line;
};

struct Exception : OriginatedException {
    virtual ~Exception() = default;
    virtual shared_string message() const = 0;
};

struct RuntimeError : Exception {};
struct LogicError : Exception {};

struct SimpleRuntimeError : RuntimeError {
    shared_string message() const override { return {}; }
};

struct SimpleLogicError : LogicError {
    shared_string message() const override { return {}; }
};

class NullPointerException : public SimpleLogicError {};

struct ARuntimeError : RuntimeError {
    explicit ARuntimeError(shared_string text_) : text(std::move(text_)) {}
    shared_string message() const override { return text; }
    shared_string text;
};

// Derives from RuntimeError, not LogicError: callers catch it with the runtime errors.
struct ALogicError : RuntimeError {
    explicit ALogicError(shared_string text_) : text(std::move(text_)) {}
    shared_string message() const override { return text; }
    shared_string text;
};

// A failure whose message is written for the user of the program (what went
// wrong, in words they can act on); it may be shown to them as it stands.
struct UserError : ARuntimeError {
    using ARuntimeError::ARuntimeError;
};

// A failing multimedia call: the message is the text; the result code is kept apart.
class MMError : public ARuntimeError {
public:
    MMError(shared_string text_, uint32_t code_) : ARuntimeError(std::move(text_)), code(code_) {}
    uint32_t resultCode() const noexcept { return code; }

private:
    uint32_t code;
};

// A failing platform call; the error code is the thread's last error at construction.
class WindowsError : public RuntimeError {
public:
    explicit WindowsError(const char* text);  // reads the last error before anything can change it
    explicit WindowsError(shared_string text);
    shared_string message() const override;
    uint32_t errorCode() const noexcept { return code; }

private:
    uint32_t code;
    shared_string text;
};

// A failing platform call whose result code the thrower passes.
class WindowsSpecError : public RuntimeError {
public:
    WindowsSpecError(shared_string text_, uint32_t code_) : text(std::move(text_)), code(code_) {}
    shared_string message() const override;
    uint32_t errorCode() const noexcept { return code; }

private:
    shared_string text;
    uint32_t code;
};

struct RegInvalidDataTypeError : SimpleRuntimeError {};
struct RegNoValueError : SimpleRuntimeError {};
struct RegStrangeThingsHappen : SimpleRuntimeError {};

}  // namespace kit

// Thrown only by the event log: after a message of the fatal-error level, and
// after a failed assertion. Deliberately outside the kit hierarchy.
class FwException {};
class FwAssertionFailure : public FwException {};
