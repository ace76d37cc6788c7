#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "core/records.h"

namespace tavro {

// The values the window and its workers hand from one step to the next. The user interface
// orders the steps (buttons stay disabled while a worker runs); serverUrl is read by the window
// thread while a worker may write it, so it is kept under a lock, and the flags that the window
// thread reads are atomics.
class AppState {
  public:
    bool updaterMode = false;
    bool uninstallMode = false;
    // --passive: the installer window runs by itself, with this address and, when asked, the USB
    // driver; no box is shown and the window closes itself at the end.
    bool passiveMode = false;
    std::string passiveEmail;
    bool passiveUsbDriver = false;
    // The process's exit code once the window has closed (an uninstall that failed sets 1).
    int exitCode = 0;
    HWND mainWindow = nullptr;
    ReleaseInfo release;
    std::filesystem::path packageFile;
    std::atomic<bool> packageReady{false};
    std::atomic<bool> installRunning{false};
    std::atomic<std::int32_t> installProgressMax{0};
    // Window thread only: a download or install started from the window has not ended yet (its
    // done or failed message has not been handled), so no second one may start.
    bool taskRunning = false;

    std::string serverUrl() const;
    void setServerUrl(std::string url);

  private:
    mutable std::mutex serverUrlMutex_;
    std::string serverUrl_;
};

extern AppState appState;

}  // namespace tavro
