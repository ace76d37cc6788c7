#include "workflow/install_steps.h"

#include <filesystem>
#include <utility>

#include "api/build_floor.h"
#include "core/app_state.h"
#include "core/installer_core.h"
#include "core/log_line.h"
#include "core/program_log.h"
#include "core/text_convert.h"
#include "download/package_hold.h"
#include "install/archive_expansion.h"
#include "install/lock_down.h"
#include "install/uninstall_entry.h"

namespace tavro {

ServerResult chooseApiServer() {
    logEvent("Checking the API servers...");
    ServerResult result = installerCore.checkFastestServer(programLog());
    if (result.success) {
        logEvent("Server chosen: " + result.url + " (answered in " + result.latency + ")");
        appState.setServerUrl(result.url);
    }
    return result;
}

ReleaseInfo queryLatestRelease(const std::string& email) {
    logEvent("Asking for the latest version for " + maskEmail(email) + "...");
    ReleaseInfo release = installerCore.getLatestVersion(appState.serverUrl(), email, programLog());
    logEvent("Latest version: " + release.version + ", build " + release.buildNumber +
             ", package " + release.packageUrl +
             (release.sha256.empty() ? ", no digest" : ", SHA-256 " + release.sha256));
    return release;
}

void downloadRelease(ReleaseInfo release, DownloadCallback progress) {
    std::filesystem::path package =
        installerCore.downloadPackage(release, std::move(progress), programLog());
    logEvent("Package ready: " + toUtf8(package.native()));
    // The release and the package it produced are kept together, and only once the download
    // succeeded: after a failed one the earlier package is installed with its own build number
    // and checked against its own digest.
    appState.release = std::move(release);
    appState.packageFile = std::move(package);
    appState.packageReady.exchange(true);
}

namespace {

// Only a signed build raises the floor: a build number from an unsigned reply is the server's
// word, and a server could otherwise set a floor that refuses every later release.
void raiseFloorToInstalledBuild() {
    if (!appState.release.signedSize) {
        return;
    }
    std::string error;
    logEvent(raiseRollbackFloor(appState.release.buildNumber, error)
                 ? "Rollback floor: at least build " + appState.release.buildNumber
                 : "Rollback floor not raised: " + error);
}

}  // namespace

void registerInstalledPackage(bool withUsbDriver, const std::string& usbError) {
    logEvent("Registry values written: HKCU\\SOFTWARE\\Tavro AppDirectory, BuildNumber " +
             appState.release.buildNumber);
    if (withUsbDriver) {
        logEvent(usbError.empty() ? "USB driver tool ran to its end (its exit code is not judged)."
                                  : "USB driver tool: " + usbError);
    }
    logEvent(usbError.empty() ? "Install completed." : "Install completed; " + usbError);
    raiseFloorToInstalledBuild();
    std::string entryError;
    if (registerInstallation(appState.release.version, entryError)) {
        logEvent("Apps & features entry written for version " + appState.release.version);
    } else {
        logEvent("Apps & features entry not written: " + entryError);
    }
}

namespace {

// Under the machine's lock-down policy: the program files and folders just installed (and those
// from before) become the administrators' alone. false with the reason in error.
bool lockDownProgramFiles(std::string& error) {
    try {
        const LockDownCount count = lockDownInstallRoot();
        logEvent("Lock-down policy: " + std::to_string(count.set) +
                 " program files and folders set to administrators and the system (users read "
                 "and execute)" +
                 (count.linksSkipped ? "; links skipped: " + std::to_string(count.linksSkipped)
                                     : std::string()));
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        logEvent("Lock-down policy: " + error);
        return false;
    }
}

}  // namespace

bool installDownloadedPackage(bool withUsbDriver, InstallCallback progress, std::string& error) {
    logEvent("Installing " + toUtf8(appState.packageFile.native()) + ", build " +
             appState.release.buildNumber + (withUsbDriver ? ", with the USB driver" : ""));
    // Held, so that nobody can change it meanwhile; its digest is checked on the bytes that are
    // copied for the expansion.
    FileHandle package = holdPackageForInstall(appState.packageFile, std::string(), error);
    if (package) {
        logEvent(appState.release.sha256.empty()
                     ? "Package held (no digest to check)."
                     : "Package held; its digest is checked as it is copied.");
    }
    const bool installed = package && installerCore.installPackage(
                                          appState.packageFile, appState.release, withUsbDriver,
                                          std::move(progress), programLog(), error);
    if (installed && lockDownPolicySet() && !lockDownProgramFiles(error)) {
        return false;
    }
    if (!installed && package && isExpansionFailure(error)) {
        logEvent(discardHeldPackage(package, appState.packageFile)
                     ? "The package could not be expanded; it is deleted, so the next download "
                       "fetches it again."
                     : "The package could not be expanded and cannot be deleted.");
    }
    return installed;
}

}  // namespace tavro
