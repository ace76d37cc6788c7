#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/message_post.h"

namespace tavro {

// Private messages that the workers post to the main window (and the window to itself).
inline constexpr UINT MSG_SERVER_OK = WM_APP + 1;          // 0, 0
inline constexpr UINT MSG_DOWNLOAD_PROGRESS = WM_APP + 2;  // 0, DownloadProgress
inline constexpr UINT MSG_DOWNLOAD_DONE = WM_APP + 3;      // 0, 0
inline constexpr UINT MSG_TASK_FAILED = WM_APP + 4;        // the task's exit code, 0
inline constexpr UINT MSG_INSTALL_PROGRESS = WM_APP + 5;   // percent, 0
inline constexpr UINT MSG_INSTALL_DONE = WM_APP + 6;       // 0, 0
inline constexpr UINT MSG_UPDATE_START = WM_APP + 19;      // 0, 0
inline constexpr UINT MSG_LOG_LINE = WM_APP + 20;          // 0, std::string (one log line)
inline constexpr UINT MSG_UPDATE_PROGRESS = WM_APP + 21;   // percent, 0
inline constexpr UINT MSG_UPDATE_DONE = WM_APP + 22;       // 0, 0
inline constexpr UINT MSG_UPDATE_FAILED = WM_APP + 23;     // 0, std::string (the error)
inline constexpr UINT MSG_UNINSTALL_START = WM_APP + 24;   // 0, 0
inline constexpr UINT MSG_UNINSTALL_DONE = WM_APP + 25;    // 0, std::string (what was kept)
inline constexpr UINT MSG_UNINSTALL_FAILED = WM_APP + 26;  // 0, std::string (the error)
inline constexpr UINT MSG_PASSIVE_FAILED = WM_APP + 27;    // exit code, std::string (the error)

// Payload of MSG_DOWNLOAD_PROGRESS.
struct DownloadProgress {
    double percent = 0.0;
    double downloadedMB = 0.0;
    double speedMBps = 0.0;
};

// Posts a message whose lParam carries a heap payload. The window thread takes ownership only
// when the post succeeded; when it fails (the window is gone, the queue is full) the payload is
// freed here, so nothing leaks.
template <typename Payload>
bool postPayload(HWND window, UINT message, std::unique_ptr<Payload> payload, WPARAM wParam = 0) {
    if (!postOnce(window, message, wParam, reinterpret_cast<LPARAM>(payload.get()))) {
        return false;
    }
    static_cast<void>(payload.release());  // owned by the message from here on
    return true;
}

// postPayload for a message that must arrive (a task's end, a line of the visible log): posted
// again until it is, or until the window is gone (false; the payload is then freed here).
template <typename Payload>
bool deliverPayload(HWND window, UINT message, std::unique_ptr<Payload> payload,
                    WPARAM wParam = 0) {
    if (!postUntilDelivered(window, message, wParam, reinterpret_cast<LPARAM>(payload.get()))) {
        return false;
    }
    static_cast<void>(payload.release());
    return true;
}

// The handler's first step: takes back ownership of a payload posted with postPayload.
template <typename Payload>
std::unique_ptr<Payload> takePayload(LPARAM lParam) {
    return std::unique_ptr<Payload>(reinterpret_cast<Payload*>(lParam));
}

// Posts a message without payload.
inline bool postSignal(HWND window, UINT message, WPARAM wParam = 0) {
    return postOnce(window, message, wParam, 0);
}

// postSignal for a message that must arrive: posted again until it is or the window is gone.
inline bool deliverSignal(HWND window, UINT message, WPARAM wParam = 0) {
    return postUntilDelivered(window, message, wParam, 0);
}

}  // namespace tavro
