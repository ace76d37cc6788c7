#pragma once

#include <string_view>

namespace tavro {

// Whether the whole command line (program path included) asks for updater mode: it contains
// "--updater" or "/updater" anywhere, byte for byte. No tokenising: a program path holding
// "/updater" selects updater mode too, and "/updaterX" does; "--UPDATER" and "-updater" do not.
bool isUpdaterCommandLine(std::string_view commandLine);

}  // namespace tavro
