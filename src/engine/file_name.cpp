#include "engine/file_name.h"

#include <ctime>

#include "engine/engine.h"

namespace engine {

void formatFileName(const SYSTEMTIME& time, char* out, std::size_t size) {
    if (size == 0) return;
    std::tm t{};
    t.tm_year = time.wYear - 1900;
    t.tm_mon = time.wMonth - 1;
    t.tm_mday = time.wDay;
    t.tm_hour = time.wHour;
    t.tm_min = time.wMinute;
    t.tm_sec = time.wSecond;
    t.tm_wday = time.wDayOfWeek;
    if (std::strftime(out, size, "SNT_%d_%m_%y__%H-%M-%S", &t) == 0) out[0] = '\0';
}

std::string proposedFileName() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char name[kFileNameBytes];
    formatFileName(now, name, sizeof name);
    return name;
}

}  // namespace engine
