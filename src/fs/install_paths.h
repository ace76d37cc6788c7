#pragma once

#include <filesystem>

namespace tavro {

// "C:/Quendrel/Tavro", exactly as written (forward slashes).
std::filesystem::path installRoot();

// The install root joined with "tmp" (reads C:/Quendrel/Tavro\tmp).
std::filesystem::path downloadFolder();

}  // namespace tavro
