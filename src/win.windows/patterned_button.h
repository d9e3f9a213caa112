// An owner-drawn round bitmap button, child of a CustomWindow. The parent
// hands its WM_DRAWITEM to the button's ButtonWrapper; the button draws its
// normal or alternate bitmap with the bitmap's top-left colour left out, in an
// elliptic window region.
#pragma once

#include <windows.h>

#include "win.windows/custom_window.h"

namespace kit {

class PatternedButton;

// The parent window's WM_DRAWITEM handler for one PatternedButton.
class ButtonWrapper : public IMessageHandler {
public:
    explicit ButtonWrapper(PatternedButton* button);
    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    PatternedButton* button;  // owns this wrapper
};

class PatternedButton : public CustomWindow {
public:
    // The bitmaps stay the caller's. Installs the button's wrapper as the
    // parent's WM_DRAWITEM handler, replacing any earlier one.
    PatternedButton(HINSTANCE instance, HWND parent, HBITMAP normal, HBITMAP alternate, int x, int y);
    ~PatternedButton() override;

    void setBitmap(HBITMAP bitmap);
    void setAlternate(bool on);
    bool isAlternate() const noexcept { return alternateOn; }
    HBITMAP currentBitmap() const noexcept { return alternateOn ? alternate : normal; }
    // Gives the window the ellipse of the normal bitmap's rectangle and redraws it.
    void setRegion();
    // Draws the button into the item's device context.
    void draw(const DRAWITEMSTRUCT& item);

private:
    HBITMAP normal;
    HBITMAP alternate;
    int x;
    int y;
    HWND parent;
    ButtonWrapper* wrapper = nullptr;
    bool alternateOn = false;
    HRGN region = nullptr;  // the region the window has (owned by the window once set)
};

}  // namespace kit
