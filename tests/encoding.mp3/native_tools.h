// Running programs of the Linux host (decoders, the lame command line) from a
// test program under Wine, and reading MP3 files through them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct NativeResult {
    bool finished = false;  // false: the time ran out
    int exitCode = -1;
    std::string output;     // standard output and error, merged
};

// Runs a shell command line of the host in `folder` (a Windows path; the
// command sees it as its working directory) and waits for its end. Wine does
// not track native processes, so the command reports its end through a file.
NativeResult runNative(const std::string& folder, const std::string& command, DWORD timeoutMs);

// Options of the host's lame command line that match the encoder's configuration
// record for a constant bitrate: joint stereo, the r3mix preset held at the
// bitrate, CRC, no bit reservoir, no tag frame.
std::string lameCliOptions(int bitrate);

// Single-quotes a text for the host's shell.
std::string shellQuote(const std::string& text);

}  // namespace testsupport
