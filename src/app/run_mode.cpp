#include "app/run_mode.h"

namespace tavro {

bool isUpdaterCommandLine(std::string_view commandLine) {
    // A text longer than the line is never found in it, so a short line needs no test of its own.
    return commandLine.find("--updater") != std::string_view::npos ||
           commandLine.find("/updater") != std::string_view::npos;
}

}  // namespace tavro
