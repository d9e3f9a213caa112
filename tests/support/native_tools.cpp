#include "support/native_tools.h"

#include "support/bed_audio.h"
#include "support/support.h"

namespace testsupport {

std::string lameCliOptions(int bitrate) {
    std::string b = std::to_string(bitrate);
    return "-m j --r3mix -b " + b + " -B " + b + " -p --nores";
}

std::string shellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

NativeResult runNative(const std::string& folder, const std::string& command, DWORD timeoutMs) {
    static LONG counter = 0;
    std::string tag = "native-" + std::to_string(::InterlockedIncrement(&counter));
    std::string script = folder + "\\" + tag + ".sh";
    std::string output = folder + "\\" + tag + ".out";
    std::string done = folder + "\\" + tag + ".rc";
    // The exit code is written under another name first, so that a reader never sees half of it.
    writeFile(script, "cd " + shellQuote(unixPath(folder)) + " || exit 1\n(" + command + ") > " +
                          shellQuote(unixPath(output)) + " 2>&1\necho $? > " + shellQuote(unixPath(done) + ".tmp") +
                          "\nmv " + shellQuote(unixPath(done) + ".tmp") + " " + shellQuote(unixPath(done)) + "\n");
    NativeResult r;
    if (!startNative("/bin/sh \"" + unixPath(script) + "\"")) return r;
    r.finished = waitUntil([&] { return fileExists(done); }, timeoutMs);
    if (r.finished) r.exitCode = std::stoi("0" + readFile(done));
    r.output = readFile(output);
    return r;
}

SmallDisk::SmallDisk(const std::string& folder, uint64_t bytes) : folder(folder) {
    // The command's own files go beside the folder, not under the mount.
    NativeResult r = runNative(folder + "\\..",
                               "mount -t tmpfs -o size=" + std::to_string(bytes) + " sonotape-test " +
                                   shellQuote(unixPath(folder)) + " && cd / && findmnt " + shellQuote(unixPath(folder)),
                               30000);
    ok = r.finished && r.exitCode == 0;
}

SmallDisk::~SmallDisk() {
    if (ok) runNative(folder + "\\..", "umount -l " + shellQuote(unixPath(folder)), 30000);
}

}  // namespace testsupport
