#pragma once

#include <memory>

#include "core/callbacks.h"
#include "ui/download_throttle.h"

namespace tavro {

// Adapters that turn the engine's callbacks into messages posted to the main window.

// Download progress, thinned by throttle (shared by every part thread of one download).
DownloadCallback downloadProgressAdapter(std::shared_ptr<DownloadThrottle> throttle);
// Install progress: the whole percent, truncated; posted only when it changed.
InstallCallback installProgressAdapter();
// Update progress: the percent rounded to the nearest whole number; posted only when it changed.
InstallCallback updateProgressAdapter();
// Log lines for the updater's log, each posted until it arrives (or the window is gone).
LogCallback logLineAdapter();

}  // namespace tavro
