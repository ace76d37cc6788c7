#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/callbacks.h"

namespace tavro {

// How a path is written into a log line or a message.
using PathText = std::function<std::string(const std::filesystem::path&)>;

// Whether an earlier file at package may stand for a package of remoteSize bytes (0: the server
// did not say): it must exist and be non-empty, and match remoteSize when that is known. Logs the
// reason for a reuse or a size mismatch. Throws std::filesystem::filesystem_error ("exists")
// when existence cannot be tested.
bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log, const PathText& pathText);

}  // namespace tavro
