#include "app/quiet_install.h"

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "core/callbacks.h"
#include "core/program_log.h"
#include "workflow/install_exit_codes.h"
#include "workflow/install_steps.h"

namespace tavro {

namespace {

// What the window's status label would say now.
void logStatus(const char* status) {
    logEvent(std::string("Status: ") + status);
}

void logFailure(int exitCode, const std::string& text) {
    logEvent(std::string("Failed (") + exitCodeMeaning(exitCode) + "): " + text);
}

// Runs one step that throws on failure; false with the failure logged.
template <typename Step>
bool stepSucceeded(int exitCode, Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        logFailure(exitCode, e.what());
    } catch (...) {
        logFailure(exitCode, "Unknown error.");
    }
    return false;
}

// The download's progress as the log can take it: one line per tenth. The part threads report at
// once, so the last tenth written is claimed atomically.
DownloadCallback downloadProgressLines() {
    auto lastTenth = std::make_shared<std::atomic<int>>(0);
    return [lastTenth](const DownloadState& state) {
        const int tenth = static_cast<int>(state.percent / 10.0);
        int seen = lastTenth->load();
        while (tenth > seen) {
            if (lastTenth->compare_exchange_weak(seen, tenth)) {
                logEvent("Downloaded " + std::to_string(tenth * 10) + " % (" +
                         std::to_string(state.downloadedBytes) + " bytes)");
                return;
            }
        }
    };
}

}  // namespace

int runQuietInstall(const std::string& email, bool withUsbDriver) {
    logStatus("Checking...");
    const ServerResult server = chooseApiServer();
    if (!server.success) {
        logFailure(kExitNoServer, server.error);
        return kExitNoServer;
    }
    logStatus("Server OK");
    ReleaseInfo release;
    if (!stepSucceeded(kExitNoRelease, [&] { release = queryLatestRelease(email); })) {
        return kExitNoRelease;
    }
    logStatus("Downloading...");
    if (!stepSucceeded(kExitDownloadFailed,
                       [&] { downloadRelease(std::move(release), downloadProgressLines()); })) {
        return kExitDownloadFailed;
    }
    logStatus("Finished!");
    std::string error;
    bool installed = false;
    if (!stepSucceeded(kExitInstallFailed, [&] {
            installed = installDownloadedPackage(withUsbDriver, InstallCallback(), error);
        })) {
        return kExitInstallFailed;
    }
    if (!installed) {
        logFailure(kExitInstallFailed, error);
        return kExitInstallFailed;
    }
    registerInstalledPackage(withUsbDriver, error);
    logStatus("Installed!");
    return kExitInstalled;
}

}  // namespace tavro
