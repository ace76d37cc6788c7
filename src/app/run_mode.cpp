#include "app/run_mode.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "app/install_switches.h"

namespace tavro {

namespace {

bool holdsUpdaterText(std::string_view text) {
    // A text longer than the line is never found in it, so a short line needs no test of its own.
    return text.find("--updater") != std::string_view::npos ||
           text.find("/updater") != std::string_view::npos;
}

bool isSwitch(std::string_view argument, std::string_view name) {
    return (argument.size() == name.size() + 2 && argument.substr(0, 2) == "--" &&
            argument.substr(2) == name) ||
           (argument.size() == name.size() + 1 && argument[0] == '/' && argument.substr(1) == name);
}

bool isOurSwitch(std::string_view argument) {
    constexpr std::array<std::string_view, 5> names{"uninstall", "quiet", "passive", "email",
                                                    "usb-driver"};
    return std::any_of(names.begin(), names.end(),
                       [&](std::string_view name) { return isSwitch(argument, name); });
}

// The arguments as split once, the program path first, without the value that follows --email:
// an address is never read as a switch, whatever it holds.
std::vector<std::string> argumentsOutsideValues(std::string_view commandLine) {
    std::vector<std::string> arguments = splitCommandLine(commandLine);
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        kept.push_back(std::move(arguments[i]));
        if (i > 0 && isSwitch(kept.back(), "email")) {
            ++i;
        }
    }
    return kept;
}

bool holdsSwitch(const std::vector<std::string>& arguments, std::string_view name) {
    return std::any_of(arguments.begin() + 1, arguments.end(),
                       [&](const std::string& argument) { return isSwitch(argument, name); });
}

}  // namespace

bool isUpdaterCommandLine(std::string_view commandLine) {
    const std::vector<std::string> arguments = argumentsOutsideValues(commandLine);
    const bool carriesOurSwitches =
        std::any_of(arguments.begin() + 1, arguments.end(),
                    [](const std::string& a) { return isOurSwitch(a); });
    if (!carriesOurSwitches) {
        return holdsUpdaterText(commandLine);  // the long-standing rule, program path included
    }
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::string& argument) { return holdsUpdaterText(argument); });
}

RunMode runModeOf(std::string_view commandLine) {
    if (isUpdaterCommandLine(commandLine)) {
        return RunMode::updater;
    }
    if (holdsSwitch(argumentsOutsideValues(commandLine), "uninstall")) {
        return RunMode::uninstall;
    }
    return RunMode::installer;
}

bool isQuietCommandLine(std::string_view commandLine) {
    return holdsSwitch(argumentsOutsideValues(commandLine), "quiet");
}

}  // namespace tavro
