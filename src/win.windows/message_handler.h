// The one interface through which windows hand their messages to the objects
// that act on them.
#pragma once

#include <windows.h>

#include <map>

namespace kit {

struct IMessageHandler {
    virtual ~IMessageHandler() = default;
    // A handler that deals with the message sets `handled` and, where it
    // matters, `result`. It leaves both untouched otherwise.
    virtual void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) = 0;
};

// The handlers of one window: at most one per message number (a second one
// replaces the first; a null one is kept and makes that message's dispatch
// fail), and a default handler that sees every message after the table's.
class HandlerTable {
public:
    // Where the failure of a null entry is said to come from.
    struct Origin {
        const char* file;
        int line;
        const char* function;
    };

    void setDefault(IMessageHandler* handler) noexcept { fallback = handler; }
    void set(UINT message, IMessageHandler* handler) { entries[message] = handler; }
    // Removes the entry of `message` when `handler` is the one installed there.
    void remove(UINT message, IMessageHandler* handler) noexcept;
    IMessageHandler* find(UINT message) const noexcept;

    // The table's handler for the message first, then the default handler. A
    // null entry throws ARuntimeError "Tryed to call null-handler!" from
    // `nullEntry`. Answers false when there is no default handler.
    bool dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled,
                  const Origin& nullEntry) const;

private:
    IMessageHandler* fallback = nullptr;
    std::map<UINT, IMessageHandler*> entries;
};

}  // namespace kit
