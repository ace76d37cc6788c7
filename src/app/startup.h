#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "app/elevation.h"

namespace tavro {

// An install may be copying a release when the product starts its updater: ten minutes is
// longer than an install takes once its download is done, and short enough that a stuck one does
// not keep an updater waiting for ever.
inline constexpr std::chrono::milliseconds kUpdaterWaitForInstaller = std::chrono::minutes(10);

// What startup asks of the system; tests replace the parts they cannot provoke for real (Wine
// always runs as administrator, and its "runas" never asks the user).
struct StartupServices {
    std::function<bool()> isAdministrator;
    // Starts an elevated copy of the program with parameters; false when it could not be started.
    std::function<bool(const std::wstring& parameters)> startElevatedCopy;
    // A message box with the error icon and no owner.
    std::function<void(const char* text, const char* caption)> showError;
    // A Yes/No question; true for Yes. Left empty (tests), every question is answered Yes.
    std::function<bool(const char* text, const char* caption)> confirm = {};
    // Starts an elevated copy and waits for it (unattended and passive installs, whose exit code
    // passes through). Left empty (tests), startElevatedCopy starts it and the copy counts as
    // installed.
    std::function<ElevatedRun(const std::wstring& parameters)> runElevatedCopy = {};
    // How long an updater waits for a running installer before it gives up with 1618.
    std::chrono::milliseconds updaterWait = kUpdaterWaitForInstaller;
};

// The services of the real system.
StartupServices systemStartupServices();

// The whole program: run mode from the command line, elevation (installer mode), window classes,
// the window of the mode, the message loop. Returns the exit code: 0 when the window was closed
// or an elevated copy was started, 1 after any failure, which is shown through showError first.
// Unattended and passive installs end with the codes of ui/install_exit_codes.h instead, and a
// second installer while one runs with 1618 (or 0 once the running window was brought forward).
// commandLine is the whole command line, program path included.
int runProgram(HINSTANCE instance, const char* commandLine, int showCommand,
               const StartupServices& services) noexcept;

}  // namespace tavro
