// The real sonotape.exe as a child process of a test: started with chosen
// arguments in a chosen working folder (where its log.txt goes), its windows
// found by their classes, its events file read, and ended for sure.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace program {

constexpr const char* kMainClass = "winkit.win.windows.patterned_window_class";
constexpr const char* kNotificationClass = "popkit.win.tranparentwindow.transparent_window_class";
constexpr const char* kUtilityClass = "kitlib.cxx.win.utilwindow.wndclass";
constexpr const char* kDialogClass = "#32770";

class Program {
public:
    // The program of the tests' build folder, or the one at `exe` (an installed copy).
    Program(const std::string& arguments, const std::string& workingFolder, const std::string& exe = "");
    ~Program();  // a program still running is ended (and waited for)
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    DWORD id() const noexcept { return processId; }
    bool waitExit(DWORD timeoutMs);
    DWORD exitCode() const;
    bool running() const;

    // The visible main window, or null when it does not show in time.
    HWND mainWindow(DWORD timeoutMs = 10000) const;
    HWND recordButton(DWORD timeoutMs = 10000) const;
    // A visible dialog or message box with that title.
    HWND dialog(const char* title, DWORD timeoutMs = 10000) const;
    HWND notificationWindow() const;  // null while hidden

private:
    HANDLE process = nullptr;
    DWORD processId = 0;
};

// True while some copy of the program holds its single-instance mutex.
bool anyCopyRunning();

// The program's events file, read from the point where this object was made.
class Events {
public:
    Events();
    std::string added() const;
    // Waits until the added text holds `text`.
    bool waitFor(const std::string& text, DWORD timeoutMs) const;

private:
    std::string path;
    int64_t start = 0;
};

// Settings stored before the program starts: no calibration prompt, no
// welcome dialog, the level coefficient 1.0 (recordings bit for bit), the
// given storage folder and last format, no Run entry.
void prepareSettings(const std::string& storageFolder, int lastFormat);
// No settings at all: the program's first start.
void removeSettings();
bool runEntryExists();
void removeRunEntry();

// sonotape.exe with `arguments` started in `folder`, its standard output
// (a pipe) read to the end, and its exit code (99 when it did not end).
struct Answer {
    DWORD code = 99;
    std::string output;
};
Answer runCommand(const std::string& arguments, const std::string& folder);

// Ends `running` through its main window and expects exit code 0 (test
// failures where not).
void closeNormally(Program& running);

// A "Recorded:" line of log.txt: the file and its length in seconds.
struct LogLine {
    std::string path;
    int seconds = -1;
};
// The "Recorded:" lines of the log.txt in `folder`, in order.
std::vector<LogLine> logLines(const std::string& folder);

// A test of the real program: no copy runs before it, none is left after it
// (the one in `running` is ended), and no Run entry stays behind.
class ProgramCase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<Program> running;
};

}  // namespace program
