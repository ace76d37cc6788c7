#pragma once

#include <string>

#include "core/callbacks.h"

namespace tavro {

// Force-closes every running Tavro.exe, then every Ostrilan.exe, each with its child processes,
// through the task-kill tool. What the tool finds or achieves is not judged: the error text is
// cleared and the result is true unless building the commands throws.
bool closeRunningApps(LogCallback log, std::string& error);

// Asks the shell to open <install root>\Tavro.exe from the install root, without waiting for it.
// false with "Tavro.exe was not found: <path>" or the shell's error code.
bool openApplication(LogCallback log, std::string& error);

}  // namespace tavro
