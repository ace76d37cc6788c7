#pragma once

#include <windows.h>

namespace tavro {

// A flat horizontal bar with a grid of thin vertical lines, showing a whole percent.
inline constexpr char kProgressBarClass[] = "TavroProgress";

// Stores wParam as the bar's value and repaints the bar before the call returns. The value is
// not clamped here: senders keep it within 0..100.
inline constexpr UINT MSG_PROGRESS_SET = WM_USER + 77;

// Tells the bar the DPI it is drawn for (wParam); it repaints. Its grid spacing, line width and
// frame are 96-DPI lengths scaled by that DPI; a bar never told draws at 96 DPI.
inline constexpr UINT MSG_PROGRESS_DPI = WM_USER + 78;

// Registers the bar's window class for this module. False when registration failed.
bool registerProgressBarClass(HINSTANCE instance);

// The bar's value, as last set.
int progressBarValue(HWND bar);

// Sets a bar's value (nothing when the bar does not exist).
void setProgressBar(HWND bar, int value);

// Sets the DPI a bar draws for (nothing when the bar does not exist).
void setProgressBarDpi(HWND bar, UINT dpi);

}  // namespace tavro
