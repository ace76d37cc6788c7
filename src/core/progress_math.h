#pragma once

#include <cstdint>

#include "core/records.h"

namespace tavro {

// Bytes added to the received count to form the divisor while the total is unknown.
inline constexpr std::uint64_t kUnknownTotalPadding = 20971520;
// Highest percentage shown while the total is unknown.
inline constexpr double kUnknownTotalPercentCap = 95.0;
inline constexpr double kBytesPerMB = 1024.0 * 1024.0;

// The DownloadState for d bytes of t (t = 0: unknown) after elapsedSeconds.
DownloadState makeDownloadState(std::uint64_t downloaded, std::uint64_t total,
                                double elapsedSeconds);

// The fixed record of a finished (or reused) package of the given size: 100 %, speed 0.
DownloadState completedDownloadState(std::uint64_t size);

// The InstallState for copied of total files; a total below 1 counts as complete.
InstallState makeInstallState(std::int32_t copied, std::int32_t total);

}  // namespace tavro
