// What the calibration plays and what it hears. The system probe plays the
// program's test sounds through the platform and measures the loudness with
// short recordings from the default wave-input device (through the recording
// mixer's selected line); tests script one whose levels depend on the line
// the scripted mixer has selected and on the sound that is playing.
#pragma once

#include <cstdint>
#include <memory>

namespace kit {

class ISoundProbe {
public:
    virtual ~ISoundProbe() = default;
    // Asked before anything is played: throws UserError naming a test sound
    // that cannot be played because its file is not there.
    virtual void checkSounds() {}
    // Loudness of what the wave-input device hears now, as a 16-bit sample
    // magnitude: the mean absolute sample, and the largest block peak.
    virtual int16_t measureAverage() = 0;
    virtual int16_t measurePeak() = 0;
    // The wave test sound, looping until stopped.
    virtual void startWave() = 0;
    virtual void stopWave() = 0;
    // The MIDI test sound; 0 when it cannot be played.
    virtual uint32_t startMidi() = 0;
    virtual void stopMidi(uint32_t id) = 0;
};

// Records with a SoundRecorder into a volume meter; plays "sound.wav" and
// "sound.mid" (found beside the executable, else by bare name).
std::unique_ptr<ISoundProbe> makeSystemSoundProbe();

}  // namespace kit
