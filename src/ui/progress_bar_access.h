#pragma once

#include <windows.h>

namespace tavro {

// What the progress bar tells assistive technology: Windows' own progress-bar proxy answers for
// it (role "progress bar", value "NN%"), reading the value back through PBM_GETPOS and
// PBM_GETRANGE as it would from a common-controls bar. Nothing here paints.

// The answer to PBM_GETRANGE: the bar's range is always 0..100.
LRESULT progressRangeAnswer(WPARAM wantLow, LPARAM range);

// The answer to WM_GETOBJECT: the proxy object for the client area, or what the default window
// procedure answers (also when the accessibility library cannot be loaded).
LRESULT accessibleProgressObject(HWND bar, WPARAM wParam, LPARAM lParam, UINT message);

}  // namespace tavro
