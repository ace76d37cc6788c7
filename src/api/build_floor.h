#pragma once

#include <optional>
#include <string>

namespace tavro {

// The BuildNumber the last install recorded under HKCU\SOFTWARE\Tavro (UTF-8); nothing when
// there is none or it cannot be read.
std::optional<std::string> installedBuildNumber();

}  // namespace tavro
