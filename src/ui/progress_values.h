#pragma once

#include <cstdint>

namespace tavro {

// How progress percentages become the whole numbers the window shows.

// percent + 0.5, truncated toward zero: the download's whole percent. A value beyond what a
// 32-bit integer holds (or NaN) is kept within it instead of being converted out of range.
std::int32_t roundedPercent(double percent);

// The install's percent, truncated toward zero (99.9 shows as 99); kept within 32 bits.
std::int32_t installPercentParam(double percent);

// The update's percent, rounded to the nearest whole number (99.5 shows as 100); a value whose
// rounding lies outside 32 bits (or NaN) becomes the smallest 32-bit value, which the window
// then shows as 0.
std::int32_t updatePercentParam(double percent);

// A whole percent as a bar shows it: within 0..100.
int clampPercent(std::int32_t percent);

}  // namespace tavro
