// Bound member-function handlers and ordered handler lists.
#pragma once

#include <algorithm>
#include <typeinfo>
#include <vector>

#include "kit/refcounted.h"

namespace kit {

template <class E>
class base_closure : public refcounted {
public:
    virtual void invoke(E event) = 0;
    virtual bool equals(const base_closure<E>& other) const = 0;
};

// Calls a member function of a target it does not own.
template <class E, class T>
class closure_imp : public base_closure<E> {
public:
    using Member = void (T::*)(E);

    closure_imp(T* target_, Member member_) : target(target_), member(member_) {}

    void invoke(E event) override { (target->*member)(event); }

    bool equals(const base_closure<E>& other) const override {
        auto* same = dynamic_cast<const closure_imp<E, T>*>(&other);
        return same && same->target == target && same->member == member;
    }

private:
    T* target;
    Member member;
};

template <class E, class T>
smartptr<base_closure<E>> makeClosure(T* target, void (T::*member)(E)) {
    return smartptr<base_closure<E>>(new closure_imp<E, T>(target, member));
}

// An ordered list of handlers; refuses a handler equal to one it holds.
template <class E>
class HandlerList {
public:
    using Handler = smartptr<base_closure<E>>;

    void addHandler(const Handler& handler) {
        if (find(*handler) != handlers.end()) {
            setOrigin("kit_closure", __LINE__, "kit::HandlerList::addHandler");
            throw ALogicError("attempted to add a handler which already exists");
        }
        handlers.push_back(handler);
    }

    void removeHandler(const Handler& handler) {
        auto it = find(*handler);
        if (it != handlers.end()) handlers.erase(it);
    }

    // Calls every handler in list order. A throwing handler stops the dispatch.
    void dispatch(const E& event) const {
        std::vector<Handler> snapshot = handlers;  // handlers may change the list
        for (auto& h : snapshot) h->invoke(event);
    }

    std::size_t size() const noexcept { return handlers.size(); }

private:
    typename std::vector<Handler>::iterator find(const base_closure<E>& wanted) {
        return std::find_if(handlers.begin(), handlers.end(), [&](const Handler& h) { return h->equals(wanted); });
    }
    std::vector<Handler> handlers;
};

}  // namespace kit
