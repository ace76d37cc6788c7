#include "ui/window_test_support.h"

#include <gtest/gtest.h>

#include "core/app_state.h"
#include "ui/controls.h"
#include "ui/dialog_keys.h"
#include "ui/main_window.h"
#include "ui/progress_bar.h"

namespace tavro::test {

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (handleDialogKey(message)) {  // as the program's message loop does
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

MessageBoxCloser::MessageBoxCloser() : thread_([this] { watch(); }) {}

MessageBoxCloser::~MessageBoxCloser() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> MessageBoxCloser::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

bool MessageBoxCloser::waitFor(const std::string& caption,
                               std::chrono::milliseconds timeout) const {
    return pumpUntil(
        [&] {
            for (const SeenBox& box : seen()) {
                if (box.caption == caption) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}

void MessageBoxCloser::watch() {
    while (!stop_) {
        EnumWindows(
            [](HWND window, LPARAM self) -> BOOL {
                auto* closer = reinterpret_cast<MessageBoxCloser*>(self);
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                char className[16] = {};
                GetClassNameA(window, className, sizeof(className));
                if (process != GetCurrentProcessId() || std::string(className) != "#32770" ||
                    !IsWindowVisible(window)) {
                    return TRUE;
                }
                std::lock_guard lock(closer->mutex_);
                if (closer->pressed_.insert(window).second) {
                    closer->seen_.push_back(
                        SeenBox{windowText(window), windowText(GetDlgItem(window, 0xFFFF))});
                    PostMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(this));
        std::this_thread::sleep_for(20ms);
    }
}

LocalApiServer::LocalApiServer() : server_(TAVRO_TEST_FIRST_API_PORT) {
    server_.on("/api/Tavro/IsUp", Reply::text(200, "true"));
}

TestWindow::TestWindow(bool updaterMode) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    appState.updaterMode = updaterMode;
    registerProgressBarClass(instance);  // the second registration in a process fails: harmless
    registerMainWindowClass(instance);
    window_ = createMainWindow(instance);
    if (window_ != nullptr) {
        ShowWindow(window_, SW_SHOWNORMAL);
        UpdateWindow(window_);
    }
}

TestWindow::~TestWindow() {
    if (IsWindow(window_)) {
        DestroyWindow(window_);
    }
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

std::string textOf(HWND control) {
    return windowText(control);
}

bool enabled(HWND control) {
    return IsWindowEnabled(control) != FALSE;
}

void press(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
}

void typeText(HWND edit, const std::string& text) {
    SetWindowTextA(edit, text.c_str());
}

RECT clientRectInParent(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace tavro::test

namespace tavro::test {

HeldKeys::HeldKeys(std::initializer_list<int> keys) {
    GetKeyboardState(saved_);
    BYTE state[256];
    std::copy(std::begin(saved_), std::end(saved_), std::begin(state));
    for (int key : keys) {
        state[key] = 0x80;
    }
    SetKeyboardState(state);
}

HeldKeys::~HeldKeys() {
    SetKeyboardState(saved_);
}

void pressKey(int key) {
    const HWND target = GetFocus() != nullptr ? GetFocus() : GetActiveWindow();
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(key), 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(key), 1 | (scan << 16) | 0xC0000000u);
    pumpFor(30ms);
}

}  // namespace tavro::test
