// The application log: a small UTF-8 text file (with the byte-order mark, so
// that every Notepad reads it as UTF-8) with one line per finished recording, kept to at most `maxLines` lines by cutting the oldest lines off
// at the front, in place.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "kit/refcounted.h"
#include "kit/scoped.h"

namespace kit {

class WinLog : public refcounted {
public:
    static constexpr std::size_t kMessageBuffer = 16384;  // formatted message and its line end
    static constexpr DWORD kBlock = 1024;

    // Opens (or creates) the file; a file that cannot be opened leaves the log not ready.
    WinLog(const char* fileName, int32_t maxLines);
    ~WinLog() override = default;

    bool open(const char* fileName);
    // Appends one line (printf-style); an empty message is not written. A log
    // that is not ready tries to open its file again first. False when the
    // line could not be written (the platform's error in lastError()).
    bool add(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

    bool isReady() const noexcept { return ready; }
    int32_t lineCount() const noexcept { return lines; }
    const std::string& fileName() const noexcept { return name; }
    DWORD lastError() const noexcept { return error; }
    // True once, after the first line that could not be written: the user is
    // told once, not at every recording.
    bool takeWarning() noexcept;

private:
    // Byte offset of the start of line n (from 0), leaving the count at n; -1
    // when the file has fewer lines, with the count at the number of lines.
    int64_t findLine(int32_t n);
    void countLines();
    void prune();
    void seek(int64_t offset, DWORD from = FILE_BEGIN);

    bool failed(DWORD code);

    ScopedHandle file;
    std::string name;
    DWORD error = ERROR_SUCCESS;
    bool warningDue = false;
    bool warned = false;
    int32_t lines = 0;
    bool ready = false;
    int32_t maxLines;
    bool endsWithLineEnd = true;  // whether the next line starts right at the end of the file
    DWORD header = 0;             // the bytes of the UTF-8 mark at the start, which no line counts and no cut removes
};

// Lines in a text by the log's rule: a line starts at the beginning and after
// every line feed or zero byte, and counts when it has at least one byte.
int32_t countLogLines(const char* data, std::size_t size) noexcept;

}  // namespace kit
