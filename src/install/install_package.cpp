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
#include "install/protected_folder.h"
#include "install/registry_records.h"
#include "install/shortcuts.h"
#include "install/usb_driver.h"

namespace tavro {

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

        // The package is expanded where only administrators can write: the expansion is done
        // by an outside program, by path, and the USB driver tool is started from there.
        const ProtectedFolder scratch;
        const std::filesystem::path extractFolder = scratch.path();

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
        std::vector<RecordEntry> installed;
        if (!copyDirectoryTree(extractFolder, installRoot(), progressSink, logSink, total, copied,
                               error, refuseLinks, &installed)) {
            return false;
        }
        // What the uninstall may remove: the files just installed, as they were written.
        if (!recordInstalledFiles(installed, logSink, error)) {
            return false;
        }

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
            launchUsbDriverInstaller(extractFolder / L"USB Driver", error);
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
