// Running programs of the Linux host (decoders, the lame command line, mount)
// from a test program under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct NativeResult {
    bool finished = false;  // false: the time ran out
    int exitCode = -1;
    std::string output;  // standard output and error, merged
};

// Runs a shell command line of the host in `folder` (a Windows path; the
// command sees it as its working directory) and waits for its end. Wine does
// not track native processes, so the command reports its end through a file.
NativeResult runNative(const std::string& folder, const std::string& command, DWORD timeoutMs);

// Options of the host's lame command line that match the encoder's configuration
// record for a constant bitrate: joint stereo, the r3mix preset held at the
// bitrate, CRC, no bit reservoir, the information frame first.
std::string lameCliOptions(int bitrate);

// Single-quotes a text for the host's shell.
std::string shellQuote(const std::string& text);

// A small file system of its own (tmpfs) mounted on an existing, empty folder
// for the life of the object: a disk that fills up. Needs root (the tests run
// as root); mounted() says whether it worked.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, uint64_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const noexcept { return ok; }

private:
    std::string folder;
    bool ok = false;
};

}  // namespace testsupport
