#include <exception>
#include <filesystem>
#include <thread>

#include "core/installer_core.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/directory_copy.h"
#include "install/install_record.h"
#include "install/shortcuts.h"
#include "install/uninstall_entry.h"
#include "update/product_processes.h"

namespace tavro {

namespace {

// "Continuing in 5..." down to 1, one step apart; the steps are slept also without a log.
void countdown(const LogCallback& log, std::chrono::milliseconds step) {
    for (int n = 5; n >= 1; --n) {
        if (log) {
            log("Continuing in " + std::to_string(n) + "...");
        }
        std::this_thread::sleep_for(step);
    }
}

// The install record and the size in Apps & features follow the update; a failure is logged and
// does not fail an update whose files are already in place.
template <typename Say>
void refreshInstallRecord(const std::vector<RecordEntry>& installed,
                          const std::filesystem::path& destination, const LogCallback& log,
                          const Say& say) {
    std::string error;
    ParsedRecord record;
    if (!recordInstalledFiles(installed, log, error) || !readInstallRecord(record, error) ||
        !refreshUninstallEntry(productVersionOf(destination / L"Tavro.exe"),
                               recordKibibytes(record.entries), error)) {
        say("The install record was not refreshed: " + error);
    }
}

}  // namespace

bool InstallerCore::runUpdate(InstallCallback progress, LogCallback log, std::string& error) {
    return runUpdate(std::move(progress), std::move(log), error, std::chrono::seconds(1));
}

bool InstallerCore::runUpdate(InstallCallback progress, LogCallback log, std::string& error,
                              std::chrono::milliseconds countdownStep) {
    // Owned by this call and released before it returns, on every path.
    const InstallCallback progressSink = std::move(progress);
    const LogCallback logSink = std::move(log);
    const auto say = [&logSink](const std::string& line) {
        if (logSink) {
            logSink(line);
        }
    };
    try {
        const std::filesystem::path source = installRoot() / L"Update" / L"Unpacked";
        const std::filesystem::path destination = installRoot();
        say("Starting updater mode...");
        say("Source: " + pathToAnsi(source));
        say("Destination: " + pathToAnsi(destination));

        if (!closeRunningApps(logSink, error)) {
            return false;
        }
        say("Waiting 5 seconds for running Tavro processes to close...");
        countdown(logSink, countdownStep);

        if (!std::filesystem::is_directory(std::filesystem::status(source))) {
            error = "Update source folder not found: " + pathToAnsi(source);
            return false;
        }
        std::filesystem::create_directories(destination);
        std::int32_t total = 0;
        countFiles(source, total);
        if (total == 0) {
            error = "Update source has no files: " + pathToAnsi(source);
            return false;
        }
        if (progressSink) {
            progressSink(InstallState{0, total, 0.0});
        }
        say("Copying " + std::to_string(total) + " files...");
        std::int32_t copied = 0;
        // The same link rules as the install's copy: started elevated, the updater must not be
        // led by a link another user planted in the tree.
        std::vector<RecordEntry> installed;
        if (!copyDirectoryTree(source, destination, progressSink, logSink, total, copied, error,
                               refuseLinks, &installed)) {
            return false;
        }
        if (progressSink) {
            progressSink(makeInstallState(total, total));
        }
        say("Update complete.");
        refreshInstallRecord(installed, destination, logSink, say);

        // A link that cannot be written does not fail the update.
        std::string shortcutError;
        createShortcuts(shortcutError);

        say("Waiting 5 seconds for running Tavro processes to open ...");
        countdown(logSink, countdownStep);

        std::string openError;
        if (!openApplication(logSink, openError)) {
            error = openError.empty() ? "Could not open Tavro after update." : openError;
            return false;
        }
        say("Tavro open request sent.");
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
