#pragma once

#include <string>

namespace tavro {

// Runs "cmd.exe /C " + command in a hidden, windowless process, waits for it without a time
// limit and returns its exit code: -1 when the command interpreter cannot be started, 1 when
// the exit code cannot be read. command is in the ANSI code page.
int runHiddenCommand(const std::string& command);

}  // namespace tavro
