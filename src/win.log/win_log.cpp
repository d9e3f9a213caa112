#include "win.log/win_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "diagnostics/eventlog.h"
#include "kit/text_code.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "win.log/winlog";

bool startsNextLine(char byte) { return byte == '\n' || byte == '\0'; }
}  // namespace

int32_t countLogLines(const char* data, std::size_t size) noexcept {
    int32_t count = 0;
    bool lineStart = true;
    for (std::size_t i = 0; i < size; ++i) {
        if (lineStart) {
            ++count;
            lineStart = false;
        }
        if (startsNextLine(data[i])) lineStart = true;
    }
    return count;
}

WinLog::WinLog(const char* fileName, int32_t maxLines_) : maxLines(maxLines_ < 0 ? 0 : maxLines_) {
    ready = open(fileName);
    FW_TRACE("WinLog init:%s", ready ? "Ok." : "Err.");
}

bool WinLog::open(const char* fileName) {
    if (ready) {
        file.reset();
        ready = false;
    }
    name = fileName;
    // UTF-8 with its mark; a log an earlier version wrote in the system's code
    // page is converted once.
    makeUtf8TextFile(fileName);
    HANDLE h = ::CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        FW_TRACE("Cannot open %s, error %lu", fileName, static_cast<unsigned long>(error));
        return false;
    }
    file.reset(h);
    ready = true;
    char head[3] = {};
    DWORD got = 0;
    header = ::ReadFile(h, head, sizeof head, &got, nullptr) && std::string_view(head, got) == kUtf8Mark ? got : 0;
    countLines();
    return true;
}

void WinLog::seek(int64_t offset, DWORD from) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    ::SetFilePointerEx(file.get(), to, nullptr, from);
}

int64_t WinLog::findLine(int32_t n) {
    lines = 0;
    seek(header);
    bool lineStart = true;
    char block[kBlock];
    int64_t blockStart = header;
    DWORD got = 0;
    char last = '\n';
    while (::ReadFile(file.get(), block, kBlock, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (lineStart) {
                if (lines == n) {
                    char head[11] = {};
                    std::memcpy(head, block, got < 10 ? got : 10);
                    FW_TRACE("line = %d str = %10.10s", static_cast<int>(lines), head);
                    return blockStart + i;
                }
                ++lines;
                lineStart = false;
            }
            if (startsNextLine(block[i])) lineStart = true;
        }
        last = block[got - 1];
        blockStart += got;
    }
    endsWithLineEnd = startsNextLine(last);
    return -1;
}

void WinLog::countLines() {
    findLine(-1);
    FW_TRACE("Lines in file: %d", static_cast<int>(lines));
    if (lines > maxLines) prune();
}

void WinLog::prune() {
    int32_t n = lines - maxLines;
    FW_TRACE("Prune %d lines...", static_cast<int>(n));
    int64_t from = findLine(n);
    if (from < 0) {
        // Fewer lines than believed: the file holds no line to keep before its end.
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file.get(), &size);
        from = size.QuadPart;
        endsWithLineEnd = true;
    }
    FW_TRACE("fileFromPos = %d", static_cast<int>(from));
    int64_t readAt = from, writeAt = header;  // the mark stays
    char block[kBlock];
    for (;;) {
        DWORD got = 0, put = 0;
        seek(readAt);
        if (!::ReadFile(file.get(), block, kBlock, &got, nullptr) || got == 0) break;
        seek(writeAt);
        ::WriteFile(file.get(), block, got, &put, nullptr);
        readAt += got;
        writeAt += got;
    }
    seek(writeAt);
    ::SetEndOfFile(file.get());
    FW_TRACE("Done");
    lines = maxLines;
}

bool WinLog::failed(DWORD code) {
    error = code;
    if (!warned) warningDue = true;
    return false;
}

bool WinLog::takeWarning() noexcept {
    if (!warningDue) return false;
    warningDue = false;
    warned = true;
    return true;
}

bool WinLog::add(const char* format, ...) {
    std::vector<char> message(kMessageBuffer);
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(message.data(), kMessageBuffer, format, args);
    va_end(args);
    if (length < 0) length = 0;
    if (static_cast<std::size_t>(length) > kMessageBuffer - 3) {
        // Cut to fit the line end, between two characters.
        std::string_view formatted(message.data(),
                                   std::min<std::size_t>(static_cast<std::size_t>(length), kMessageBuffer - 1));
        length = static_cast<int>(headBytes(formatted, kMessageBuffer - 3));
    }
    if (length == 0) {
        FW_TRACE("Empty string has been try adding to log");
        return true;
    }
    FW_TRACE("Save to log:%s", message.data());
    std::string line = toUtf8(std::string_view(message.data(), static_cast<std::size_t>(length))) + "\r\n";
    if (!ready && !open(std::string(name).c_str())) {
        FW_TRACE("Log file not ready!");
        return failed(error);
    }
    seek(0, FILE_END);
    if (!endsWithLineEnd) {
        // The file's last line has no line end: the new line must not be glued to it.
        DWORD put = 0;
        ::WriteFile(file.get(), "\r\n", 2, &put, nullptr);
        endsWithLineEnd = true;
    }
    DWORD written = 0;
    ::SetLastError(ERROR_SUCCESS);
    if (!::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) written = 0;
    if (written < static_cast<DWORD>(line.size())) {
        DWORD code = ::GetLastError();
        FW_TRACE("Savelog file error");
        if (written > 0) endsWithLineEnd = false;  // a part of the line: the next one starts on a line of its own
        return failed(code != ERROR_SUCCESS ? code : ERROR_DISK_FULL);
    }
    ++lines;
    if (lines > maxLines) prune();
    return true;
}

}  // namespace kit
