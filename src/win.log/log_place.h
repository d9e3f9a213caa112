// Where the application log lives, and what the user is told when a line
// cannot be written to it.
//
// The log goes in the folder the program starts from, as it always has. A
// program installed for all users starts from a folder its users cannot
// write; there the log goes in the program's application-data folder.
#pragma once

#include <windows.h>

#include <string>

namespace kit {

// Whether a new file can be made in the folder (a probe file is created and
// removed at once; its name holds the process and the time).
bool canCreateFilesIn(const std::string& folder);

// "log.txt" in `startFolder` when files can be made there, else in
// `dataFolder` (created when missing).
std::string applicationLogPath(const std::string& startFolder, const std::string& dataFolder);

// The same for this process: its current folder, else the folder
// "Korvel\Sonotape" in the user's application-data folder.
std::string applicationLogPath();

// The warning for a line that could not be written to the log file `path`
// (`error`: the platform's error code), in words: a folder of that name, a
// read-only file, or the platform's own text.
std::string logNotWrittenMessage(const std::string& path, DWORD error);

}  // namespace kit
