#include "sound.capture/volume_meter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "diagnostics/eventlog.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "sound.capture/volume_meter";

// The chunk's bytes as samples. Blocks come from the capture buffers, which
// are aligned; an odd trailing byte is not a sample.
const int16_t* samplesOf(const Chunk& chunk, std::vector<int16_t>& copy) {
    std::size_t n = chunk.length / 2;
    if (reinterpret_cast<uintptr_t>(chunk.data) % alignof(int16_t) == 0)
        return reinterpret_cast<const int16_t*>(chunk.data);
    copy.resize(n);
    std::memcpy(copy.data(), chunk.data, n * 2);
    return copy.data();
}

}  // namespace

bool VolumeMeterBase::isReady() const { return count() > 2; }

std::size_t VolumeMeterBase::count() const {
    std::lock_guard<std::mutex> hold(lock);
    return values.size();
}

void VolumeMeterBase::append(double value) {
    std::lock_guard<std::mutex> hold(lock);
    values.push_back(value);
}

std::deque<double> VolumeMeterBase::takeValues() {
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(values, {});
}

double VolumeMeter::blockAverage(const int16_t* samples, std::size_t count) {
    if (count == 0) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += std::abs(static_cast<int>(samples[i]));
    return sum / static_cast<double>(count);
}

void VolumeMeter::encodeChunk(const Chunk& chunk) {
    try {
        std::size_t n = chunk.length / 2;
        if (n == 0) return;
        std::vector<int16_t> copy;
        append(blockAverage(samplesOf(chunk, copy), n));
    } catch (...) {
        FW_TRACE("AAAAAAAAAAAAAAAAAAAAAAAAAa");
    }
}

int VolumeMeter::takeResult() {
    std::deque<double> taken = takeValues();
    if (taken.empty()) return 0;
    double sum = 0;
    for (double v : taken) sum += v;
    return static_cast<int>(sum / static_cast<double>(taken.size()));
}

int16_t VolumeMeter2::blockPeak(const int16_t* samples, std::size_t count) {
    int peak = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int a = std::abs(static_cast<int>(samples[i]));
        if (a > peak) peak = a;
    }
    return static_cast<int16_t>(peak > 32767 ? 32767 : peak);
}

void VolumeMeter2::encodeChunk(const Chunk& chunk) {
    if (chunk.length < 2) return;
    std::vector<int16_t> copy;
    append(blockPeak(samplesOf(chunk, copy), chunk.length / 2));
}

int VolumeMeter2::takeResult() {
    int best = 0;
    for (double v : takeValues()) {
        auto value = static_cast<int16_t>(static_cast<int>(v));
        if (value > best) best = value;
    }
    return best;
}

}  // namespace kit
