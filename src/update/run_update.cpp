#include <exception>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/installer_core.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "fs/held_folder.h"
#include "install/directory_copy.h"
#include "install/file_transaction.h"
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

// After a failed update the person gets the earlier version back, running as before.
template <typename Say>
void reopenEarlierVersion(const LogCallback& log, const Say& say) {
    std::string openError;
    if (!openApplication(log, openError)) {
        say("The earlier version could not be started again: " + openError);
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

        // Opened before they are ended, so that the wait below is for exactly these.
        const std::vector<KernelHandle> running = openProductProcesses();
        if (!closeRunningApps(logSink, error)) {
            return false;
        }
        say("Waiting 5 seconds for running Tavro processes to close...");
        if (!waitForProcessesToEnd(running, logSink, countdownStep)) {
            say("Some Tavro processes have not ended yet; files they hold are tried again.");
        }

        if (!std::filesystem::is_directory(std::filesystem::status(source))) {
            error = "Update source folder not found: " + pathToAnsi(source);
            return false;
        }
        // Made through held handles: every element checked, never led by a link.
        HeldFolder::open(destination, true);
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
        // All or nothing: a file that cannot be replaced leaves every file as it was, and the
        // person gets the earlier version back.
        // The version and size in Apps & features follow the update (the record did with its
        // files), written before the journal goes: a kill after the record has the next start
        // write them. A failure there is logged and does not fail the update.
        const JournalFollowUp after{
            JournalRun::update, {}, productVersionOf(source / L"Tavro.exe")};
        if (!installFilesAsOne(source, after, progressSink, logSink, total, copied, error)) {
            say("Update failed: " + error);
            reopenEarlierVersion(logSink, say);
            return false;
        }
        if (progressSink) {
            progressSink(makeInstallState(total, total));
        }
        say("Update complete.");

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
