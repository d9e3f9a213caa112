// The level coefficient that every recorded sample is multiplied by. Only a
// finite number above 0 and at most 100 is one: anything else would make the
// recordings silent or nothing but clipping.
#pragma once

#include <cmath>

namespace kit {

constexpr double kMaxLevelCoefficient = 100.0;

inline bool isSaneLevelCoefficient(double coefficient) noexcept {
    return std::isfinite(coefficient) && coefficient > 0.0 && coefficient <= kMaxLevelCoefficient;
}

}  // namespace kit
