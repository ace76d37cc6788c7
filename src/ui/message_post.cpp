#include "ui/message_post.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace tavro {

namespace {

std::atomic<PostCall> postCall{nullptr};

constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{50};

}  // namespace

PostCall replacePostCall(PostCall call) {
    return postCall.exchange(call);
}

bool postOnce(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const PostCall call = postCall.load();
    return (call != nullptr ? call : PostMessageA)(window, message, wParam, lParam) != FALSE;
}

bool postUntilDelivered(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::chrono::milliseconds pause = kFirstPause;
    while (!postOnce(window, message, wParam, lParam)) {
        // A full queue drains as the window thread runs; a destroyed window never comes back.
        if (!IsWindow(window)) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, kLongestPause);
    }
    return true;
}

}  // namespace tavro
