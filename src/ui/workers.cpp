#include "ui/workers.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/installer_core.h"
#include "core/log_line.h"
#include "core/program_log.h"
#include "core/text_convert.h"
#include "download/package_hold.h"
#include "install/archive_expansion.h"
#include "install/uninstall_entry.h"
#include "ui/controls.h"
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

// Throws std::system_error when the thread cannot be started.
template <typename Body>
void startDetached(Body body) {
    std::thread(std::move(body)).detach();
}

// A failed task: its message box, then (once the box is closed, so the buttons stay disabled
// meanwhile) the failure message that enables them again.
void reportTaskFailure(const char* text, const char* caption) noexcept {
    try {
        logEvent(std::string("Error shown (") + caption + "): " + text);
        showMessage(withLogNote(text), caption);
    } catch (...) {
        // Out of memory for the box's text: the window must still learn that the task ended.
    }
    deliverSignal(appState.mainWindow, MSG_TASK_FAILED);
}

// Runs a task body; whatever it throws ends in its failure box and MSG_TASK_FAILED.
template <typename Body>
void runTask(const char* failureCaption, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        reportTaskFailure(e.what(), failureCaption);
    } catch (...) {
        reportTaskFailure(kUnknownError, failureCaption);
    }
}

void checkServer() {
    logEvent("Checking the API servers...");
    const ServerResult result = installerCore.checkFastestServer(programLog());
    if (!result.success) {
        reportTaskFailure(result.error.c_str(), kServerCheckCaption);
        return;
    }
    logEvent("Server chosen: " + result.url + " (answered in " + result.latency + ")");
    appState.setServerUrl(result.url);
    deliverSignal(appState.mainWindow, MSG_SERVER_OK);
}

void download(const std::string& email) {
    logEvent("Asking for the latest version for " + maskEmail(email) + "...");
    ReleaseInfo release = installerCore.getLatestVersion(appState.serverUrl(), email, programLog());
    logEvent("Latest version: " + release.version + ", build " + release.buildNumber +
             ", package " + release.packageUrl +
             (release.sha256.empty() ? ", no digest" : ", SHA-256 " + release.sha256));
    auto throttle = std::make_shared<DownloadThrottle>();
    std::filesystem::path package = installerCore.downloadPackage(
        release, downloadProgressAdapter(std::move(throttle)), programLog());
    logEvent("Package ready: " + toUtf8(package.native()));
    // The release and the package it produced are kept together, and only once the download
    // succeeded: after a failed one the earlier package is installed with its own build number
    // and checked against its own digest.
    appState.release = std::move(release);
    appState.packageFile = std::move(package);
    appState.packageReady.exchange(true);
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
    logEvent("Installing " + toUtf8(appState.packageFile.native()) + ", build " +
             appState.release.buildNumber + (withUsbDriver ? ", with the USB driver" : ""));
    // Held, so that nobody can change it meanwhile; its digest is checked on the bytes that are
    // copied for the expansion.
    FileHandle package = holdPackageForInstall(appState.packageFile, std::string(), error);
    if (package) {
        logEvent(appState.release.sha256.empty() ? "Package held (no digest to check)."
                                                 : "Package held; its digest is checked as it is copied.");
    }
    const bool installed =
        package &&
        installerCore.installPackage(appState.packageFile, appState.release.buildNumber,
                                     withUsbDriver, installProgressAdapter(), programLog(), error,
                                     appState.release.sha256);
    if (!installed && package && isExpansionFailure(error)) {
        logEvent(discardHeldPackage(package, appState.packageFile)
                     ? "The package could not be expanded; it is deleted, so the next download "
                       "fetches it again."
                     : "The package could not be expanded and cannot be deleted.");
    }
    appState.installRunning.exchange(false);
    if (installed) {
        logEvent("Registry values written: HKCU\\SOFTWARE\\Tavro AppDirectory, BuildNumber " +
                 appState.release.buildNumber);
        if (withUsbDriver) {
            logEvent(error.empty() ? "USB driver tool ran to its end (its exit code is not judged)."
                                   : "USB driver tool: " + error);
        }
        logEvent(error.empty() ? "Install completed." : "Install completed; " + error);
        std::string entryError;
        if (registerInstallation(appState.release.version, entryError)) {
            logEvent("Apps & features entry written for version " + appState.release.version);
        } else {
            logEvent("Apps & features entry not written: " + entryError);
        }
        deliverSignal(appState.mainWindow, MSG_INSTALL_DONE);
    } else {
        reportTaskFailure(error.c_str(), kInstallFailedCaption);
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
    runTask(kServerCheckCaption, checkServer);
}

void downloadWorker(const std::string& email) noexcept {
    runTask(kDownloadFailedCaption, [&email] { download(email); });
}

void installWorker() noexcept {
    runTask(kInstallFailedCaption, install);
}

}  // namespace

void startServerCheckWorker() {
    startDetached(serverCheckWorker);
}

void startDownloadWorker(std::string email) {
    startDetached([email = std::move(email)] { downloadWorker(email); });
}

void startInstallPulseWorker() {
    startDetached(installPulseWorker);
}

void startInstallWorker() {
    startDetached(installWorker);
}

void startUpdateWorker() {
    startDetached(updateWorker);
}

void startUninstallWorker() {
    startDetached(uninstallWorker);
}

}  // namespace tavro
