#pragma once

#include <windows.h>

namespace tavro {

// How the workers' messages reach the window. A post can fail while the window lives: the
// system refuses posts beyond a thread's queue quota (10 000 by default on Windows), and a
// worker that copies small files can outrun the window's repaints. Progress may be thinned, but
// a message that ends a task must arrive, or the window would wait for it for ever.

// The call that posts one message (PostMessageA unless a test puts another in).
using PostCall = BOOL(WINAPI*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Makes call the one every post goes through (nullptr: PostMessageA again); returns the one it
// replaces. For tests that make posting fail.
PostCall replacePostCall(PostCall call);

// One attempt; true when the message was posted.
bool postOnce(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Posts again and again, waiting a little longer each time (up to 50 ms), until the message is
// posted (true) or window is no window any more (false).
bool postUntilDelivered(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tavro
