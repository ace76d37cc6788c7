#pragma once

#include <string>

namespace tavro {

// Runs "cmd.exe /C " + command in a hidden, windowless process, waits for it without a time
// limit and returns its exit code: -1 when the command interpreter cannot be started, 1 when
// the exit code cannot be read. command is in the ANSI code page. The interpreter is started by
// its full path in the system folder, in the system folder as its current folder, with /D (no
// AutoRun command of the user's) and /S (command is taken as it is, quotes and all): nothing a
// user put beside the program or in the current folder is run in its place, so programs named
// in command should be given by full path too (systemProgram).
int runHiddenCommand(const std::string& command);

// "<system folder>\" + name, quoted, in the ANSI code page: how a command names a system
// program (e.g. "taskkill.exe", "WindowsPowerShell\v1.0\powershell.exe").
std::string systemProgram(const std::wstring& name);

}  // namespace tavro
