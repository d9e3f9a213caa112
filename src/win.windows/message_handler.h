// The one interface through which windows hand their messages to the objects
// that act on them.
#pragma once

#include <windows.h>

namespace kit {

struct IMessageHandler {
    virtual ~IMessageHandler() = default;
    // A handler that deals with the message sets `handled` and, where it
    // matters, `result`. It leaves both untouched otherwise.
    virtual void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) = 0;
};

}  // namespace kit
