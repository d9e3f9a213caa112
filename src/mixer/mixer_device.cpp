#include "mixer/mixer_device.h"

namespace kit {
namespace {

class WinMixerDevice final : public IMixerDevice {
public:
    explicit WinMixerDevice(ScopedMixer mixer_) : mixer(std::move(mixer_)) {}

    MMRESULT getLineInfo(MIXERLINEA& line, DWORD flags) override {
        return ::mixerGetLineInfoA(object(), &line, flags | MIXER_OBJECTF_HMIXER);
    }
    MMRESULT getLineControls(MIXERLINECONTROLSA& controls, DWORD flags) override {
        return ::mixerGetLineControlsA(object(), &controls, flags | MIXER_OBJECTF_HMIXER);
    }
    MMRESULT getControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) override {
        return ::mixerGetControlDetailsA(object(), &details, flags | MIXER_OBJECTF_HMIXER);
    }
    MMRESULT setControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) override {
        return ::mixerSetControlDetails(object(), &details, flags | MIXER_OBJECTF_HMIXER);
    }

private:
    HMIXEROBJ object() const { return reinterpret_cast<HMIXEROBJ>(mixer.get()); }
    ScopedMixer mixer;
};

class WinMixerSystem final : public IMixerSystem {
public:
    unsigned deviceCount() override { return ::mixerGetNumDevs(); }
    std::unique_ptr<IMixerDevice> open(unsigned id) override {
        ScopedMixer mixer;
        if (::mixerOpen(mixer.receive(), id, 0, 0, 0) != MMSYSERR_NOERROR) {
            mixer.detach();  // a failed open leaves no handle to close
            return nullptr;
        }
        return std::make_unique<WinMixerDevice>(std::move(mixer));
    }
};

}  // namespace

IMixerSystem& systemMixers() {
    static WinMixerSystem mixers;
    return mixers;
}

}  // namespace kit
