#pragma once

#include <string>

namespace tavro {

// The run's log file (install/log_file.h), opened for every run mode: the workers' log callback,
// the diagnostics sink and the notes of failure boxes all lead there.
void openRunLog();

// The first line of a run: program version, mode, whether the process is elevated, and the
// Windows version as the program sees it.
void logRunStart(const std::string& mode);

}  // namespace tavro
