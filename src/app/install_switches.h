#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// How an installer-mode run goes: the window as a person uses it, with no window at all
// (--quiet), or the window running by itself (--passive).
enum class Unattended { no, quiet, passive };

// The deployment switches of installer mode: "--quiet" or "/quiet", "--passive" or "/passive",
// "--email ADDRESS" or "/email ADDRESS", "--usb-driver" or "/usb-driver", each a whole argument,
// byte for byte.
struct InstallSwitches {
    Unattended unattended = Unattended::no;
    std::string email;
    bool usbDriver = false;
    // Why the line is refused (exit code 87), naming the switch; empty when it is accepted.
    std::string refusal;
};

// The arguments of a command line, the program path first, split as the C runtime of Windows
// splits them: blanks separate, double quotes group, 2n backslashes before a quote are n
// backslashes and the quote groups, 2n+1 are n and a literal quote; other backslashes are
// literal. The program path knows quotes only.
std::vector<std::string> splitCommandLine(std::string_view line);

// The argument as splitCommandLine reads it back: quoted when it holds a blank or a quote, or
// is empty.
std::string quoteArgument(std::string_view argument);

// The switches of an installer-mode command line. A line without any deployment switch is the
// window as always, whatever else it holds. With one, every argument must be a known switch, one
// of --quiet and --passive is needed, and the address must pass the window's own e-mail rule.
InstallSwitches installSwitchesOf(std::string_view commandLine);

// The parameters that give an elevated copy the same run.
std::string elevatedParametersOf(const InstallSwitches& switches);

}  // namespace tavro
