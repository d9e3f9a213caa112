// A small volume of the host as a drive letter of the test's Wine prefix: a
// tmpfs of the given size mounted on a scratch folder and linked into
// $WINEPREFIX/dosdevices. Needs the bed's rights to mount (the tests run as
// root); `ready()` is false where that is not possible. Removed again, with
// everything on it, when the object goes.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// Runs a shell command of the host and waits for its end; its exit status,
// or -1 when it could not be started or did not end in time.
int runNative(const std::string& shellCommand, unsigned timeoutMs = 15000);

class SmallDrive {
public:
    explicit SmallDrive(uint64_t bytes);
    ~SmallDrive();
    SmallDrive(const SmallDrive&) = delete;
    SmallDrive& operator=(const SmallDrive&) = delete;

    bool ready() const { return letter != 0; }
    std::string root() const { return std::string(1, letter) + ":\\"; }  // "Q:\"

private:
    std::string removal() const;

    char letter = 0;
    std::string mountPoint;  // host path
    std::string link;        // host path of the dosdevices entry
};

}  // namespace testsupport
