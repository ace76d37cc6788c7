#pragma once

#include <cstdint>
#include <string>

namespace tavro {

// Texts of the window's changing labels. Numbers are written in the classic locale: a decimal
// point and no digit grouping, whatever the user's settings.

// "42.57 %": the download's percent with two decimals.
std::string downloadPercentText(double percent);
// "12 MB": megabytes received, no decimals.
std::string downloadedText(double megabytes);
// "3.25 MB/s": the average speed with two decimals.
std::string speedText(double megabytesPerSecond);
// "42%": a whole percent.
std::string wholePercentText(std::int32_t percent);

}  // namespace tavro
