#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tavro {

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
};

// The services of the real system.
StartupServices systemStartupServices();

// The whole program: run mode from the command line, elevation (installer mode), window classes,
// the window of the mode, the message loop. Returns the exit code: 0 when the window was closed
// or an elevated copy was started, 1 after any failure, which is shown through showError first.
// commandLine is the whole command line, program path included.
int runProgram(HINSTANCE instance, const char* commandLine, int showCommand,
               const StartupServices& services) noexcept;

}  // namespace tavro
