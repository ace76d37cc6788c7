#pragma once

#include <windows.h>

#include <exception>

namespace tavro {

inline constexpr char kMainWindowClass[] = "TavroInstallerWnd";

// Registers the main window's class for this module (icon 101 of the module). False when
// registration failed.
bool registerMainWindowClass(HINSTANCE instance);

// The exception a message handler raised, if any, taken out of the window state. The handler
// that raised it has destroyed the window (or failed its creation), which ends the message loop.
std::exception_ptr takeWindowFailure();

}  // namespace tavro
