#include "kit/singleappinst.h"

#include <windows.h>

#include <utility>

#include "kit/exceptions.h"
#include "kit/scoped.h"

namespace kit {
namespace {

class SingleInstanceCookieImp : public SingleInstanceCookie {
public:
    explicit SingleInstanceCookieImp(ScopedHandle mutex_) noexcept : mutex(std::move(mutex_)) {}

private:
    ScopedHandle mutex;
};

}  // namespace

bool isSecondInstance(const char* name) {
    ::SetLastError(0);
    ScopedHandle mutex(::CreateMutexA(nullptr, FALSE, name));
    if (!mutex) {
        setOrigin(origins::kSecondInstanceCheck, "kit::isSecondInstance");
        throw ARuntimeError("::CreateMutex() failed");
    }
    bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    mutex.detach();  // kept open for the rest of the process
    return existed;
}

smartptr<SingleInstanceCookie> SingleInstanceChecker::startSingle() {
    ::SetLastError(0);
    ScopedHandle mutex(::CreateMutexA(nullptr, FALSE, name));
    if (!mutex) {
        setOrigin(origins::kSingleInstanceStart, "kit::SingleInstanceChecker::startSingle");
        throw ARuntimeError("::CreateMutex() failed");
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
    return smartptr<SingleInstanceCookie>(new SingleInstanceCookieImp(std::move(mutex)));
}

}  // namespace kit
