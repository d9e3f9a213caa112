// How stored events become lines of the events file. Pure functions and a
// small printer that remembers the tick of the previous printed record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

// One stored event. The texts point into a ring buffer (or anywhere for tests).
struct EventRecord {
    const char* file;
    int32_t line;
    int32_t level;
    const char* name;
    const char* text;
    uint32_t discardedBefore;  // events of this buffer dropped since the previous stored one
    uint32_t tick;
    uint32_t sequence;
};

// The last directory and the file name: the text after the second-to-last
// separator. Null gives "".
const char* shortFileName(const char* path) noexcept;

// Blank lines between two records printed `elapsedMs` apart.
const char* separatorFor(bool first, uint32_t elapsedMs) noexcept;

// Unit and value of an elapsed time for the ".ELAPSED." line.
struct ElapsedValue {
    float value;
    const char* unit;
};
ElapsedValue elapsedValue(uint32_t ms) noexcept;

// A fixed output area filled by one writing pass. Appending never truncates:
// a piece that does not fit is left out entirely and reported as failed.
class OutputBuffer {
public:
    OutputBuffer(char* storage, std::size_t capacity_) noexcept : data(storage), capacity(capacity_) {}
    void clear() noexcept { used = 0; }
    bool append(const char* fmt, ...) noexcept __attribute__((format(gnu_printf, 2, 3)));
    const char* begin() const noexcept { return data; }
    std::size_t size() const noexcept { return used; }
    std::size_t mark() const noexcept { return used; }
    void rewind(std::size_t to) noexcept { used = to; }

private:
    char* data;
    std::size_t capacity;
    std::size_t used = 0;
};

class EventPrinter {
public:
    // Prints the record, with its separator and elapsed line, as one piece.
    bool printRecord(OutputBuffer& out, const EventRecord& record) noexcept;
    static bool printDiscarded(OutputBuffer& out, uint32_t count, const char* bufferName) noexcept;

private:
    bool havePrevious = false;
    uint32_t previousTick = 0;
};

}  // namespace fw
