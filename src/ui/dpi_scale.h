#pragma once

#include <windows.h>

namespace tavro {

// Layout tables, font heights and the bar's grid are written for 96 DPI.
inline constexpr UINT kBaseDpi = 96;

// A length of the 96-DPI layout at dpi, rounded as Windows rounds (MulDiv: halves away from
// zero), so -14 becomes -18 at 120 DPI and 607 becomes 911 at 144 DPI.
int scaleForDpi(int length, UINT dpi);

// The DPI a window is laid out for: the DPI of its monitor where Windows knows per-monitor DPI
// (Windows 10 1607 and later), otherwise the system DPI.
UINT windowDpi(HWND window);

// The DPI of the primary monitor's logical pixels, for a window that does not exist yet.
UINT systemDpi();

// The outer size of a top-level window whose outer size at 96 DPI is base: its client area
// scales by dpi / 96 and its frame is the system's frame at dpi. Where Windows cannot measure a
// frame for another DPI, the whole outer size scales. At 96 DPI this is base exactly.
SIZE outerSizeForDpi(SIZE base, DWORD style, DWORD extendedStyle, UINT dpi);

}  // namespace tavro
