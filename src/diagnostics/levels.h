// Event levels of the event log.
#pragma once

namespace fw {

constexpr int LEVEL_WARN = -4;
constexpr int LEVEL_ASSERT = -3;  // failed assertion; storing it throws FwAssertionFailure
constexpr int LEVEL_FATAL = -2;   // fatal error; storing it throws FwException
constexpr int LEVEL_ERR = -1;     // error; storing it raises the problem notice
constexpr int LEVEL_USER = 1;
constexpr int LEVEL_NOTIFY = 4;  // something the user should know happened (the session ends)
constexpr int LEVEL_ENV = 5;     // the settings and the machine, at the start
constexpr int LEVEL_VERBOSE = 100;
constexpr int LEVEL_TRACE = 101;

// Levels of VERBOSE and above go to the verbose buffer, the rest to the base buffer.
constexpr bool isVerboseLevel(int level) { return level >= LEVEL_VERBOSE; }

const char* levelName(int level) noexcept;

}  // namespace fw
