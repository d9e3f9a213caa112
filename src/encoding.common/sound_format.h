// The PCM format of a recording, and the sizes derived from it.
#pragma once

#include <cstdint>

namespace kit {

// Channels, bits per sample, samples per second. The platform's records take
// channels and bits as 16-bit values; the arithmetic below does the same.
struct SoundFormat {
    int32_t channels;
    int32_t bitsPerSample;
    int32_t samplesPerSec;
};

// The recording line's format, 2 x 16 bit x 44100 Hz (a loopback recording
// has the playback device's rate instead).
constexpr SoundFormat kRecordingFormat{2, 16, 44100};

// Bytes per frame: channels x bits / 8 (integer division).
constexpr uint16_t blockAlign(const SoundFormat& f) {
    return static_cast<uint16_t>(static_cast<uint16_t>(f.channels) * static_cast<uint16_t>(f.bitsPerSample) / 8);
}

constexpr uint32_t avgBytesPerSec(const SoundFormat& f) {
    return static_cast<uint32_t>(blockAlign(f)) * static_cast<uint32_t>(f.samplesPerSec);
}

// Bytes of a capture block of `ms` milliseconds (17640 for 100 ms of the
// recording format).
constexpr uint32_t blockBytes(const SoundFormat& f, uint32_t ms) {
    return static_cast<uint32_t>(static_cast<uint64_t>(avgBytesPerSec(f)) * ms / 1000);
}

}  // namespace kit
