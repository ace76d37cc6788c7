#include "ui/task_messages.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/app_state.h"
#include "core/program_log.h"
#include "ui/commands.h"
#include "ui/controls.h"
#include "workflow/install_exit_codes.h"
#include "ui/label_text.h"
#include "ui/progress_bar.h"
#include "ui/progress_values.h"
#include "ui/ui_messages.h"
#include "ui/window_layout.h"
#include "ui/window_state.h"
#include "ui/workers.h"

namespace tavro {

namespace {

constexpr UINT kCloseDelayMs = 900;
// A passive run leaves its outcome on screen this long before the window closes itself.
constexpr UINT kPassiveCloseDelayMs = 3000;

WindowControls& controls() {
    return windowState.controls;
}

// A percent posted as wParam (its low 32 bits, signed).
std::int32_t percentOf(WPARAM wParam) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
}

// A passive run presses the button itself, as a click would (only when it is enabled).
void pressInPassiveRun(HWND window, HWND button, int commandId) {
    if (appState.passiveMode && button != nullptr && IsWindowEnabled(button)) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(commandId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
}

void onServerOk(HWND window, WPARAM, LPARAM) {
    setTextIfChanged(controls().statusLabel, "Server OK");
    validateEmail();
    pressInPassiveRun(window, controls().downloadButton, kDownloadId);
}

void onDownloadProgress(HWND, WPARAM, LPARAM lParam) {
    const auto progress = takePayload<DownloadProgress>(lParam);
    if (!progress) {
        return;
    }
    setProgressBar(controls().downloadBar, clampPercent(roundedPercent(progress->percent)));
    setTextIfChanged(controls().downloadPercentLabel, downloadPercentText(progress->percent));
    setTextIfChanged(controls().downloadedLabel, downloadedText(progress->downloadedMB));
    setTextIfChanged(controls().speedLabel, speedText(progress->speedMBps));
    setTextIfChanged(controls().statusLabel, "Downloading...");
}

void onDownloadDone(HWND window, WPARAM, LPARAM) {
    appState.taskRunning = false;
    setTextIfChanged(controls().statusLabel, "Finished!");
    setTextIfChanged(controls().downloadPercentLabel, "100%");
    setProgressBar(controls().downloadBar, 100);
    enableControl(controls().pauseButton, false);
    enableControl(controls().installButton, true);
    enableControl(controls().downloadButton, true);
    enableControl(controls().usbCheckBox, true);
    pressInPassiveRun(window, controls().installButton, kInstallId);
}

void onTaskFailed(HWND, WPARAM wParam, LPARAM) {
    appState.taskRunning = false;
    if (static_cast<int>(wParam) == kExitInstallFailed) {
        // A failed install is what the window's run ends with, until an install succeeds.
        appState.exitCode = kExitInstallFailed;
    }
    enableControl(controls().downloadButton, true);
    enableControl(controls().installButton, appState.packageReady.load());
    enableControl(controls().usbCheckBox, true);
    enableControl(controls().pauseButton, false);
}

// The bar never moves back: the pulse and the real progress both only raise the highest value.
void onInstallProgress(HWND, WPARAM wParam, LPARAM) {
    const std::int32_t shown = std::max(appState.installProgressMax.load(), percentOf(wParam));
    appState.installProgressMax.exchange(shown);
    setProgressBar(controls().installBar, clampPercent(shown));
    setTextIfChanged(controls().installPercentLabel, wholePercentText(shown));
}

void closeLater(HWND window, UINT delayMs) {
    SetTimer(window, CLOSE_TIMER_ID, delayMs, nullptr);
}

// A passive run ends with the failure in the status label, no box, and closes itself.
void onPassiveFailed(HWND window, WPARAM wParam, LPARAM lParam) {
    const auto error = takePayload<std::string>(lParam);
    onTaskFailed(window, 0, 0);
    setTextIfChanged(controls().statusLabel, error ? *error : std::string("Unknown error."));
    appState.exitCode = static_cast<int>(wParam);
    closeLater(window, kPassiveCloseDelayMs);
}

void onInstallDone(HWND window, WPARAM, LPARAM) {
    appState.taskRunning = false;
    setProgressBar(controls().installBar, 100);
    setTextIfChanged(controls().installPercentLabel, "100%");
    setTextIfChanged(controls().statusLabel, "Installed!");
    enableControl(controls().downloadButton, true);
    enableControl(controls().installButton, true);
    enableControl(controls().usbCheckBox, true);
    appState.exitCode = kExitInstalled;
    if (appState.passiveMode) {
        closeLater(window, kPassiveCloseDelayMs);
        return;
    }
    showMessage("Install completed.", "Tavro Installer");
}

void onUpdateStart(HWND, WPARAM, LPARAM) {
    setTextIfChanged(controls().updaterStatusLabel, "Updating...");
    setProgressBar(controls().updaterBar, 0);
    setTextIfChanged(controls().updaterPercentLabel, "0%");
    appendLogLine(controls().logEdit, "Tavro updater started.");
    startUpdateWorker();
}

void onLogLine(HWND, WPARAM, LPARAM lParam) {
    const auto line = takePayload<std::string>(lParam);
    if (line) {
        appendLogLine(controls().logEdit, *line);
    }
}

void onUpdateProgress(HWND, WPARAM wParam, LPARAM) {
    const int shown = clampPercent(percentOf(wParam));
    setProgressBar(controls().updaterBar, shown);
    setTextIfChanged(controls().updaterPercentLabel, wholePercentText(shown));
}

void onUpdateDone(HWND window, WPARAM, LPARAM) {
    setProgressBar(controls().updaterBar, 100);
    setTextIfChanged(controls().updaterPercentLabel, "100%");
    setTextIfChanged(controls().updaterStatusLabel, "Update complete.");
    appendLogLine(controls().logEdit, "Update complete.");
    closeLater(window, kCloseDelayMs);
}

void onUpdateFailed(HWND, WPARAM, LPARAM lParam) {
    const auto error = takePayload<std::string>(lParam);
    const std::string text = error ? *error : std::string();
    setTextIfChanged(controls().updaterStatusLabel, "Update failed.");
    appendLogLine(controls().logEdit, "ERROR: " + text);
    showMessage(withLogNote(text), "Tavro Updater failed");
    appState.exitCode = kExitInstallFailed;  // a failed update is no success to whoever started it
}

void onUninstallStart(HWND, WPARAM, LPARAM) {
    setTextIfChanged(controls().updaterStatusLabel, "Uninstalling...");
    setProgressBar(controls().updaterBar, 0);
    setTextIfChanged(controls().updaterPercentLabel, "0%");
    appendLogLine(controls().logEdit, "Tavro uninstall started.");
    startUninstallWorker();
}

// The end of an uninstall either way: its box, then the window closes and the process ends.
void onUninstallDone(HWND window, WPARAM, LPARAM lParam) {
    const auto kept = takePayload<std::string>(lParam);
    setProgressBar(controls().updaterBar, 100);
    setTextIfChanged(controls().updaterPercentLabel, "100%");
    setTextIfChanged(controls().updaterStatusLabel, "Uninstall complete.");
    appendLogLine(controls().logEdit, "Uninstall complete.");
    showMessage(kept ? *kept : std::string("Tavro was removed."), "Tavro Uninstall");
    appState.exitCode = 0;
    DestroyWindow(window);
}

void onUninstallFailed(HWND window, WPARAM, LPARAM lParam) {
    const auto error = takePayload<std::string>(lParam);
    const std::string text = error ? *error : std::string("Unknown error.");
    setTextIfChanged(controls().updaterStatusLabel, "Uninstall failed.");
    appendLogLine(controls().logEdit, "ERROR: " + text);
    showMessage(withLogNote(text), "Tavro Uninstall failed");
    appState.exitCode = 1;
    DestroyWindow(window);
}

using Handler = void (*)(HWND window, WPARAM wParam, LPARAM lParam);

struct TaskMessage {
    UINT message;
    Handler handler;
};

constexpr TaskMessage kTaskMessages[] = {
    {MSG_SERVER_OK, onServerOk},
    {MSG_DOWNLOAD_PROGRESS, onDownloadProgress},
    {MSG_DOWNLOAD_DONE, onDownloadDone},
    {MSG_TASK_FAILED, onTaskFailed},
    {MSG_INSTALL_PROGRESS, onInstallProgress},
    {MSG_INSTALL_DONE, onInstallDone},
    {MSG_UPDATE_START, onUpdateStart},
    {MSG_LOG_LINE, onLogLine},
    {MSG_UPDATE_PROGRESS, onUpdateProgress},
    {MSG_UPDATE_DONE, onUpdateDone},
    {MSG_UPDATE_FAILED, onUpdateFailed},
    {MSG_UNINSTALL_START, onUninstallStart},
    {MSG_UNINSTALL_DONE, onUninstallDone},
    {MSG_UNINSTALL_FAILED, onUninstallFailed},
    {MSG_PASSIVE_FAILED, onPassiveFailed},
};

const TaskMessage* find(UINT message) {
    const auto entry =
        std::find_if(std::begin(kTaskMessages), std::end(kTaskMessages),
                     [message](const TaskMessage& m) { return m.message == message; });
    return entry == std::end(kTaskMessages) ? nullptr : entry;
}

}  // namespace

bool isTaskMessage(UINT message) {
    return find(message) != nullptr;
}

void onTaskMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (const TaskMessage* entry = find(message)) {
        entry->handler(window, wParam, lParam);
    }
}

void onTimer(HWND window, WPARAM timerId) {
    if (timerId != CLOSE_TIMER_ID) {
        return;
    }
    KillTimer(window, CLOSE_TIMER_ID);
    DestroyWindow(window);
}

}  // namespace tavro
