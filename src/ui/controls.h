#pragma once

#include <windows.h>

#include <string>

namespace tavro {

// The text of a control (at most 1023 bytes, as the window keeps them).
std::string windowText(HWND control);

// Sets a label's text only when it differs, so an unchanged label is not repainted. Nothing
// when the control does not exist.
void setTextIfChanged(HWND control, const std::string& text);

// Inserts line and CR LF at the caret of a log edit (its end, unless the user clicked into it)
// and scrolls it into view. Nothing when the log does not exist.
void appendLogLine(HWND log, const std::string& line);

// A message box with no owner and the information icon; blocks the calling thread until closed.
void showMessage(const std::string& text, const std::string& caption);

// Enables or disables a control (nothing when it does not exist).
void enableControl(HWND control, bool enabled);

}  // namespace tavro
