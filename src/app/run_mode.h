#pragma once

#include <string_view>

namespace tavro {

// Whether the whole command line (program path included) asks for updater mode: it contains
// "--updater" or "/updater" anywhere, byte for byte. No tokenising: a program path holding
// "/updater" selects updater mode too, and "/updaterX" does; "--UPDATER" and "-updater" do not.
bool isUpdaterCommandLine(std::string_view commandLine);

enum class RunMode { installer, updater, uninstall };

// The run mode of a command line: updater mode exactly as isUpdaterCommandLine says, otherwise
// uninstall when the line holds "--uninstall" or "/uninstall" (the same byte-for-byte search),
// otherwise installer mode.
RunMode runModeOf(std::string_view commandLine);

// Whether the line holds "--quiet" or "/quiet" (an uninstall without confirmation or boxes).
bool isQuietCommandLine(std::string_view commandLine);

}  // namespace tavro
