#pragma once

#include <filesystem>

#include "download/package_fetch.h"

namespace tavro {

// Appends the whole of file `from` to the end of the existing file `to`, through one 1 MiB buffer,
// the source opened with the sequential-scan hint.
AppendResult appendFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tavro
