#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/callbacks.h"
#include "core/records.h"

namespace tavro {

// The engine. One process-wide instance (installerCore) holds the pause and cancel flags that
// every transfer polls; its operations block and run on worker threads, one at a time.
class InstallerCore {
  public:
    InstallerCore() = default;
    InstallerCore(const InstallerCore&) = delete;
    InstallerCore& operator=(const InstallerCore&) = delete;

    // While true, running transfers hold before their next read.
    std::atomic<bool> paused{false};
    // When true, running transfers stop with "Cancelled".
    std::atomic<bool> cancelled{false};

    // Probes every API server at once; the first that reports itself up wins.
    ServerResult checkFastestServer(LogCallback log);
    // The same over another server list and overall wait (tests aim it at local servers).
    ServerResult checkFastestServer(LogCallback log, std::span<const std::string> servers,
                                    std::chrono::milliseconds wait);

    // Asks the chosen server for the latest release. Throws std::runtime_error. With release
    // keys built in, only a release signed by one of them, not expired and not older than the
    // installed build is returned; log gets the checks made.
    ReleaseInfo getLatestVersion(const std::string& serverUrl, const std::string& email);
    ReleaseInfo getLatestVersion(const std::string& serverUrl, const std::string& email,
                                 LogCallback log);
    // The same with other release keys than the built-in ones (none: releases are unsigned).
    ReleaseInfo getLatestVersion(const std::string& serverUrl, const std::string& email,
                                 LogCallback log, std::span<const ReleaseKey> releaseKeys);

    // Downloads (or reuses) the release package and returns its path. Throws.
    std::filesystem::path downloadPackage(const ReleaseInfo& release, DownloadCallback progress,
                                          LogCallback log);

    // Installs a downloaded package. false with error set on failure.
    bool installPackage(const std::filesystem::path& packagePath, const std::string& buildNumber,
                        bool installUsbDriver, InstallCallback progress, LogCallback log,
                        std::string& error);
    // The same, the package's size compared with expectedSize (none: no check) before a byte is
    // copied, and its bytes checked against expectedSha256 (lower-case hex; empty: no check) as
    // they are copied to the place only administrators can write where they are expanded: what
    // is expanded is exactly what was checked.
    bool installPackage(const std::filesystem::path& packagePath, const std::string& buildNumber,
                        bool installUsbDriver, InstallCallback progress, LogCallback log,
                        std::string& error, const std::string& expectedSha256,
                        std::optional<std::uint64_t> expectedSize);
    // The same for release (its build number, sha256 and signedSize as above): its journal also
    // carries the build number and version, so that a kill after the commit point is finished by
    // the next start with this release's registry values and Apps & features entry.
    bool installPackage(const std::filesystem::path& packagePath, const ReleaseInfo& release,
                        bool installUsbDriver, InstallCallback progress, LogCallback log,
                        std::string& error);

    // Applies the prepared update under the install root. false with error set on failure.
    bool runUpdate(InstallCallback progress, LogCallback log, std::string& error);
    // The same with another step for the two five-step countdowns (1 s above; tests shorten it).
    bool runUpdate(InstallCallback progress, LogCallback log, std::string& error,
                   std::chrono::milliseconds countdownStep);

    // Removes what the installs recorded (files whose content is unchanged), the folders left
    // empty, the shortcuts, the registry values and the Apps & features entry, after closing the
    // product. kept receives what stayed and why, one line each. false with error set on failure.
    bool runUninstall(InstallCallback progress, LogCallback log, std::vector<std::string>& kept,
                      std::string& error);
};

// The single engine instance, constant-initialised before the program starts.
extern InstallerCore installerCore;

}  // namespace tavro
