#include "kit/oslib.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/text_code.h"

namespace kit {
namespace {

[[noreturn]] void fail(origins::Site site, const char* function, const char* text) {
    setOrigin(site, function);
    throw ARuntimeError(text);
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string unquoted(const char* piece) {
    std::string s(piece);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

shared_string getCurrentExecutableName() {
    wchar_t name[270];
    DWORD n = ::GetModuleFileNameW(nullptr, name, static_cast<DWORD>(std::size(name)));
    if (n == 0)
        fail(origins::kExecutableName, "kit::getCurrentExecutableName",
             "Cannot get current executable's file name (with ::GetModuleFileName)");
    if (n >= std::size(name))
        fail(origins::kExecutableNameLong, "kit::getCurrentExecutableName", "Out of executable's file name buffer");
    return shared_string(narrow(std::wstring_view(name, n)));
}

shared_string getSpecialDirectory(int csidl) {
    // The shell's folders as wide text, converted here.
    wchar_t path[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE))
        fail(origins::kSpecialDirectory, "kit::getSpecialDirectory", "::SHGetSpecialFolderPath() failed");
    return shared_string(narrow(path));
}

shared_string getAppDataDirectory() { return getSpecialDirectory(CSIDL_APPDATA); }
shared_string getLocalAppDataDirectory() { return getSpecialDirectory(CSIDL_LOCAL_APPDATA); }
shared_string getPicturesDirectory() { return getSpecialDirectory(CSIDL_MYPICTURES); }
shared_string getMusicDirectory() { return getSpecialDirectory(CSIDL_MYMUSIC); }
shared_string getDocumentsDirectory() { return getSpecialDirectory(CSIDL_MYDOCUMENTS); }

shared_string getTempPath() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, path);
    if (n == 0 || n > MAX_PATH) fail(origins::kTempPath, "kit::getTempPath", "::GetTempPath() failed");
    return shared_string(narrow(std::wstring_view(path, n)));
}

shared_string getTempFileName(const char* prefix) {
    shared_string folder = getTempPath();
    wchar_t path[MAX_PATH + 1] = {};
    if (!::GetTempFileNameW(widen(folder.view()).c_str(), widen(prefix).c_str(), 0, path))
        fail(origins::kTempFileName, "kit::getTempFileName", "::GetTempFileName() failed");
    return shared_string(narrow(path));
}

bool fileExists(const char* path) {
    fw::setTraceOrigin(origins::kFileExistsTrace.source, origins::kFileExistsTrace.line);
    fw::trace("checking %s", path);
    File f(std::fopen(path, "rb"));
    return f != nullptr;
}

shared_string joinPath(const char* a, const char* b) {
    if (!a || !*a) return shared_string(b);
    if (!b || !*b) return shared_string(a);
    std::string first = unquoted(a);
    std::string second = unquoted(b);
    bool firstEnds = !first.empty() && isSeparator(first.back());
    bool secondBegins = !second.empty() && isSeparator(second.front());
    if (firstEnds && secondBegins) return shared_string(first + second.substr(1));
    if (firstEnds || secondBegins) return shared_string(first + second);
    return shared_string(first + "/" + second);
}

void readDataFile(const char* path, void* buffer, std::size_t size) {
    File f(std::fopen(path, "rb"));
    if (!f) fail(origins::kReadOpen, "kit::readDataFile", "fopen() failed in readDataFile()");
    if (std::fread(buffer, 1, size, f.get()) != size)
        fail(origins::kReadData, "kit::readDataFile", "fwrite() failed in readDataFile()");
    long position = std::ftell(f.get());
    std::fseek(f.get(), 0, SEEK_END);
    if (std::ftell(f.get()) != position)
        fail(origins::kReadTooLarge, "kit::readDataFile", "input file too large in readDataFile()");
}

void writeDataFile(const char* path, const void* data, std::size_t size) {
    File f(std::fopen(path, "wb"));
    if (!f) fail(origins::kWriteOpen, "kit::writeDataFile", "fopen() failed in writeDataFile()");
    if (std::fwrite(data, 1, size, f.get()) != size)
        fail(origins::kWriteData, "kit::writeDataFile", "fwrite() failed in writeDataFile()");
}

void copyFile(const char* source, const char* destination) {
    File in(std::fopen(source, "rb"));
    if (!in) fail(origins::kCopyOpenSource, "kit::copyFile", "Cannot open source file in copyFile()");
    File out(std::fopen(destination, "wb"));
    if (!out) fail(origins::kCopyOpenDestination, "kit::copyFile", "Cannot open destination file in copyFile()");
    constexpr std::size_t kBlock = 524288;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBlock]);
    if (!buffer) fail(origins::kCopyBuffer, "kit::copyFile", "Out of memory in copyFile()");
    for (;;) {
        std::size_t n = std::fread(buffer.get(), 1, kBlock, in.get());
        if (n == 0) break;
        std::fwrite(buffer.get(), 1, n, out.get());
    }
}

shared_string getDefaultMusicFolder() {
    try {
        return getMusicDirectory();
    } catch (...) {
        return getDocumentsDirectory();
    }
}

}  // namespace kit
