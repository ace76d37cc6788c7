#pragma once

#include <windows.h>

namespace tavro {

// WM_COMMAND of the installer window: the e-mail field, Download, Pause, Install and the USB
// driver check box.
void onCommand(WPARAM wParam);

// Enables the Download button exactly when the e-mail text qualifies, a server has been chosen
// and no download or install is running; disables it otherwise.
void validateEmail();

}  // namespace tavro
