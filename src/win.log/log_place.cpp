#include "win.log/log_place.h"

#include <shlobj.h>

#include "diagnostics/eventlog.h"
#include "kit/scoped.h"
#include "kit/text_code.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "win.log/log_place";
constexpr const char* kFileName = "log.txt";

std::string withSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
}

std::string currentFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
    return n > 0 && n <= MAX_PATH ? narrow(std::wstring_view(folder, n)) : std::string(".");
}

std::string dataFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, TRUE)) return currentFolder();
    return narrow(folder) + "\\Korvel\\Sonotape";
}

std::string reason(const std::string& path, DWORD error) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "there is a folder of that name";
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return "the file is read-only";
    char text[512] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                               sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    if (n == 0) return "error " + std::to_string(error);
    return std::string(text, n);
}

}  // namespace

bool canCreateFilesIn(const std::string& folder) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::string probe = withSlash(folder) + "~sonotape-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::GetTickCount() + attempt) + ".tmp";
        // Deleted on close: gone when the owner goes.
        kit::ScopedHandle h(::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (h) return true;
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

std::string applicationLogPath(const std::string& startFolder, const std::string& dataFolder) {
    if (canCreateFilesIn(startFolder)) return withSlash(startFolder) + kFileName;
    FW_TRACE("The folder %s cannot be written: the log goes to %s", startFolder.c_str(), dataFolder.c_str());
    ::SHCreateDirectoryExA(nullptr, dataFolder.c_str(), nullptr);
    return withSlash(dataFolder) + kFileName;
}

std::string applicationLogPath() { return applicationLogPath(currentFolder(), dataFolder()); }

std::string logNotWrittenMessage(const std::string& path, DWORD error) {
    return "The recording is saved, but it could not be noted in the log of recordings:\n\n" + path + "\n\n" +
           reason(path, error) + ".\n\nSonotape tries again with the next recording and does not say so again.";
}

}  // namespace kit
