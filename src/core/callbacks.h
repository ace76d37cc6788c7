#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/records.h"

namespace tavro {

// Every callback may be empty; callers test it before invoking it.
using LogCallback = std::function<void(const std::string& line)>;
using DownloadCallback = std::function<void(const DownloadState& state)>;
using InstallCallback = std::function<void(const InstallState& state)>;
// (bytes received in this step, Content-Length of the response or 0)
using ByteProgressCallback = std::function<void(std::uint64_t bytes, std::uint64_t contentLength)>;

}  // namespace tavro
