#include "diagnostics/event_ring.h"

#include <cstdlib>

namespace fw {

EventRing::~EventRing() {
    // The log lives until the process ends; only test instances come here.
    std::free(records);
    std::free(text);
}

bool EventRing::allocate() noexcept {
    records = static_cast<EventRecord*>(std::calloc(kRecordSlots, sizeof(EventRecord)));
    text = static_cast<char*>(std::malloc(kTextBytes));
    return records && text;
}

// Room for `bytes` contiguous bytes. A text that does not fit between the write
// position and the end of the ring goes to the start of the ring (the bytes at
// the end are skipped), when the room up to the read position suffices.
char* EventRing::reserveText(std::size_t bytes) noexcept {
    if (textWrite >= textRead) {
        std::size_t tail = kTextBytes - textWrite;
        // Filling the tail exactly is allowed only when the write position may wrap to 0.
        if (bytes < tail || (bytes == tail && textRead != 0)) {
            char* p = text + textWrite;
            textWrite = (textWrite + bytes) % kTextBytes;
            return p;
        }
        if (bytes < textRead) {
            textWrite = bytes;
            return text;
        }
        return nullptr;
    }
    if (bytes < textRead - textWrite) {
        char* p = text + textWrite;
        textWrite += bytes;
        return p;
    }
    return nullptr;
}

void EventRing::popHead() noexcept {
    const EventRecord& r = records[recordRead];
    recordRead = (recordRead + 1) % kRecordSlots;
    if (recordRead == recordWrite) {
        // Emptied: every stored text has been consumed.
        (void)r;
        textRead = textWrite = 0;
    }
}

}  // namespace fw
