#pragma once

#include <windows.h>

#include <exception>

#include "core/gdi_handles.h"

namespace tavro {

// The controls whose state changes after creation. A control of the other mode stays null, and
// every operation on a control tests its handle first, so a message that does not fit the mode
// has no visible effect.
struct WindowControls {
    // installer mode
    HWND emailEdit = nullptr;
    HWND downloadButton = nullptr;
    HWND pauseButton = nullptr;
    HWND installButton = nullptr;
    HWND usbCheckBox = nullptr;
    HWND statusLabel = nullptr;
    HWND downloadedLabel = nullptr;
    HWND speedLabel = nullptr;
    HWND downloadPercentLabel = nullptr;
    HWND installPercentLabel = nullptr;
    HWND downloadBar = nullptr;
    HWND installBar = nullptr;
    // updater mode
    HWND updaterStatusLabel = nullptr;
    HWND updaterPercentLabel = nullptr;
    HWND logEdit = nullptr;
    HWND updaterBar = nullptr;
};

// The GDI objects the window paints with; freed when the window is destroyed.
struct WindowResources {
    BrushHandle backgroundBrush;
    BrushHandle whiteBrush;
    FontHandle smallFont;
    FontHandle largeFont;
};

// Window thread only.
struct WindowState {
    WindowControls controls;
    WindowResources resources;
    // The control that gets the focus back when the window is activated again (at first the
    // e-mail edit); null: the window itself.
    HWND lastFocus = nullptr;
    // An exception a message handler could not handle; the message loop ends and startup reports
    // it, since no exception may unwind through the system's code that called the window
    // procedure.
    std::exception_ptr failure;
};

extern WindowState windowState;

}  // namespace tavro
