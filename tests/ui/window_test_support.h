#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_http_server.h"

namespace tavro::test {

using namespace std::chrono_literals;

// Dispatches the calling thread's messages until done() holds (true) or timeout passes (false).
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Dispatches the calling thread's messages for a while.
void pumpFor(std::chrono::milliseconds duration);

// A message box as a person saw it before pressing OK.
struct SeenBox {
    std::string caption;
    std::string text;
};

// Presses OK on every message box this process shows, as a person would, from a thread of its
// own (a box shown by the window thread blocks that thread until it is closed).
class MessageBoxCloser {
  public:
    MessageBoxCloser();
    ~MessageBoxCloser();
    MessageBoxCloser(const MessageBoxCloser&) = delete;
    MessageBoxCloser& operator=(const MessageBoxCloser&) = delete;

    std::vector<SeenBox> seen() const;
    // Pumps the calling thread's messages until a box with caption has been closed.
    bool waitFor(const std::string& caption, std::chrono::milliseconds timeout) const;

  private:
    void watch();

    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::set<HWND> pressed_;
    std::thread thread_;
};

// The first of the test binary's API servers, answering the server check, so the installer
// window finds it (and shows no failure box); tests add what else they need.
class LocalApiServer {
  public:
    LocalApiServer();
    TestHttpServer* operator->() { return &server_; }

  private:
    TestHttpServer server_;
};

// The main window of one mode, created as startup creates it, on the calling thread.
class TestWindow {
  public:
    explicit TestWindow(bool updaterMode);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return window_; }

  private:
    HWND window_ = nullptr;
};

// The text of a control as the window keeps it.
std::string textOf(HWND control);
bool enabled(HWND control);
// A button press as the user makes it (the handler runs before this returns).
void press(HWND button);
// Types a whole text into an edit control (each change notifies the window).
void typeText(HWND edit, const std::string& text);
// The outer size of a top-level window and its position relative to the parent's client area.
RECT clientRectInParent(HWND control);

// Keys held down (VK_SHIFT, VK_CONTROL) in this thread's keyboard state while the object lives.
class HeldKeys {
  public:
    HeldKeys(std::initializer_list<int> keys);
    ~HeldKeys();
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

  private:
    BYTE saved_[256] = {};
};

// A key pressed and released at the focused control (or the active window when nothing has the
// focus), as the keyboard delivers it, and the messages that follow handled.
void pressKey(int key);

}  // namespace tavro::test
