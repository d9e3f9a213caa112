// Intrusive reference counting: refcounted and smartptr<T>.
//
// The count is a plain integer, not an atomic one: a counted object crosses
// threads only at hand-overs where one thread at a time adds and releases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "kit/exceptions.h"

namespace kit {

class refcounted {
public:
    refcounted() noexcept = default;
    refcounted(const refcounted&) noexcept {}  // a copy is a new object with its own count
    // cppcheck-suppress operatorEqVarError ; the count stays the object's own, as in the copy
    refcounted& operator=(const refcounted&) noexcept { return *this; }
    virtual ~refcounted() = default;

    void addRef() noexcept { ++refCount; }
    void release() noexcept {
        if (--refCount == 0) delete this;
    }
    int32_t references() const noexcept { return refCount; }

protected:
    int32_t refCount = 0;
};

template <class T>
class smartptr {
public:
    smartptr() noexcept = default;
    smartptr(std::nullptr_t) noexcept {}
    smartptr(T* object) noexcept : p(object) {
        if (p) p->addRef();
    }
    smartptr(const smartptr& other) noexcept : p(other.p) {
        if (p) p->addRef();
    }
    template <class U>
    smartptr(const smartptr<U>& other) noexcept : p(other.get()) {
        if (p) p->addRef();
    }
    smartptr(smartptr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ~smartptr() {
        if (p) p->release();
    }

    // Takes the new reference before releasing the old one, so assigning an
    // object to a pointer that already holds it keeps it alive.
    smartptr& operator=(const smartptr& other) noexcept {
        T* old = p;
        p = other.p;
        if (p) p->addRef();
        if (old) old->release();
        return *this;
    }
    smartptr& operator=(smartptr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(p, std::exchange(other.p, nullptr));
            if (old) old->release();
        }
        return *this;
    }

    void reset() noexcept {
        if (T* old = std::exchange(p, nullptr)) old->release();
    }

    T& operator*() const {
        if (!p) {
            setOrigin(origins::kSmartPtrDereference, __PRETTY_FUNCTION__);
            throw NullPointerException();
        }
        return *p;
    }
    T* operator->() const {
        if (!p) {
            setOrigin(origins::kSmartPtrMember, __PRETTY_FUNCTION__);
            throw NullPointerException();
        }
        return p;
    }

    T* get() const noexcept { return p; }
    explicit operator bool() const noexcept { return p != nullptr; }

    template <class U>
    bool operator==(const smartptr<U>& other) const noexcept {
        return p == other.get();
    }
    bool operator==(std::nullptr_t) const noexcept { return p == nullptr; }

private:
    T* p = nullptr;
};

template <class T, class... Args>
smartptr<T> makeCounted(Args&&... args) {
    return smartptr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace kit
