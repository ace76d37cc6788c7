#include "ui/controls.h"

#include "ui/display_text.h"

namespace tavro {

namespace {

constexpr int kTextBufferSize = 1024;

}  // namespace

std::string windowText(HWND control) {
    char buffer[kTextBufferSize] = {};
    const int length = GetWindowTextA(control, buffer, kTextBufferSize);
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void setTextIfChanged(HWND control, const std::string& text) {
    if (control == nullptr) {
        return;
    }
    if (windowText(control) != text) {
        SetWindowTextA(control, text.c_str());
    }
}

void appendLogLine(HWND log, const std::string& line) {
    if (log == nullptr) {
        return;
    }
    const std::string text = displayText(line) + "\r\n";
    SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(log, EM_SCROLLCARET, 0, 0);
}

void showMessage(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, displayText(text).c_str(), displayText(caption).c_str(),
                MB_ICONINFORMATION);
}

void enableControl(HWND control, bool enabled) {
    if (control != nullptr) {
        EnableWindow(control, enabled ? TRUE : FALSE);
    }
}

}  // namespace tavro
