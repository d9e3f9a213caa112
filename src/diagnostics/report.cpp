#include "diagnostics/report.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "kit/exceptions.h"

namespace fw {
namespace {

std::string typeName(const std::type_info& type) {
    int status = 0;
    char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && readable ? readable : type.name();
    std::free(readable);
    return name;
}

}  // namespace

void reportCurrentException(const char* file, int line, int level) noexcept {
    auto prepare = [&] {
        setTraceOrigin(file, line);
        setEventLevel(level);
    };
    try {
        try {
            // cppcheck-suppress rethrowNoCurrentException ; called only from within a catch handler
            throw;
        } catch (FwException& e) {
            prepare();
            logEvent("CaughtFwException", "type = %s", typeName(typeid(e)).c_str());
        } catch (std::exception& e) {
            prepare();
            logEvent("CaughtStdException", "type = %s, message = %s", typeName(typeid(e)).c_str(), e.what());
        } catch (kit::Exception& e) {
            prepare();
            const char* origin = e.originFile();
            logEvent("CaughtKitException", "type = %s, message = %s, file = %s, line = %d", typeName(typeid(e)).c_str(),
                     e.message().c_str(), origin ? origin : "(null)", e.originLine());
        } catch (...) {
            prepare();
            logEvent("CaughtUnknownException", "%s", "");
        }
    } catch (...) {
        // Reporting itself failed (out of memory while formatting); nothing more can be done.
    }
}

}  // namespace fw

namespace fw {

bool registerWindowClass(const WNDCLASSEXA& wc) noexcept {
    if (::RegisterClassExA(&wc)) return true;
    if (::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    return ::GetClassInfoExA(wc.hInstance, wc.lpszClassName, &existing) != FALSE;
}

}  // namespace fw
