#include "win.windows/patterned_button.h"

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/scoped.h"
#include "win.windows/bitmaps.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "kit_window";
}  // namespace

ButtonWrapper::ButtonWrapper(PatternedButton* button_) : button(button_) {
    FW_TRACE("ButtonWrapper() : (HWND)button = %p", static_cast<void*>(button_->getHandle()));
}

void ButtonWrapper::handleMessage(UINT message, WPARAM, LPARAM lParam, LRESULT& result, bool& handled) {
    if (message != WM_DRAWITEM) return;
    auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (!item || item->hwndItem != button->getHandle()) return;
    button->draw(*item);
    result = 0;
    handled = true;
}

PatternedButton::PatternedButton(HINSTANCE instance, HWND parent_, HBITMAP normal_, HBITMAP alternate_, int x_, int y_)
    : CustomWindow("CustomWindow"), normal(normal_), alternate(alternate_), x(x_), y(y_), parent(parent_) {
    FW_TRACE("PatternedButton() : parent = %p", static_cast<void*>(parent_));
    hWnd = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x_, y_, bitmapWidth(normal_),
                             bitmapHeight(normal_), parent_, nullptr, instance, static_cast<CustomWindow*>(this));
    if (!hWnd) {
        FW_TRACE("CreateWindow() failed");
        setOrigin(origins::kButtonCreate, "kit::PatternedButton::PatternedButton");
        throw WindowsError("CreateWindow() failed");
    }
    // Shaped before it is first drawn, so that it never paints over the
    // parent outside its ellipse.
    setRegion();
    wrapper = new ButtonWrapper(this);
    if (CustomWindow* owner = CustomWindow::fromHandle(parent_)) owner->setMessageHandler(WM_DRAWITEM, wrapper);
    FW_TRACE("Button created, hWnd = %p", static_cast<void*>(hWnd));
}

PatternedButton::~PatternedButton() {
    FW_TRACE("~PatternedButton");
    if (CustomWindow* owner = CustomWindow::fromHandle(parent)) owner->removeMessageHandler(WM_DRAWITEM, wrapper);
    delete wrapper;
}

void PatternedButton::setBitmap(HBITMAP bitmap) {
    normal = bitmap;
    region = nullptr;  // the next drawing shapes the window for this bitmap
    if (hWnd) ::InvalidateRect(hWnd, nullptr, FALSE);
}

void PatternedButton::setAlternate(bool on) {
    alternateOn = on;
    if (hWnd) ::InvalidateRect(hWnd, nullptr, FALSE);
}

void PatternedButton::setRegion() {
    ::SetWindowRgn(hWnd, nullptr, FALSE);
    region = nullptr;
    ScopedRegion ellipse(ellipticRegionOf(normal));
    if (!::SetWindowRgn(hWnd, ellipse.get(), TRUE)) {
        setOrigin(origins::kButtonRegion, "kit::PatternedButton::setRegion");
        throw WindowsError("SetWindowRgn() failed");
    }
    region = ellipse.detach();  // the window owns it now
}

void PatternedButton::draw(const DRAWITEMSTRUCT& item) {
    // Shaping the window redraws it; once shaped for the bitmap it stays so.
    if (!region) setRegion();
    HBITMAP shown = currentBitmap();
    drawBitmapTransparent(item.hDC, shown, pixelAt(shown, 0, 0));
}

}  // namespace kit
