#include "win.windows/message_handler.h"

#include "kit/exceptions.h"

namespace kit {

void HandlerTable::remove(UINT message, IMessageHandler* handler) noexcept {
    auto it = entries.find(message);
    if (it != entries.end() && it->second == handler) entries.erase(it);
}

IMessageHandler* HandlerTable::find(UINT message) const noexcept {
    auto it = entries.find(message);
    return it == entries.end() ? nullptr : it->second;
}

bool HandlerTable::dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled,
                            const Origin& nullEntry) const {
    auto it = entries.find(message);
    if (it != entries.end()) {
        if (!it->second) {
            setOrigin(nullEntry.file, nullEntry.line, nullEntry.function);
            throw ARuntimeError("Tryed to call null-handler!");
        }
        it->second->handleMessage(message, wParam, lParam, result, handled);
    }
    if (!fallback) return false;
    fallback->handleMessage(message, wParam, lParam, result, handled);
    return true;
}

}  // namespace kit
