#include "support/support.h"

#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "diagnostics/eventlog.h"
#include "kit/text_code.h"

namespace testsupport {

TempDir::TempDir() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%ssonotape-test-%lu-%ld", base, ::GetCurrentProcessId(),
                      ::InterlockedIncrement(&counter));
        if (::CreateDirectoryA(name, nullptr)) {
            dir = name;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a scratch folder");
    }
}

TempDir::~TempDir() {
    std::string from = dir + std::string(1, '\0');
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    ::SHFileOperationA(&op);
}

// Paths are this program's code page (UTF-8 in a test program with the UTF-8
// manifest); the file streams and calls take them as wide text.
std::string readFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(kit::widen(path)), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(std::filesystem::path(kit::widen(path)), std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    return ::GetFileAttributesW(kit::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(kit::widen(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string withUnixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

EventsFile::EventsFile() {
    fw::ensureDiagnostics();
    fw::testing::flushNow();
    int64_t size = fileSize(fw::eventsFilePath());
    start = size < 0 ? 0 : size;
}

std::string EventsFile::added() const {
    fw::testing::flushNow();
    std::string all = readFile(fw::eventsFilePath());
    return withUnixLineEnds(
        all.substr(static_cast<std::size_t>(start) <= all.size() ? static_cast<std::size_t>(start) : all.size()));
}

// ---- child processes -----------------------------------------------------------------

namespace {
std::map<std::string, ChildMain::Fn>& children() {
    static std::map<std::string, ChildMain::Fn> map;
    return map;
}

std::string quote(const std::string& arg) {
    std::string q = "\"";
    for (char c : arg) {
        if (c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}
}  // namespace

ChildMain::ChildMain(const char* name, Fn fn) { children()[name] = fn; }

int ChildMain::runIfChild(int argc, char** argv, bool& isChild) {
    isChild = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--child") {
            auto it = children().find(argv[i + 1]);
            if (it == children().end()) {
                std::fprintf(stderr, "no child function %s\n", argv[i + 1]);
                isChild = true;
                return 99;
            }
            std::vector<std::string> args(argv + i + 2, argv + argc);
            isChild = true;
            return it->second(args);
        }
    }
    return 0;
}

std::string programFolder() {
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe);
    return path.substr(0, path.find_last_of("\\/"));
}

double secondsNow() {
    LARGE_INTEGER c, f;
    ::QueryPerformanceCounter(&c);
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double processCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& f) {
        return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

ChildProcess::ChildProcess(const std::string& name, const std::vector<std::string>& args) {
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string cmd = quote(exe) + " --child " + quote(name);
    for (auto& a : args) cmd += " " + quote(a);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start the child process");
    ::CloseHandle(pi.hThread);
    process = pi.hProcess;
}

ChildProcess::~ChildProcess() {
    if (process) {
        if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) ::TerminateProcess(process, 99);
        ::CloseHandle(process);
    }
}

bool ChildProcess::wait(DWORD milliseconds) { return ::WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0; }

DWORD ChildProcess::exitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

void ChildProcess::kill() { ::TerminateProcess(process, 99); }

bool waitUntil(const std::function<bool()>& predicate, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (predicate()) return true;
        if (::GetTickCount() - start > timeoutMs) return predicate();
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    }
}

}  // namespace testsupport
