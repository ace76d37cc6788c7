#pragma once

#include <string>

#include "core/callbacks.h"

namespace tavro {

// A process-wide sink for diagnostic lines that have no caller's log callback to go to (the
// transport's choice of proxy, for one). Empty until a run mode installs one, and then every
// line is handed to it; safe to call from any thread. The sink is called under a lock: it must
// not call back into this module.
void setDiagnosticSink(LogCallback sink);

// Hands one complete line (no terminator) to the sink, if there is one.
void diagnostic(const std::string& line);

}  // namespace tavro
