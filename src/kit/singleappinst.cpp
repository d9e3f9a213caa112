#include "kit/singleappinst.h"

#include <windows.h>

#include "kit/exceptions.h"

namespace kit {
namespace {

class SingleInstanceCookieImp : public SingleInstanceCookie {
public:
    explicit SingleInstanceCookieImp(HANDLE mutex) noexcept : mutex(mutex) {}
    ~SingleInstanceCookieImp() override { ::CloseHandle(mutex); }

private:
    HANDLE mutex;
};

}  // namespace

bool isSecondInstance(const char* name) {
    ::SetLastError(0);
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
    if (!mutex) {
        setOrigin("kit_singleappinst", 17, "kit::isSecondInstance");
        throw ARuntimeError("::CreateMutex() failed");
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS;
}

smartptr<SingleInstanceCookie> SingleInstanceChecker::startSingle() {
    ::SetLastError(0);
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
    if (!mutex) {
        setOrigin("kit_singleappinst", 40, "kit::SingleInstanceChecker::startSingle");
        throw ARuntimeError("::CreateMutex() failed");
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return nullptr;
    }
    return smartptr<SingleInstanceCookie>(new SingleInstanceCookieImp(mutex));
}

}  // namespace kit
