#pragma once

#include <windows.h>

namespace tavro {

// The keys a dialog box answers, for the main window, whose controls carry no WS_TABSTOP (their
// styles are fixed) and which is no dialog (so IsDialogMessage, which would also answer Enter
// through DM_GETDEFID, does not fit):
// - Tab and Shift+Tab move the focus through the window's edits and buttons in the order they
//   were created, skipping disabled and hidden ones, and wrap around; with the focus nowhere in
//   the window they start at the first (last) one.
// - Enter in a single-line edit presses the first push button created after it, while that
//   button is enabled; Enter on a push button presses it.
// - Ctrl+A in an edit selects all of its text.
// Space on a button or check box, Ctrl+C, the arrow and page keys stay the controls' own.
// Called by the message loop for every message before it is translated; true when the message
// was such a key and is handled (it must then be neither translated nor dispatched).
bool handleDialogKey(const MSG& message);

// WM_ACTIVATE of the main window: on deactivation remembers the focused control in lastFocus
// (null when none has it), on activation gives the focus back to it (when it can still take it). True when the focus was
// given back, so the default processing (which would focus the window itself) must not run.
bool keepFocusOverActivation(HWND window, WPARAM activation, HWND& lastFocus);

}  // namespace tavro
