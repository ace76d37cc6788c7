#pragma once

#include <string>

namespace tavro {

// The programs the platform says hold path open (the Restart Manager's list), as
// "name (process id)" joined by ", "; empty when it cannot tell.
std::string programsHolding(const std::wstring& path);

}  // namespace tavro
