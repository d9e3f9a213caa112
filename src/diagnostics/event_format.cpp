#include "diagnostics/event_format.h"

#include <cstdarg>
#include <cstdio>

#include "diagnostics/levels.h"

namespace fw {

const char* levelName(int level) noexcept {
    switch (level) {
    case LEVEL_WARN: return "WARN";
    case LEVEL_ASSERT:
    case LEVEL_FATAL: return "F_ERR";
    case LEVEL_ERR: return "ERR";
    case LEVEL_USER: return "USER";
    case LEVEL_NOTIFY: return "NOTIFY";
    case LEVEL_ENV: return "ENV";
    case LEVEL_VERBOSE: return "VERBOSE";
    case LEVEL_TRACE: return "TRACE";
    case 110: return "-->";
    case 111: return "<--";
    default: return "????";
    }
}

const char* shortFileName(const char* path) noexcept {
    if (!path) return "";
    const char* last = nullptr;
    const char* secondLast = nullptr;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/') {
            secondLast = last;
            last = p;
        }
    }
    return secondLast ? secondLast + 1 : path;
}

const char* separatorFor(bool first, uint32_t elapsedMs) noexcept {
    if (first || elapsedMs > 10000) return "\n\n\n";
    if (elapsedMs > 1000) return "\n\n";
    if (elapsedMs > 250) return "\n";
    return "";
}

ElapsedValue elapsedValue(uint32_t ms) noexcept {
    if (ms <= 59999u) return {static_cast<float>(ms / 1000.0), "second(s)"};
    if (ms <= 3599999u) return {static_cast<float>(ms / 60000.0), "minute(s)"};
    if (ms > 172799999u) return {static_cast<float>(ms / 86400000.0), "day(s)"};
    return {static_cast<float>(ms / 3600000.0), "hour(s)"};
}

bool OutputBuffer::append(const char* fmt, ...) noexcept {
    std::size_t room = capacity - used;
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(data + used, room, fmt, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= room) {
        if (room) data[used] = '\0';
        return false;
    }
    used += static_cast<std::size_t>(n);
    return true;
}

bool EventPrinter::printRecord(OutputBuffer& out, const EventRecord& r) noexcept {
    uint32_t difference = r.tick - previousTick;  // wrap-safe
    const char* separator = separatorFor(!havePrevious, difference);
    uint32_t elapsed = havePrevious && previousTick < r.tick ? difference : 0;

    std::size_t start = out.mark();
    if (*separator && elapsed != 0) {
        ElapsedValue e = elapsedValue(elapsed);
        if (!out.append("%s%-10s                <<<  %0.2f %s elapsed since the last message >>>\n", separator,
                        ".ELAPSED.", static_cast<double>(e.value), e.unit)) {
            out.rewind(start);
            return false;
        }
        separator = "";
    }
    if (!out.append("%s%-10s #%-30s  %s(%d)   %s\n", separator, levelName(r.level), r.name ? r.name : "",
                    shortFileName(r.file), r.line, r.text ? r.text : "")) {
        out.rewind(start);
        return false;
    }
    havePrevious = true;
    previousTick = r.tick;
    return true;
}

bool EventPrinter::printDiscarded(OutputBuffer& out, uint32_t count, const char* bufferName) noexcept {
    return out.append("\nSYS #MessagesDiscarded\t\t<<<    %d message%s from %s buffer %s discarded  >>>\n\n",
                      static_cast<int>(count), count == 1 ? "" : "s", bufferName, count == 1 ? "was" : "were");
}

}  // namespace fw
