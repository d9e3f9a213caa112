#include "sound.capture/wave_in_device.h"

namespace kit {
namespace {

class SystemWaveIn final : public WaveInDevice {
public:
    MMRESULT open(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) override {
        return ::waveInOpen(device, deviceId, format, callback, instance, flags);
    }
    MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override {
        return ::waveInPrepareHeader(device, block, size);
    }
    MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* block, UINT size) override {
        return ::waveInUnprepareHeader(device, block, size);
    }
    MMRESULT addBuffer(HWAVEIN device, WAVEHDR* block, UINT size) override {
        return ::waveInAddBuffer(device, block, size);
    }
    MMRESULT start(HWAVEIN device) override { return ::waveInStart(device); }
    MMRESULT stop(HWAVEIN device) override { return ::waveInStop(device); }
    MMRESULT reset(HWAVEIN device) override { return ::waveInReset(device); }
    MMRESULT close(HWAVEIN device) override { return ::waveInClose(device); }
};

}  // namespace

WaveInDevice& systemWaveIn() noexcept {
    static SystemWaveIn device;
    return device;
}

}  // namespace kit
