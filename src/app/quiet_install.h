#pragma once

#include <string>

namespace tavro {

// The install for deployment tools (--quiet): the window's road without a window or a box, on
// the calling thread. Every status the window would show and every failure go to the run's log;
// the outcome is the exit code (ui/install_exit_codes.h). email has passed the e-mail rule.
int runQuietInstall(const std::string& email, bool withUsbDriver);

}  // namespace tavro
