#pragma once

#include <string_view>

namespace tavro {

// Whether the command line asks for updater mode. A line carrying none of our switches (see
// runModeOf) asks for it when it contains "--updater" or "/updater" anywhere, byte for byte, the
// program path included: "/updaterX" does, "--UPDATER" and "-updater" do not. A line carrying
// one of them asks for it when an argument other than the address after --email holds either.
bool isUpdaterCommandLine(std::string_view commandLine);

enum class RunMode { installer, updater, uninstall };

// The run mode of a command line: updater mode exactly as isUpdaterCommandLine says, otherwise
// uninstall when "--uninstall" or "/uninstall" is a whole argument, otherwise installer mode.
// Our switches ("--uninstall", "--quiet", "--passive", "--email", "--usb-driver" and their
// slash forms) count only as whole arguments of the line split once (splitCommandLine), and
// never inside the address that follows --email.
RunMode runModeOf(std::string_view commandLine);

// Whether "--quiet" or "/quiet" is a whole argument, not the address after --email (an
// uninstall without confirmation or boxes).
bool isQuietCommandLine(std::string_view commandLine);

}  // namespace tavro
