#include <exception>
#include <filesystem>

#include "core/installer_core.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "install/archive_expansion.h"
#include "install/data_folders.h"
#include "install/directory_copy.h"
#include "install/install_record.h"
#include "install/install_paths.h"
#include "install/link_guard.h"
#include "install/registry_records.h"
#include "install/shortcuts.h"
#include "install/usb_driver.h"

namespace tavro {

namespace {

// Empties the scratch folder by removing it; a link in it that cannot be deleted as itself
// ends the install, since the expansion would write through it. Other failures are ignored.
void removeScratchFolder(const std::filesystem::path& folder) {
    refuseLinks(folder);
    const std::string refusal = removeTreeWithoutFollowing(folder);
    if (!refusal.empty()) {
        throw LinkRefused(refusal);
    }
}

}  // namespace

bool InstallerCore::installPackage(const std::filesystem::path& packagePath,
                                   const std::string& buildNumber, bool installUsbDriver,
                                   InstallCallback progress, LogCallback log, std::string& error) {
    // Owned by this call and released before it returns, on every path.
    const InstallCallback progressSink = std::move(progress);
    const LogCallback logSink = std::move(log);
    try {
        createDirectoriesRefusingLinks(installRoot());
        createDirectoriesRefusingLinks(downloadFolder());
        if (!createDataFolders(error)) {
            return false;
        }

        // A leftover of an earlier install must not reach the install root.
        const std::filesystem::path extractFolder = downloadFolder() / L"InstallUnpacked";
        removeScratchFolder(extractFolder);
        createDirectoriesRefusingLinks(extractFolder);

        if (logSink) {
            logSink("Extracting package to temporary source folder...");
        }
        if (progressSink) {
            progressSink(InstallState{0, 100, 0.0});
        }
        if (!expandArchive(packagePath, extractFolder, error)) {
            return false;
        }

        std::int32_t total = 0;
        countFiles(extractFolder, total);
        if (total == 0) {
            error = "Downloaded package has no files after extract: " + pathToAnsi(extractFolder);
            return false;
        }
        if (logSink) {
            logSink("Copying " + std::to_string(total) + " files...");
        }
        std::int32_t copied = 0;
        if (!copyDirectoryTree(extractFolder, installRoot(), progressSink, logSink, total, copied,
                               error, refuseLinks)) {
            return false;
        }
        // What the uninstall may remove: the files just installed, as they are now.
        if (!recordInstalledFiles(extractFolder, installRoot(), error)) {
            return false;
        }
        removeScratchFolder(extractFolder);

        if (!writeRegistryRecords(buildNumber, installRoot(), error)) {
            return false;
        }
        if (logSink) {
            logSink("Creating shortcuts...");
        }
        if (!createShortcuts(error)) {
            return false;
        }
        if (installUsbDriver) {
            // A tool that cannot be started leaves its text in error; the install still
            // succeeds.
            launchUsbDriverInstaller(error);
        }
        if (progressSink) {
            progressSink(makeInstallState(total, total));
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
