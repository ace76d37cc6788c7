#include "app/run_mode.h"

namespace tavro {

bool isUpdaterCommandLine(std::string_view commandLine) {
    // A text longer than the line is never found in it, so a short line needs no test of its own.
    return commandLine.find("--updater") != std::string_view::npos ||
           commandLine.find("/updater") != std::string_view::npos;
}

RunMode runModeOf(std::string_view commandLine) {
    if (isUpdaterCommandLine(commandLine)) {
        return RunMode::updater;
    }
    if (commandLine.find("--uninstall") != std::string_view::npos ||
        commandLine.find("/uninstall") != std::string_view::npos) {
        return RunMode::uninstall;
    }
    return RunMode::installer;
}

bool isQuietCommandLine(std::string_view commandLine) {
    return commandLine.find("--quiet") != std::string_view::npos ||
           commandLine.find("/quiet") != std::string_view::npos;
}

}  // namespace tavro
