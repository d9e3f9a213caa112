// Helpers for the test programs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The target this program was built for, as the benchmarks print it.
constexpr const char* kTargetArch = sizeof(void*) == 8 ? "x64" : "x86";

// A fresh folder under the temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "\\" + name; }

private:
    std::string dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
int64_t fileSize(const std::string& path);
// Text with "\r\n" turned into "\n".
std::string withUnixLineEnds(const std::string& text);

// The events file of this process, read from an offset noted earlier.
class EventsFile {
public:
    EventsFile();  // remembers the current end of the file
    // Makes the diagnostics thread write, then returns what was added since.
    std::string added() const;

private:
    int64_t start;
};

// A child process running this test program's registered child function.
struct ChildResult {
    DWORD exitCode;
    bool finished;
};

// Registers a function the test program runs instead of the tests when it is
// started with "--child NAME [args]". The function's result is the exit code.
class ChildMain {
public:
    using Fn = int (*)(const std::vector<std::string>& args);
    ChildMain(const char* name, Fn fn);
    static int runIfChild(int argc, char** argv, bool& isChild);
};

class ChildProcess {
public:
    ChildProcess(const std::string& name, const std::vector<std::string>& args = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the end; false on time-out.
    bool wait(DWORD milliseconds);
    DWORD exitCode() const;
    void kill();
    HANDLE handle() const { return process; }

private:
    HANDLE process = nullptr;
};

// Waits until the predicate holds or the time runs out, pumping this thread's messages.
bool waitUntil(const std::function<bool()>& predicate, DWORD timeoutMs);

// Folder of the running test program.
std::string programFolder();

// CPU time of this process so far (every thread, kernel and user), in ms.
double processCpuMs();

// The performance counter, in seconds.
double secondsNow();

}  // namespace testsupport
