// The recording mixer: selects which input line feeds the wave-input device,
// unmutes it and sets its volume, measures the loudness of input lines, and
// calibrates the recording level.
//
// Which mixer: mixer 0 when it has a wave-input destination; otherwise (each
// recording device has a mixer of its own, mixer 0 plays) the first mixer that
// has one. Every operation opens that mixer, works and closes it again. With
// no recording mixer at all the operations have nothing to act on: they change
// nothing, setMute answers false, setVolume a zero record, measureLines an
// empty list. A line that is not among the destination's sources is left alone
// the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "mixer/mixer_device.h"
#include "mixer/sound_probe.h"

namespace kit {

// Left and right volume of a mixer line.
struct VolumeRecord {
    uint32_t left = 0;
    uint32_t right = 0;
    bool flag = false;  // not used; always false

    VolumeRecord() = default;
    explicit VolumeRecord(uint32_t level) : left(level), right(level) {}
    VolumeRecord(uint32_t left_, uint32_t right_) : left(left_), right(right_) {}
};

// (line identifier, measured volume), in the order of measuring.
using Measurement = std::pair<uint32_t, uint32_t>;
using MeasurementList = std::vector<Measurement>;

struct CalibrationResult {
    uint32_t line = 0;   // the recording line chosen
    uint32_t level = 0;  // the mixer volume set on it
    double coefficient = 1.0;
    // False when no line could be chosen: only the coefficient was measured,
    // on whatever the default recording device hears; line and level are
    // then meaningless and the stored ones stay.
    bool lineChosen = false;
    // True when the loopback capture of the playback device heard the test
    // sound: recordings capture it, no mixer line or volume was touched, the
    // coefficient is 1.0 (the capture is digital and exact).
    bool loopback = false;
};

class Mixer {
public:
    // The platform's mixers and test sounds, recording through a SoundRecorder
    // from the wave-input device and from the loopback capture.
    Mixer();
    // Scripted mixers and probes, owned by the caller and outliving the mixer.
    // Without a loopback probe the calibration knows no loopback capture.
    Mixer(IMixerSystem& mixers, ISoundProbe& probe, ISoundProbe* loopbackProbe = nullptr);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    void selectSource(uint32_t line);
    // Sets the line's mute; answers whether its first channel was muted.
    bool setMute(uint32_t line, bool mute);
    // Answers the volume before the call. Unless readOnly, sets the given
    // volume, or the middle of the control's range when none is given.
    VolumeRecord setVolume(uint32_t line, const std::optional<VolumeRecord>& volume, bool readOnly);
    void prepareLine(uint32_t line, const std::optional<VolumeRecord>& volume = std::nullopt, bool keepVolume = false);

    int16_t measureAverage();
    int16_t measurePeak();
    // Every stereo source of the recording destination, selected, unmuted, at
    // mid volume and measured; its mute and volume are restored afterwards.
    MeasurementList measureLines();

    // Plays the test sounds, chooses the line that hears the wave sound but not
    // the MIDI sound, sets its volume so that the wave sound does not clip and
    // finds the coefficient that lifts its peak to full scale. A line whose
    // volume is at or below `threshold` counts as silent. Throws ARuntimeError
    // when nothing hears the test sound.
    CalibrationResult calibrateLines(uint32_t threshold);
    // Chooses the capture: the loopback capture of the playback device when
    // it hears the wave test sound above `threshold`; otherwise (no loopback
    // where the platform refuses it, or it hears nothing) calibrateLines.
    CalibrationResult calibrate(uint32_t threshold);

    // The mixer that the operations use now, opened; null when there is none.
    std::unique_ptr<IMixerDevice> openRecordingMixer();

private:
    // The calibration's fallback when no line can be chosen.
    CalibrationResult calibrateCoefficientOnly(uint32_t threshold);
    // Peaks of the playing sound, up to seven rounds until one is above the threshold.
    int waitForSound(uint32_t threshold);
    // The line's level, halved from `level` until what it hears does not clip.
    uint32_t halveUntilUnclipped(uint32_t line, uint32_t level, uint32_t threshold);
    // Whether the loopback capture hears the wave test sound.
    bool loopbackHears(uint32_t threshold);

    std::unique_ptr<ISoundProbe> ownedProbe;
    std::unique_ptr<ISoundProbe> ownedLoopbackProbe;
    IMixerSystem& mixers;
    ISoundProbe& probe;
    ISoundProbe* loopbackProbe = nullptr;
    int lastMixerId = -2;  // the mixer traced last (-1: none)
};

}  // namespace kit
