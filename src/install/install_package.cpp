#include <windows.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "core/installer_core.h"
#include "core/machine_record.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/file_append.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "fs/package_digest.h"
#include "fs/sha256_stream.h"
#include "install/archive_expansion.h"
#include "install/data_folders.h"
#include "install/directory_copy.h"
#include "install/file_transaction.h"
#include "install/protected_folder.h"
#include "install/registry_records.h"
#include "install/shortcuts.h"
#include "install/usb_driver.h"

namespace tavro {

namespace {

// Whether the open package has the size it should have (none given: any); error says why not.
// Compared before a byte is copied: a file of any size may stand where the package should be.
bool hasExpectedSize(HANDLE package, std::optional<std::uint64_t> expectedSize,
                     std::string& error) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(package, &size)) {
        error = "Cannot read the package's size: error " + std::to_string(GetLastError());
        return false;
    }
    if (expectedSize && static_cast<std::uint64_t>(size.QuadPart) != *expectedSize) {
        error = "The package is " + std::to_string(size.QuadPart) + " bytes; the release is " +
                std::to_string(*expectedSize) + " bytes";
        return false;
    }
    return true;
}

// Copies the package, read through a checked handle (never through a link), to target in the
// protected folder, hashing it on the way; true when it was read whole, has the expected size
// and, with an expected digest, matches it (digest: what was read). error says why not.
bool copyPackageForExpansion(const std::filesystem::path& package,
                             const std::filesystem::path& target, const std::string& expectedSha256,
                             std::optional<std::uint64_t> expectedSize, std::string& digest,
                             std::string& error) {
    const HeldFolder folder = HeldFolder::open(package.parent_path(), false);
    const FileHandle from = folder.openFile(package.filename().native(), GENERIC_READ);
    if (!from) {
        error = "Expand-Archive failed for " + pathToAnsi(package);
        return false;
    }
    if (!hasExpectedSize(from.get(), expectedSize, error)) {
        return false;
    }
    const FileHandle to(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to) {
        error = "Cannot copy the package to " + pathToAnsi(target) + ": error " +
                std::to_string(GetLastError());
        return false;
    }
    std::unique_ptr<DigestStream> hash = startSha256(error);
    if (!hash) {
        return false;
    }
    bool hashed = true;
    std::uint64_t seen = 0;
    const SeeBlock see = [&hash, &hashed, &seen](const char* data, std::size_t size) {
        hashed = hash->add(data, size) && hashed;
        seen += size;
    };
    // The caller holds the package without write sharing, so it cannot grow past the size
    // compared above; the count is what shows it did not.
    if (appendOpenFile(from.get(), to.get(), see) != AppendResult::Done || !hashed ||
        (expectedSize && seen != *expectedSize)) {
        error = "Cannot copy the package " + pathToAnsi(package) + " to " + pathToAnsi(target);
        return false;
    }
    digest = hash->finish(error);
    if (digest.empty()) {
        return false;
    }
    if (!expectedSha256.empty() && digest != expectedSha256) {
        error = digestMismatchText(expectedSha256, digest);
        return false;
    }
    return true;
}

// Records the digest of the bytes read from a package in the download folder, where only
// administrators can write: a later run reuses that file only while it still has them. The
// download does not hash a package whose release has no digest; this read is its one pass.
void recordReadPackage(const std::filesystem::path& package, const std::string& digest,
                       const LogCallback& log) {
    if (package.parent_path() != downloadFolder()) {
        return;
    }
    std::string error;
    if (!writeMachineValue(kDownloadDigestsKey, package.filename().c_str(), digest, error) && log) {
        log("The package's digest was not recorded, so it will not be reused: " + error);
    }
}

// An install of the package whose journal carries after (see installFilesAsOne).
bool installPackageFollowedUp(const std::filesystem::path& packagePath,
                              const std::string& buildNumber, bool installUsbDriver,
                              InstallCallback progress, LogCallback log, std::string& error,
                              const std::string& expectedSha256,
                              std::optional<std::uint64_t> expectedSize,
                              const JournalFollowUp& after) {
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
        // by an outside program, by path, and the USB driver tool is started from there. The
        // package goes there first, as it was checked, so what is expanded cannot be swapped.
        const ProtectedFolder scratch;
        const std::filesystem::path packageCopy = scratch.path() / L"package.zip";
        const std::filesystem::path extractFolder = scratch.path() / L"Unpacked";

        if (logSink) {
            logSink("Extracting package to temporary source folder...");
        }
        if (progressSink) {
            progressSink(InstallState{0, 100, 0.0});
        }
        std::string digest;
        if (!copyPackageForExpansion(packagePath, packageCopy, expectedSha256, expectedSize, digest,
                                     error)) {
            return false;
        }
        recordReadPackage(packagePath, digest, logSink);
        if (!expandArchive(packageCopy, extractFolder, error)) {
            error = "Expand-Archive failed for " + pathToAnsi(packagePath);
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
        // All or nothing over an earlier version; the record (what the uninstall may remove)
        // is its commit point.
        if (!installFilesAsOne(extractFolder, after, progressSink, logSink, total, copied, error)) {
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

}  // namespace

bool InstallerCore::installPackage(const std::filesystem::path& packagePath,
                                   const std::string& buildNumber, bool installUsbDriver,
                                   InstallCallback progress, LogCallback log, std::string& error) {
    return installPackage(packagePath, buildNumber, installUsbDriver, std::move(progress),
                          std::move(log), error, std::string(), std::nullopt);
}

bool InstallerCore::installPackage(const std::filesystem::path& packagePath,
                                   const std::string& buildNumber, bool installUsbDriver,
                                   InstallCallback progress, LogCallback log, std::string& error,
                                   const std::string& expectedSha256,
                                   std::optional<std::uint64_t> expectedSize) {
    return installPackageFollowedUp(packagePath, buildNumber, installUsbDriver, std::move(progress),
                                    std::move(log), error, expectedSha256, expectedSize,
                                    JournalFollowUp());
}

bool InstallerCore::installPackage(const std::filesystem::path& packagePath,
                                   const ReleaseInfo& release, bool installUsbDriver,
                                   InstallCallback progress, LogCallback log, std::string& error) {
    return installPackageFollowedUp(
        packagePath, release.buildNumber, installUsbDriver, std::move(progress), std::move(log),
        error, release.sha256, release.signedSize,
        JournalFollowUp{JournalRun::install, release.buildNumber, release.version});
}

}  // namespace tavro
