// One of the event log's two in-memory buffers: a ring of record slots and a
// ring of text bytes, guarded by one lock. Both rings keep one unit free to
// tell full from empty.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "diagnostics/event_format.h"

namespace fw {

class EventRing {
public:
    static constexpr unsigned kRecordSlots = 1000;
    static constexpr unsigned kTextBytes = 65536;

    explicit EventRing(const char* name) noexcept : bufferName(name) {}
    ~EventRing();
    EventRing(const EventRing&) = delete;
    EventRing& operator=(const EventRing&) = delete;

    // Allocates the two rings; false when memory is short.
    bool allocate() noexcept;
    const char* name() const noexcept { return bufferName; }

    // A short spin lock: producers hold it for two copies; the writing pass
    // holds it longer, and waiters then yield their time slice.
    void lock() noexcept {
        for (int spins = 0; held.exchange(true, std::memory_order_acquire); ++spins) {
            if (spins < 64)
                __builtin_ia32_pause();
            else
                ::SwitchToThread();
        }
    }
    void unlock() noexcept { held.store(false, std::memory_order_release); }

    // Under the lock: stores the event (copying name and text) or, when a slot
    // or the text room is missing, counts it as dropped. `nextSequence` is
    // called only for a stored event.
    template <class NextSequence>
    bool store(const char* file, int32_t line, int32_t level, const char* eventName, std::size_t nameLength,
               const char* text, std::size_t textLength, uint32_t tick, NextSequence nextSequence) noexcept;

    // Under the lock.
    bool empty() const noexcept { return recordRead == recordWrite; }
    const EventRecord& head() const noexcept { return records[recordRead]; }
    void popHead() noexcept;
    uint32_t takeDropped() noexcept {
        uint32_t n = dropped;
        dropped = 0;
        return n;
    }
    unsigned count() const noexcept { return (recordWrite + kRecordSlots - recordRead) % kRecordSlots; }

private:
    char* reserveText(std::size_t bytes) noexcept;

    const char* bufferName;
    std::atomic<bool> held{false};
    EventRecord* records = nullptr;
    char* text = nullptr;
    unsigned recordRead = 0, recordWrite = 0;
    std::size_t textRead = 0, textWrite = 0;
    uint32_t dropped = 0;
};

template <class NextSequence>
bool EventRing::store(const char* file, int32_t line, int32_t level, const char* eventName, std::size_t nameLength,
                      const char* eventText, std::size_t textLength, uint32_t tick,
                      NextSequence nextSequence) noexcept {
    unsigned nextWrite = (recordWrite + 1) % kRecordSlots;
    if (nextWrite == recordRead) {
        ++dropped;
        return false;
    }
    std::size_t savedWrite = textWrite;
    char* nameCopy = reserveText(nameLength + 1);
    char* textCopy = nameCopy ? reserveText(textLength + 1) : nullptr;
    if (!textCopy) {
        textWrite = savedWrite;
        ++dropped;
        return false;
    }
    std::memcpy(nameCopy, eventName, nameLength);
    nameCopy[nameLength] = '\0';
    std::memcpy(textCopy, eventText, textLength);
    textCopy[textLength] = '\0';
    records[recordWrite] = EventRecord{file, line, level, nameCopy, textCopy, dropped, tick, nextSequence()};
    dropped = 0;
    recordWrite = nextWrite;
    return true;
}

}  // namespace fw
