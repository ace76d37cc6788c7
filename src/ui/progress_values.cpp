#include "ui/progress_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavro {

namespace {

constexpr std::int32_t kLowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kHighest = std::numeric_limits<std::int32_t>::max();

// Whether truncating value toward zero gives a 32-bit value (false for NaN).
bool fitsInt32(double value) {
    return value > static_cast<double>(kLowest) - 1.0 && value < static_cast<double>(kHighest) + 1.0;
}

std::int32_t saturatingTruncate(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (!fitsInt32(value)) {
        return value < 0 ? kLowest : kHighest;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t roundedPercent(double percent) {
    return saturatingTruncate(percent + 0.5);
}

std::int32_t installPercentParam(double percent) {
    return saturatingTruncate(percent);
}

std::int32_t updatePercentParam(double percent) {
    const double rounded = percent + 0.5;
    const bool withinRange = rounded >= static_cast<double>(kLowest) &&
                             rounded <= static_cast<double>(kHighest);  // false for NaN
    return withinRange ? static_cast<std::int32_t>(rounded) : kLowest;
}

int clampPercent(std::int32_t percent) {
    return std::clamp(percent, 0, 100);
}

}  // namespace tavro
