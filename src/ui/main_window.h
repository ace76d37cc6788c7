#pragma once

#include <windows.h>

#include <exception>

namespace tavro {

inline constexpr char kMainWindowClass[] = "TavroInstallerWnd";

// Registers the main window's class for this module (icon 101 of the module). False when
// registration failed.
bool registerMainWindowClass(HINSTANCE instance);

// Creates the main window of the mode (appState.updaterMode) with its title and fixed outer size;
// its create handler builds the controls and starts the mode's first task. Null on failure.
HWND createMainWindow(HINSTANCE instance);

// The exception a message handler raised, if any, taken out of the window state. The handler
// that raised it has destroyed the window (or failed its creation), which ends the message loop.
std::exception_ptr takeWindowFailure();

}  // namespace tavro
