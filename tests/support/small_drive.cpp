#include "support/small_drive.h"

#include <windows.h>

#include <cstdlib>

#include "support/bed_audio.h"
#include "support/support.h"

namespace testsupport {

int runNative(const std::string& shellCommand, unsigned timeoutMs) {
    TempDir dir;
    std::string status = dir.file("status");
    // The status lands in a file of the scratch folder: Wine does not wait for native children.
    std::string script = shellCommand + "; echo $? > '" + unixPath(status) + ".part' && mv '" + unixPath(status) +
                         ".part' '" + unixPath(status) + "'";
    if (!startNative("/bin/sh -c \"" + script + "\"")) return -1;
    if (!waitUntil([&] { return fileExists(status); }, timeoutMs)) return -1;
    return std::atoi(readFile(status).c_str());
}

SmallDrive::SmallDrive(uint64_t bytes) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix) return;
    DWORD used = ::GetLogicalDrives();
    char free = 0;
    for (char c = 'Q'; c <= 'Y' && !free; ++c)
        if (!(used & (1u << (c - 'A')))) free = c;
    if (!free) return;
    mountPoint = "/tmp/sonotape-small-drive-" + std::to_string(::GetCurrentProcessId()) + free;
    link = std::string(prefix) + "/dosdevices/" + static_cast<char>(free - 'A' + 'a') + ":";
    int status = runNative("mkdir -p " + mountPoint + " && mount -t tmpfs -o size=" + std::to_string(bytes) +
                           " sonotape-test " + mountPoint + " && ln -sfn " + mountPoint + " '" + link + "'");
    std::string drive = std::string(1, free) + ":\\";
    if (status == 0 && ::GetDiskFreeSpaceExA(drive.c_str(), nullptr, nullptr, nullptr)) {
        letter = free;
        return;
    }
    runNative(removal());
}

std::string SmallDrive::removal() const {
    return "rm -f '" + link + "'; umount " + mountPoint + " 2>/dev/null; rmdir " + mountPoint + " 2>/dev/null; true";
}

SmallDrive::~SmallDrive() {
    if (letter) runNative(removal());
}

}  // namespace testsupport
