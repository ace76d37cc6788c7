#pragma once

#include <windows.h>

#include <span>

#include "ui/window_state.h"

namespace tavro {

// Command ids of the installer window's controls (the low word of WM_COMMAND's wParam).
enum CommandId : int {
    kNoId = 0,
    kEmailId = 1,
    kDownloadId = 2,
    kPauseId = 3,
    kInstallId = 4,
    kUsbId = 5
};

enum class ControlFont { none, small, large };

// One child control of the main window: where it sits (client pixels), what it is and which
// WindowControls slot keeps its handle (none for labels that never change).
struct ControlPlacement {
    const char* className;
    const char* text;
    int x, y, width, height;
    int id;  // command id, 0 for none
    DWORD style;
    DWORD extendedStyle;
    ControlFont font;
    HWND WindowControls::*slot;
};

// The controls of each mode, in the order they are created.
std::span<const ControlPlacement> installerLayout();
std::span<const ControlPlacement> updaterLayout();
// The uninstall window: the updater's controls, with its own title and log caption.
std::span<const ControlPlacement> uninstallLayout();

// Creates every control of a layout as a child of parent, sets its font and, for a progress
// bar, its starting value 0; keeps the handles in controls. A control that cannot be created
// stays null.
void createControls(HWND parent, std::span<const ControlPlacement> layout,
                    const WindowResources& resources, WindowControls& controls);

}  // namespace tavro
