#pragma once

#include <windows.h>

namespace tavro {

// The id of the timer that closes the window after a successful update.
inline constexpr UINT_PTR CLOSE_TIMER_ID = 9001;

// Whether message is one of the private messages the workers post.
bool isTaskMessage(UINT message);

// Handles a private message on the window thread (frees its payload).
void onTaskMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_TIMER: the close timer destroys the window; other timers are ignored.
void onTimer(HWND window, WPARAM timerId);

}  // namespace tavro
