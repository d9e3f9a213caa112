#include "encoding.common/rate_parts.h"

#include <windows.h>

#include <utility>

#include "diagnostics/eventlog.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.common/rate_parts";
constexpr uint32_t kNamesTried = 1000;
}  // namespace

std::string partFileName(const std::string& firstPath, uint32_t n) {
    std::size_t nameAt = firstPath.find_last_of("\\/:");
    nameAt = nameAt == std::string::npos ? 0 : nameAt + 1;
    std::size_t dot = firstPath.rfind('.');
    std::string number = " (" + std::to_string(n) + ")";
    if (dot == std::string::npos || dot <= nameAt) return firstPath + number;
    return firstPath.substr(0, dot) + number + firstPath.substr(dot);
}

RatePartsEncoder::RatePartsEncoder(std::string firstPath, const SoundFormat& format, Factory factory)
    : first(std::move(firstPath)), fmt(format), make(std::move(factory)) {
    current = make(first, 1, fmt);
}

void RatePartsEncoder::changeRate(uint32_t samplesPerSec) {
    if (static_cast<int32_t>(samplesPerSec) == fmt.samplesPerSec) return;
    uint32_t n = current->lastPartNumber() + 1;
    for (uint32_t tried = 0;
         tried < kNamesTried && ::GetFileAttributesA(partFileName(first, n).c_str()) != INVALID_FILE_ATTRIBUTES;
         ++tried)
        ++n;
    SoundFormat next = fmt;
    next.samplesPerSec = static_cast<int32_t>(samplesPerSec);
    smartptr<ISoundEncoder> following = make(first, n, next);
    current->close();
    earlierParts += current->fileParts();
    current = std::move(following);
    FW_LOG(fw::LEVEL_VERBOSE, "RatePart", "part %u at %u Hz: %s", static_cast<unsigned>(n),
           static_cast<unsigned>(samplesPerSec), partFileName(first, n).c_str());
    fmt = next;
}

}  // namespace kit
