#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/callbacks.h"
#include "core/win_handles.h"

namespace tavro {

// Force-closes every running Tavro.exe, then every Ostrilan.exe, each with its child processes,
// through the task-kill tool. What the tool finds or achieves is not judged: the error text is
// cleared and the result is true unless building the commands throws.
bool closeRunningApps(LogCallback log, std::string& error);

// The running Tavro.exe and Ostrilan.exe processes of this session, opened to be waited for: taken
// before they are ended, so that each handle is the process that was ended, not a later one.
std::vector<KernelHandle> openProductProcesses();

// "Continuing in 5..." down to 1, each step lasting until every process has ended or step has
// passed: the texts of a countdown, without waiting longer than the processes take to end.
// true when every one has ended.
bool waitForProcessesToEnd(const std::vector<KernelHandle>& processes, const LogCallback& log,
                           std::chrono::milliseconds step);

// Asks the shell to open <install root>\Tavro.exe from the install root, without waiting for it.
// false with "Tavro.exe was not found: <path>" or the shell's error code.
bool openApplication(LogCallback log, std::string& error);

}  // namespace tavro
