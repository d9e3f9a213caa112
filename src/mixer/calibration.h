// The steps of the calibration that only sort measurements.
#pragma once

#include <cstdint>
#include <optional>

#include "mixer/kit_mixer.h"

namespace kit {

// Peaks above this count as clipping.
constexpr int kClippingPeak = 32749;
// The level the calibration starts from, and full scale for the coefficient.
constexpr uint32_t kStartLevel = 32767;
constexpr double kFullScale = 32767.0;

// The entries whose volume is above the threshold, in order; each removed
// entry is logged as "filtered: ...".
MeasurementList filterSilent(MeasurementList list, uint32_t threshold);
// The candidates without every line that `midi` also heard (first match per
// MIDI entry); each removal is logged.
MeasurementList removeHeardBy(MeasurementList candidates, const MeasurementList& midi);
// The loudest entry; on equal volumes the one measured first. None for an
// empty list.
std::optional<Measurement> chooseLoudest(const MeasurementList& candidates);
// The coefficient that lifts the test sound's final peak to full scale. None
// when the peak is too quiet to calibrate on: at or below the threshold under
// which a line counts as silent, or so low that the coefficient would leave
// the sane range (kit/level_coefficient.h).
std::optional<double> coefficientForPeak(int peak, uint32_t threshold) noexcept;

}  // namespace kit
