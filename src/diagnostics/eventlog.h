// Field Watch, the event log.
//
// Any thread records what it does: `setTraceOrigin(source, line)` followed by
// `trace(...)`, or `setTraceOrigin`, `setEventLevel(level)` and
// `logEvent(name, ...)`. An event is formatted on the caller's thread and
// copied into one of two in-memory buffers (levels below VERBOSE: "base",
// the others: "verbose"); the diagnostics thread merges both in the order of
// the events and appends them to the events file about every 100 ms.
// The library starts itself on first use.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/levels.h"

namespace fw {

void ensureDiagnostics();

void setTraceOrigin(const char* file, int line) noexcept;
void setEventLevel(int level) noexcept;

// Logs an event named "Trace" at level TRACE; the thread's level stays TRACE.
void trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Logs an event at the thread's current level. `name` is a static text shorter
// than 100 characters. Level ERR raises the problem notice; level -2 throws
// FwException and -3 FwAssertionFailure after storing the event.
void logEvent(const char* name, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
[[noreturn]] void assertionFailed(const char* expression);
[[noreturn]] void assertionFailed(const char* file, int line, const char* expression);

// Opens the events file in the shell's viewer, at most once per process.
void showEventLog();
// A message box about a failure the program cannot survive, then exit code 13.
[[noreturn]] void fatalStop(const char* text);

// Makes the diagnostics thread write what is waiting now, and waits for that
// at most `timeoutMs`; false when it did not finish in time (the end of a
// session, which must not wait long).
bool flush(unsigned long timeoutMs);

// Full path of the events file (valid once the library is initialised).
std::string eventsFilePath();
// The texts loaded at initialisation.
const char* applicationName();
const char* productName();
const char* libraryName();
const char* problemText();

namespace testing {
// Makes the diagnostics thread write one pass now and waits for it.
void flushNow();
// While held, the diagnostics thread makes no writing pass of its own.
void holdWriting(bool hold);
}  // namespace testing

}  // namespace fw

// The idiom, with the calling file's `kTraceSource` as origin:
//   FW_TRACE("format", ...);  FW_LOG(fw::LEVEL_WARN, "Name", "format", ...);
#define FW_TRACE(...) (::fw::setTraceOrigin(kTraceSource, __LINE__), ::fw::trace(__VA_ARGS__))
#define FW_LOG(level, name, ...) \
    (::fw::setTraceOrigin(kTraceSource, __LINE__), ::fw::setEventLevel(level), ::fw::logEvent(name, __VA_ARGS__))
