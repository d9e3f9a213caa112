// Scope-based, move-only owners of platform handles: one wrapper per handle
// kind, so that no path (return, throw) leaks a handle.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace kit {

template <class Traits>
class Scoped {
public:
    using Handle = typename Traits::Handle;

    Scoped() noexcept = default;
    explicit Scoped(Handle h_) noexcept : h(h_) {}
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
using ScopedFont = Scoped<SimpleTraits<HFONT, &::DeleteObject>>;
using ScopedBitmap = Scoped<SimpleTraits<HBITMAP, &::DeleteObject>>;
using ScopedRegion = Scoped<SimpleTraits<HRGN, &::DeleteObject>>;
using ScopedMemoryDC = Scoped<SimpleTraits<HDC, &::DeleteDC>>;

// One reference to a COM interface, released when the owner goes. Move-only:
// a copy would need an AddRef that nobody sees.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller holds (no AddRef).
    explicit ComPtr(T* p_) noexcept : p(p_) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return p; }
    T* operator->() const noexcept { return p; }
    explicit operator bool() const noexcept { return p != nullptr; }
    T* detach() noexcept { return std::exchange(p, nullptr); }
    void reset(T* newPointer = nullptr) noexcept {
        if (T* old = std::exchange(p, newPointer)) old->Release();
    }
    // For calls that hand out an interface through an out-parameter.
    T** receive() noexcept {
        reset();
        return &p;
    }
    void** receiveVoid() noexcept { return reinterpret_cast<void**>(receive()); }

private:
    T* p = nullptr;
};

// Memory the platform hands out with CoTaskMemAlloc (strings, formats).
template <class T>
class CoTaskMem {
public:
    CoTaskMem() noexcept = default;
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    ~CoTaskMem() { ::CoTaskMemFree(p); }
    T* get() const noexcept { return p; }
    T** receive() noexcept {
        ::CoTaskMemFree(std::exchange(p, nullptr));
        return &p;
    }

private:
    T* p = nullptr;
};

// COM on the current thread for the owner's lifetime: CoInitializeEx, and
// CoUninitialize only when that call succeeded (also with S_FALSE: the
// thread was already initialised, and every success needs its own uninit).
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) noexcept : hr(::CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr)) ::CoUninitialize();
    }
    bool ok() const noexcept { return SUCCEEDED(hr); }
    HRESULT result() const noexcept { return hr; }

private:
    HRESULT hr;
};

}  // namespace kit
