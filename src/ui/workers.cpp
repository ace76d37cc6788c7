#include "ui/workers.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/background_thread.h"
#include "core/installer_core.h"
#include "core/program_log.h"
#include "ui/controls.h"
#include "workflow/install_exit_codes.h"
#include "workflow/install_steps.h"
#include "ui/progress_adapters.h"
#include "ui/ui_messages.h"
#include "ui/window_state.h"

namespace tavro {

namespace {

constexpr char kUnknownError[] = "Unknown error.";
constexpr char kServerCheckCaption[] = "Tavro Installer";
constexpr char kDownloadFailedCaption[] = "Download failed";
constexpr char kInstallFailedCaption[] = "Install failed";

constexpr std::int32_t kPulseLimit = 92;
constexpr std::int32_t kPulseFastBelow = 35;
constexpr std::chrono::milliseconds kPulseInterval{120};

// A passive run shows no box: the window shows the failure in its status label, keeps the exit
// code and closes itself.
void reportPassiveFailure(const char* text, int exitCode) noexcept {
    try {
        logEvent(std::string("Failed (") + exitCodeMeaning(exitCode) + "): " + text);
        deliverPayload(appState.mainWindow, MSG_PASSIVE_FAILED, std::make_unique<std::string>(text),
                       static_cast<WPARAM>(exitCode));
    } catch (...) {
        deliverPayload(appState.mainWindow, MSG_PASSIVE_FAILED, std::unique_ptr<std::string>(),
                       static_cast<WPARAM>(exitCode));
    }
}

// A failed task: its message box, then (once the box is closed, so the buttons stay disabled
// meanwhile) the failure message that enables them again. exitCode is what a passive run ends
// with.
void reportTaskFailure(const char* text, const char* caption, int exitCode) noexcept {
    if (appState.passiveMode) {
        reportPassiveFailure(text, exitCode);
        return;
    }
    try {
        logEvent(std::string("Error shown (") + caption + "): " + text);
        showMessage(withLogNote(text), caption);
    } catch (...) {
        // Out of memory for the box's text: the window must still learn that the task ended.
    }
    deliverSignal(appState.mainWindow, MSG_TASK_FAILED, static_cast<WPARAM>(exitCode));
}

// Runs a task body; whatever it throws ends in its failure box and MSG_TASK_FAILED. The body
// moves exitCode on as it passes from one step to the next.
template <typename Body>
void runTask(const char* failureCaption, int& exitCode, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        reportTaskFailure(e.what(), failureCaption, exitCode);
    } catch (...) {
        reportTaskFailure(kUnknownError, failureCaption, exitCode);
    }
}

void checkServer() {
    const ServerResult result = chooseApiServer();
    if (!result.success) {
        reportTaskFailure(result.error.c_str(), kServerCheckCaption, kExitNoServer);
        return;
    }
    deliverSignal(appState.mainWindow, MSG_SERVER_OK);
}

void download(const std::string& email, int& exitCode) {
    ReleaseInfo release = queryLatestRelease(email);
    exitCode = kExitDownloadFailed;
    auto throttle = std::make_shared<DownloadThrottle>();
    downloadRelease(std::move(release), downloadProgressAdapter(std::move(throttle)));
    deliverSignal(appState.mainWindow, MSG_DOWNLOAD_DONE);
}

// The companion of the install: moves the bar on while the real progress lags.
void installPulseWorker() noexcept {
    while (appState.installRunning.load()) {
        const std::int32_t shown = appState.installProgressMax.load();
        if (shown < kPulseLimit) {
            const std::int32_t step = shown < kPulseFastBelow ? 2 : 1;
            const std::int32_t next = std::min(shown + step, kPulseLimit);
            postSignal(appState.mainWindow, MSG_INSTALL_PROGRESS,
                       static_cast<WPARAM>(static_cast<std::uint32_t>(next)));
        }
        std::this_thread::sleep_for(kPulseInterval);
    }
}

// Ends the install pulse when the install returns, also when it throws.
struct InstallRunningReset {
    ~InstallRunningReset() { appState.installRunning.exchange(false); }
};

void install() {
    InstallRunningReset reset;
    const bool withUsbDriver =
        SendMessageA(windowState.controls.usbCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    std::string error;
    const bool installed = installDownloadedPackage(withUsbDriver, installProgressAdapter(), error);
    appState.installRunning.exchange(false);
    if (installed) {
        registerInstalledPackage(withUsbDriver, error);
        deliverSignal(appState.mainWindow, MSG_INSTALL_DONE);
    } else {
        reportTaskFailure(error.c_str(), kInstallFailedCaption, kExitInstallFailed);
    }
}

// The window's log lines, written to the run's log as well.
LogCallback alsoToProgramLog(LogCallback window) {
    const LogCallback file = programLog();
    if (!file) {
        return window;
    }
    return [window = std::move(window), file](const std::string& line) {
        file(line);
        window(line);
    };
}

void postUpdateFailure(const char* text) noexcept {
    try {
        deliverPayload(appState.mainWindow, MSG_UPDATE_FAILED, std::make_unique<std::string>(text));
    } catch (...) {
        deliverPayload(appState.mainWindow, MSG_UPDATE_FAILED, std::unique_ptr<std::string>());
    }
}

void updateWorker() noexcept {
    try {
        std::string error;
        if (installerCore.runUpdate(updateProgressAdapter(), alsoToProgramLog(logLineAdapter()),
                                    error)) {
            logEvent("Update complete.");
            deliverSignal(appState.mainWindow, MSG_UPDATE_DONE);
        } else {
            logEvent("Update failed: " + error);
            deliverPayload(appState.mainWindow, MSG_UPDATE_FAILED,
                           std::make_unique<std::string>(std::move(error)));
        }
    } catch (const std::exception& e) {
        postUpdateFailure(e.what());
    } catch (...) {
        postUpdateFailure(kUnknownError);
    }
}

// The box at the end of an uninstall: what stayed, the first lines of it (the log has all).
std::string keptText(const std::vector<std::string>& kept) {
    constexpr std::size_t kShown = 12;
    if (kept.empty()) {
        return "Tavro was removed.";
    }
    std::string text = "Tavro was removed. These were kept:";
    for (std::size_t i = 0; i < kept.size() && i < kShown; ++i) {
        text += "\n" + kept[i];
    }
    if (kept.size() > kShown) {
        text += "\n... and " + std::to_string(kept.size() - kShown) + " more";
    }
    return text;
}

void uninstallWorker() noexcept {
    try {
        std::vector<std::string> kept;
        std::string error;
        if (installerCore.runUninstall(updateProgressAdapter(), alsoToProgramLog(logLineAdapter()),
                                       kept, error)) {
            deliverPayload(appState.mainWindow, MSG_UNINSTALL_DONE,
                           std::make_unique<std::string>(keptText(kept)));
        } else {
            logEvent("Uninstall failed: " + error);
            deliverPayload(appState.mainWindow, MSG_UNINSTALL_FAILED,
                           std::make_unique<std::string>(std::move(error)));
        }
    } catch (...) {
        deliverPayload(appState.mainWindow, MSG_UNINSTALL_FAILED, std::unique_ptr<std::string>());
    }
}

// The thread entries: each reports a failure through its own failure path, none lets one out.
void serverCheckWorker() noexcept {
    int exitCode = kExitNoServer;
    runTask(kServerCheckCaption, exitCode, checkServer);
}

void downloadWorker(const std::string& email) noexcept {
    int exitCode = kExitNoRelease;
    runTask(kDownloadFailedCaption, exitCode, [&email, &exitCode] { download(email, exitCode); });
}

void installWorker() noexcept {
    int exitCode = kExitInstallFailed;
    runTask(kInstallFailedCaption, exitCode, install);
}

}  // namespace

void startServerCheckWorker() {
    startBackgroundThread(serverCheckWorker);
}

void startDownloadWorker(std::string email) {
    startBackgroundThread([email = std::move(email)] { downloadWorker(email); });
}

void startInstallPulseWorker() {
    startBackgroundThread(installPulseWorker);
}

void startInstallWorker() {
    startBackgroundThread(installWorker);
}

void startUpdateWorker() {
    startBackgroundThread(updateWorker);
}

void startUninstallWorker() {
    startBackgroundThread(uninstallWorker);
}

}  // namespace tavro
