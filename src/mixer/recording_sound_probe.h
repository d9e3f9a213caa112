// The production sound probe: plays the program's test sounds ("sound.wav"
// looping through PlaySound, "sound.mid" through the MCI sequencer) and
// measures what the default wave-input device hears with short recordings:
// a SoundRecorder (2 x 16 bit, coefficient 1.0, 100 ms blocks; 44100 Hz, or
// the device's own rate where it has one) into an encoding stream whose encoder is a volume meter, until the meter
// holds three blocks. Every block recorded before the recorder finished is
// measured.
#pragma once

#include <windows.h>

#include <functional>

#include "mixer/sound_probe.h"
#include "sound.capture/wave_in_device.h"

namespace kit {

class RecordingSoundProbe : public ISoundProbe {
public:
    // The rate of the device's own format at the time of a measurement, or 0
    // for none (then 44100 Hz).
    using DeviceRate = std::function<uint32_t()>;

    // A device that delivers fewer than three blocks within the time limit is
    // an error ("The recording device delivers no sound ...").
    explicit RecordingSoundProbe(WaveInDevice& device = systemWaveIn(), DWORD timeLimitMs = 5000,
                                 DeviceRate deviceRate = {});

    // "The test sound sound.wav is missing beside the program ..." (or sound.mid).
    void checkSounds() override;
    int16_t measureAverage() override;
    int16_t measurePeak() override;
    void startWave() override;
    void stopWave() override;
    uint32_t startMidi() override;
    void stopMidi(uint32_t id) override;

private:
    template <class Meter>
    int16_t measure();

    WaveInDevice& device;
    DWORD timeLimitMs;
    DeviceRate deviceRate;
};

}  // namespace kit
