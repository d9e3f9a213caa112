// Calibration of the recording level: which line hears what the computer
// plays, at what mixer volume the test sound does not clip, and by how much
// every recorded sample is to be multiplied.
#include "mixer/calibration.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/level_coefficient.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "mixer/kit_mixer";

// Stops whatever test sound still plays when the calibration leaves early.
class SoundsPlaying {
public:
    explicit SoundsPlaying(ISoundProbe& probe_) : probe(probe_) {}
    ~SoundsPlaying() {
        if (wave) probe.stopWave();
        if (midi) probe.stopMidi(midi);
    }
    void startWave() {
        wave = true;
        probe.startWave();
    }
    void stopWave() {
        wave = false;
        probe.stopWave();
    }
    void startMidi() { midi = probe.startMidi(); }
    void stopMidi() { probe.stopMidi(std::exchange(midi, 0)); }

private:
    ISoundProbe& probe;
    bool wave = false;
    uint32_t midi = 0;
};

[[noreturn]] void throwNothingHears(int line) {
    setOrigin(kTraceSource, line, "kit::Mixer::calibrateLines");
    throw ARuntimeError(
        "No recording input hears the test sound, so the recording levels could not be calibrated. "
        "Make sure the sound card plays sound and is not muted, and that a recording input that hears it "
        "(for example \"Stereo Mix\" or \"What U Hear\") is enabled; then calibrate again.");
}

void logMeasured(const MeasurementList& list) {
    FW_TRACE("Measured:");
    for (const auto& [line, volume] : list) FW_TRACE("channel %u, volume %u", line, volume);
}

}  // namespace

MeasurementList filterSilent(MeasurementList list, uint32_t threshold) {
    for (;;) {
        auto silent =
            std::find_if(list.begin(), list.end(), [&](const Measurement& m) { return m.second <= threshold; });
        if (silent == list.end()) return list;
        FW_TRACE("filtered: channel %u, volume %u", silent->first, silent->second);
        list.erase(silent);
    }
}

MeasurementList removeHeardBy(MeasurementList candidates, const MeasurementList& midi) {
    for (const auto& [line, midiVolume] : midi) {
        auto same =
            std::find_if(candidates.begin(), candidates.end(), [&](const Measurement& m) { return m.first == line; });
        if (same == candidates.end()) continue;
        FW_TRACE("removed device %u, wave volume %u, midi volume %u\n", line, same->second, midiVolume);
        candidates.erase(same);
    }
    return candidates;
}

std::optional<Measurement> chooseLoudest(const MeasurementList& candidates) {
    if (candidates.empty()) return std::nullopt;
    Measurement best = candidates.front();
    for (const auto& m : candidates) {
        if (m.second > best.second) best = m;
    }
    return best;
}

std::optional<double> coefficientForPeak(int peak, uint32_t threshold) noexcept {
    if (static_cast<int64_t>(peak) <= static_cast<int64_t>(threshold) || peak <= 0) return std::nullopt;
    double coefficient = kFullScale / peak;
    if (!isSaneLevelCoefficient(coefficient)) return std::nullopt;
    return coefficient;
}

int Mixer::waitForSound(uint32_t threshold) {
    int current = 0;
    for (int round = 0; round < 7; ++round) {
        for (int i = 0; i < 3; ++i) current = measurePeak();
        FW_TRACE("Current volume = %d", current);
        if (static_cast<int64_t>(current) > static_cast<int64_t>(threshold)) break;
        ::Sleep(100);
    }
    return current;
}

// The loopback capture needs no level: a few peaks of the wave test sound
// tell whether it hears it. Where the platform refuses loopback (the capture
// cannot open) that is no error: the recording line is calibrated instead.
bool Mixer::loopbackHears(uint32_t threshold) {
    if (!loopbackProbe) return false;
    FW_TRACE("Trying loopback capture");
    SoundsPlaying sounds(probe);
    sounds.startWave();
    ::Sleep(500);
    int peak = 0;
    try {
        for (int round = 0; round < 3 && static_cast<int64_t>(peak) <= static_cast<int64_t>(threshold); ++round) {
            if (round) ::Sleep(100);
            peak = loopbackProbe->measurePeak();
            FW_TRACE("Loopback volume = %d", peak);
        }
    } catch (const ARuntimeError& e) {  // the capture cannot open, or delivers nothing
        FW_TRACE("loopback capture not available: %s", e.message().c_str());
        return false;
    }
    return static_cast<int64_t>(peak) > static_cast<int64_t>(threshold);
}

CalibrationResult Mixer::calibrate(uint32_t threshold) {
    probe.checkSounds();  // a missing test sound is said before either capture is tried
    if (loopbackHears(threshold)) {
        FW_TRACE("loopback capture chosen, coeff = 1.000000");
        FW_TRACE("CALIBRATING DONE");
        CalibrationResult result;
        result.loopback = true;
        return result;
    }
    return calibrateLines(threshold);
}

// While the wave plays, the line's level is halved until what it hears no
// longer clips (level 0 is as low as the line goes; it cannot clip less).
uint32_t Mixer::halveUntilUnclipped(uint32_t line, uint32_t level, uint32_t threshold) {
    for (;;) {
        int current = waitForSound(threshold);
        FW_TRACE("FINAL Current volume = %d", current);
        if (current <= kClippingPeak || level == 0) return level;
        FW_TRACE("Decreasing twice");
        level >>= 1;
        setVolume(line, VolumeRecord(level), false);
    }
}

CalibrationResult Mixer::calibrateLines(uint32_t threshold) {
    FW_TRACE("CALIBRATING START");
    probe.checkSounds();  // before anything plays: a missing file is said at once
    SoundsPlaying sounds(probe);

    FW_TRACE("Playing WAVE");
    sounds.startWave();
    ::Sleep(500);
    MeasurementList waveList = measureLines();
    sounds.stopWave();
    logMeasured(waveList);
    waveList = filterSilent(std::move(waveList), threshold);

    FW_TRACE("Playing MIDI\n");
    sounds.startMidi();
    ::Sleep(500);
    MeasurementList midiList = measureLines();
    sounds.stopMidi();
    FW_TRACE("Measured:");
    for (const auto& [line, volume] : midiList) std::printf("channel %u, volume %u\n", line, volume);
    std::fflush(stdout);
    midiList = filterSilent(std::move(midiList), threshold);

    MeasurementList candidates = removeHeardBy(waveList, midiList);
    if (candidates.empty()) {
        FW_TRACE("no devices left, will use the loudest out of all");
        candidates = waveList;
    }
    std::optional<Measurement> loudest = chooseLoudest(candidates);
    if (!loudest) return calibrateCoefficientOnly(threshold);
    FW_TRACE("loudest device %u, volume %u\n", loudest->first, loudest->second);
    uint32_t line = loudest->first;
    uint32_t level = kStartLevel;

    prepareLine(line);
    FW_TRACE("STEP 1 : regulating mixer");
    sounds.startWave();
    level = halveUntilUnclipped(line, level, threshold);
    FW_TRACE("New level = %d", static_cast<int>(level));

    FW_TRACE("STEP 2 : finding coeff");
    int current = waitForSound(threshold);
    sounds.stopWave();
    FW_TRACE("Volume2 %d (id = %d)\n", current, static_cast<int>(line));
    std::optional<double> found = coefficientForPeak(current, threshold);
    if (!found) throwNothingHears(__LINE__);
    double coefficient = *found;
    FW_TRACE("Coeff = %lf\n", coefficient);
    FW_TRACE("line = %d\nlevel = %dcoeff = %lf\n", static_cast<int>(line), static_cast<int>(level), coefficient);
    FW_TRACE("CALIBRATING DONE");
    return CalibrationResult{line, level, coefficient, true};
}

// No line to choose (every line silent, or no stereo input line: each
// recording device with a mixer of its own and a single mono source). The
// stored line and level stay; the coefficient is measured on whatever the
// default recording device hears of the wave test sound.
CalibrationResult Mixer::calibrateCoefficientOnly(uint32_t threshold) {
    FW_TRACE("no line to choose, measuring the default recording device");
    SoundsPlaying sounds(probe);
    sounds.startWave();
    int current = waitForSound(threshold);
    FW_TRACE("FINAL Current volume = %d", current);
    FW_TRACE("STEP 2 : finding coeff");
    current = waitForSound(threshold);
    sounds.stopWave();
    FW_TRACE("Volume2 %d (no line chosen)\n", current);
    std::optional<double> found = coefficientForPeak(current, threshold);
    if (!found) throwNothingHears(__LINE__);
    double coefficient = *found;
    FW_TRACE("Coeff = %lf\n", coefficient);
    FW_TRACE("CALIBRATING DONE");
    CalibrationResult result;
    result.coefficient = coefficient;
    result.lineChosen = false;
    return result;
}

}  // namespace kit
