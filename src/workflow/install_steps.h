#pragma once

#include <string>

#include "core/callbacks.h"
#include "core/records.h"

namespace tavro {

// The installer's road as engine calls, without any window: the window's workers and the
// unattended install both take it, so both install exactly the same way and log the same lines.
// The values one step hands to the next live in appState.

// Races the API servers and keeps the winner as appState's server. The result says which, or why
// none answered.
ServerResult chooseApiServer();

// Asks the chosen server for the latest release for email (masked in the log). Throws what
// getLatestVersion throws: the server refused, its reply was unusable, or its signature was
// refused.
ReleaseInfo queryLatestRelease(const std::string& email);

// Downloads release and makes it the package to install (appState.release, packageFile,
// packageReady), only once the download succeeded. Throws what downloadPackage throws.
void downloadRelease(ReleaseInfo release, DownloadCallback progress);

// Installs the downloaded package, held and checked against its digest. false with the reason in
// error; after a success error may still hold what the USB driver tool reported.
bool installDownloadedPackage(bool withUsbDriver, InstallCallback progress, std::string& error);

// After a successful install: logs what was written and registers the installation (the kept
// installer copy and the Apps & features entry; a failure there is logged, not fatal).
void registerInstalledPackage(bool withUsbDriver, const std::string& usbError);

}  // namespace tavro
