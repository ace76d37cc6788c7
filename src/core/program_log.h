#pragma once

#include <functional>
#include <string>

#include "core/callbacks.h"

namespace tavro {

// The run's log file as the workers and startup reach it. A run mode installs it once, before
// any worker starts; until then (and in tests that build the window alone) there is none, every
// callback handed out is empty and nothing changes in what the engine does.

// write takes one line; note gives what a failure box adds about the log (where it is, or why
// it could not be written).
void installProgramLog(LogCallback write, std::function<std::string()> note);

// A log callback for the engine that writes to the run's log; empty when there is none.
LogCallback programLog();

// Writes one line to the run's log, if there is one.
void logEvent(const std::string& line);

// text followed by the log's note for a failure box (nothing when there is no log).
std::string withLogNote(const std::string& text);

}  // namespace tavro
