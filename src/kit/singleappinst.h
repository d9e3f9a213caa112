// The single-instance guard: a named mutex held for as long as the cookie lives.
#pragma once

#include "kit/refcounted.h"

namespace kit {

class SingleInstanceCookie : public refcounted {};

// True when the named mutex already existed (another instance runs). The
// handle stays open for the rest of the process.
bool isSecondInstance(const char* name);

class SingleInstanceChecker {
public:
    explicit SingleInstanceChecker(const char* mutexName) noexcept : name(mutexName) {}
    // A cookie that holds the guard, or null when another instance runs.
    smartptr<SingleInstanceCookie> startSingle();

private:
    const char* name;
};

}  // namespace kit
