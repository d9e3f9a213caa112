// Scope-based, move-only owners of platform handles: one wrapper per handle
// kind, so that no path (return, throw) leaks a handle.
#pragma once

#include <windows.h>

#include <utility>

namespace kit {

template <class Traits>
class Scoped {
public:
    using Handle = typename Traits::Handle;

    Scoped() noexcept = default;
    explicit Scoped(Handle h) noexcept : h(h) {}
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : h(other.detach()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    ~Scoped() { reset(); }

    Handle get() const noexcept { return h; }
    explicit operator bool() const noexcept { return Traits::valid(h); }
    Handle detach() noexcept { return std::exchange(h, Traits::invalid()); }
    void reset(Handle newHandle = Traits::invalid()) noexcept {
        Handle old = std::exchange(h, newHandle);
        if (Traits::valid(old)) Traits::close(old);
    }
    // For APIs that return the handle through an out-parameter.
    Handle* receive() noexcept {
        reset();
        return &h;
    }

private:
    Handle h = Traits::invalid();
};

template <class H, auto Close, H Invalid = H{}>
struct SimpleTraits {
    using Handle = H;
    static Handle invalid() noexcept { return Invalid; }
    static bool valid(Handle h) noexcept { return h != Invalid; }
    static void close(Handle h) noexcept { Close(h); }
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { ::CloseHandle(h); }
};

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::DeleteObject(h); }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedKey = Scoped<SimpleTraits<HKEY, &::RegCloseKey>>;
using ScopedGdiObject = Scoped<GdiObjectTraits>;
using ScopedModule = Scoped<SimpleTraits<HMODULE, &::FreeLibrary>>;
using ScopedIcon = Scoped<SimpleTraits<HICON, &::DestroyIcon>>;
using ScopedCursor = Scoped<SimpleTraits<HCURSOR, &::DestroyCursor>>;
using ScopedMenu = Scoped<SimpleTraits<HMENU, &::DestroyMenu>>;

}  // namespace kit
