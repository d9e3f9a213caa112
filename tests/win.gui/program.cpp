#include "program.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <regex>
#include <stdexcept>

#include "config/settings.h"
#include "driver.h"
#include "kit/regkey.h"
#include "support/support.h"
#include "support/ui.h"

namespace program {

Program::Program(const std::string& arguments, const std::string& workingFolder, const std::string& exePath) {
    std::string exe = exePath.empty() ? testsupport::programFolder() + "\\sonotape.exe" : exePath;
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, workingFolder.c_str(), &si,
                          &pi))
        throw std::runtime_error("cannot start sonotape.exe");
    ::CloseHandle(pi.hThread);
    process = pi.hProcess;
    processId = pi.dwProcessId;
}

Program::~Program() {
    if (!process) return;
    if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process, 99);
        ::WaitForSingleObject(process, 10000);
    }
    ::CloseHandle(process);
    // The tray forgets the icon of a killed program only when it notices.
    testsupport::pumpFor(100);
}

bool Program::waitExit(DWORD timeoutMs) {
    return testsupport::waitUntil([&] { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

DWORD Program::exitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

bool Program::running() const { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

HWND Program::mainWindow(DWORD timeoutMs) const {
    return driver::waitWindow(processId, kMainClass, "Sonotape", timeoutMs);
}

HWND Program::recordButton(DWORD timeoutMs) const {
    HWND main = mainWindow(timeoutMs);
    return main ? driver::childOf(main, "Button") : nullptr;
}

HWND Program::dialog(const char* title, DWORD timeoutMs) const {
    return driver::waitWindow(processId, kDialogClass, title, timeoutMs);
}

HWND Program::notificationWindow() const { return driver::findWindow(processId, kNotificationClass, nullptr); }

bool anyCopyRunning() {
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, "KorvelImageDockMutex");
    if (!mutex) return false;
    ::CloseHandle(mutex);
    return true;
}

Events::Events() {
    char folder[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE);
    path = std::string(folder) + "\\Korvel\\Korvel Sonotape Logged Events.txt";
    int64_t size = testsupport::fileSize(path);
    start = size < 0 ? 0 : size;
}

std::string Events::added() const {
    std::string all = testsupport::readFile(path);
    return static_cast<std::size_t>(start) < all.size() ? all.substr(static_cast<std::size_t>(start)) : std::string();
}

bool Events::waitFor(const std::string& text, DWORD timeoutMs) const {
    return testsupport::waitUntil([&] { return added().find(text) != std::string::npos; }, timeoutMs);
}

void removeSettings() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Settings::kKeyPath);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, Settings::kKeyPath);
    removeRunEntry();
}

void removeRunEntry() {
    HKEY run = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Settings::kRunKeyPath, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        ::RegDeleteValueA(run, Settings::kRunValue);
        ::RegCloseKey(run);
    }
}

void prepareSettings(const std::string& storageFolder, int lastFormat) {
    removeSettings();
    Settings cfg;
    cfg.storageDir = storageFolder.c_str();
    cfg.lastFormat = lastFormat;
    cfg.lastBitrate = 128;
    cfg.needCalibration = false;
    cfg.startUpDialog = false;
    cfg.volumeCoeff = 1.0;
    cfg.volumeLevel = 32767;
    cfg.line = 0;
    cfg.xPos = 20;
    cfg.yPos = 20;
    cfg.save();
}

bool runEntryExists() {
    HKEY run = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Settings::kRunKeyPath, 0, KEY_QUERY_VALUE, &run) != ERROR_SUCCESS)
        return false;
    bool exists = ::RegQueryValueExA(run, Settings::kRunValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(run);
    return exists;
}

void closeNormally(Program& running) {
    HWND main = driver::findWindow(running.id(), kMainClass, "Sonotape", false);
    ASSERT_NE(main, nullptr);
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(running.waitExit(15000));
    EXPECT_EQ(running.exitCode(), 0u);
}

Answer runCommand(const std::string& arguments, const std::string& folder) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    Answer answer;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return answer;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string exe = testsupport::programFolder() + "\\sonotape.exe";
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    BOOL started =
        ::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi);
    ::CloseHandle(writeEnd);
    if (started) {
        char buffer[512];
        DWORD bytes = 0;
        while (::ReadFile(readEnd, buffer, sizeof buffer, &bytes, nullptr) && bytes > 0)
            answer.output.append(buffer, bytes);
        ::WaitForSingleObject(pi.hProcess, 30000);
        ::GetExitCodeProcess(pi.hProcess, &answer.code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(readEnd);
    return answer;
}

std::vector<LogLine> logLines(const std::string& folder) {
    std::vector<LogLine> lines;
    std::string text = testsupport::withUnixLineEnds(testsupport::readFile(folder + "\\log.txt"));
    static const std::regex line("Recorded: (.+) (\\d\\d):(\\d\\d):(\\d\\d)\n");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
        const std::smatch& m = *it;
        lines.push_back({m[1], std::stoi(m[2]) * 3600 + std::stoi(m[3]) * 60 + std::stoi(m[4])});
    }
    return lines;
}

void ProgramCase::SetUp() { ASSERT_FALSE(anyCopyRunning()) << "a copy of the program is left running"; }

void ProgramCase::TearDown() {
    running.reset();
    EXPECT_TRUE(testsupport::waitUntil([] { return !anyCopyRunning(); }, 10000));
    removeRunEntry();
}

}  // namespace program
