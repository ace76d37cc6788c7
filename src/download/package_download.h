#pragma once

#include <cstdint>
#include <filesystem>

#include "core/callbacks.h"
#include "core/records.h"

namespace tavro {

// HEAD probe timeout of a package download.
inline constexpr std::uint32_t kPackageHeadTimeoutSeconds = 30;

// The download folder joined with packageFileName(release). Does not touch the disk.
std::filesystem::path packagePath(const ReleaseInfo& release);

// The longest path a path of the platform may have without the long-path prefix (MAX_PATH less
// the terminating zero).
inline constexpr std::size_t kLongestPlatformPath = 259;

// Characters in the longest path the download of release writes (the last part file).
std::size_t longestDownloadPath(const ReleaseInfo& release);

}  // namespace tavro
