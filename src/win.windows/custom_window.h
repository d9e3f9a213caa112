// A window object that hands the messages of its window to handler objects.
//
// Every CustomWindow class uses the program's one window procedure
// (diagnostics/window_procedure.h): the object given at creation receives
// every message of its window in `handleMessage`, inside the catch-and-report
// frame, so that no exception ever leaves the procedure.
#pragma once

#include <windows.h>

#include "diagnostics/window_procedure.h"
#include "kit/refcounted.h"
#include "kit/shared_string.h"
#include "win.windows/message_handler.h"

namespace kit {

// Text shown by a window. While frozen, setText is ignored.
class TextWindow {
public:
    virtual ~TextWindow() = default;
    virtual void setText(const shared_string& newText);
    virtual shared_string getText() const;
    virtual void freezeText();
    virtual void unfreezeText();
    bool isTextFrozen() const noexcept { return frozen; }

protected:
    shared_string text{" "};
    bool frozen = false;
};

class CustomWindow : public refcounted {
public:
    explicit CustomWindow(shared_string name);
    ~CustomWindow() override;  // destroys the window
    CustomWindow(const CustomWindow&) = delete;
    CustomWindow& operator=(const CustomWindow&) = delete;

    void setDefaultHandler(IMessageHandler* handler) noexcept { handlers.setDefault(handler); }
    // One handler per message number; a second one replaces the first. A null
    // handler is kept as such and makes the dispatch of that message fail.
    void setMessageHandler(UINT message, IMessageHandler* handler);
    // Removes the entry of `message` when `handler` is the one installed there.
    void removeMessageHandler(UINT message, IMessageHandler* handler) noexcept;
    // The handler installed for `message`, or null.
    IMessageHandler* getMessageHandler(UINT message) const noexcept;

    HWND getHandle() const noexcept { return hWnd; }
    const shared_string& getName() const noexcept { return name; }

    // The dispatch: the table's handler for the message first (when there is
    // an entry), then the default handler.
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled);

    // The window procedure shared by every CustomWindow class.
    static constexpr auto windowProc = &fw::windowProcedure<CustomWindow>;
    // The object of a window created with windowProc, or null.
    static CustomWindow* fromHandle(HWND hwnd) noexcept;

    // What the window procedure needs.
    static constexpr fw::CatchSite kCatchSite = origins::kCustomWindowCatch;
    static CustomWindow* attach(HWND hwnd, void* creationParameter) noexcept;
    void detach(HWND hwnd) noexcept;

protected:
    // Registers a window class (one this process registered before is
    // accepted); any other failure throws WindowsError "RegisterClassEx() failed".
    static void registerClass(const WNDCLASSEXA& wc);

    shared_string name;
    HWND hWnd = nullptr;

private:
    HandlerTable handlers;
};

}  // namespace kit
