#pragma once

namespace tavro {

// The exit codes of an unattended (--quiet) or passive (--passive) install, the same in both.
// Windows error numbers that deployment tools already know, so that their own tables (retry on
// 1618, "network" on a WinHTTP number, "failed" on 1603) apply without a mapping of ours.
inline constexpr int kExitInstalled = 0;
inline constexpr int kExitBadCommandLine = 87;      // ERROR_INVALID_PARAMETER
inline constexpr int kExitCancelled = 1602;         // ERROR_INSTALL_USEREXIT
inline constexpr int kExitInstallFailed = 1603;     // ERROR_INSTALL_FAILURE
inline constexpr int kExitNoRelease = 1612;         // ERROR_INSTALL_SOURCE_ABSENT
inline constexpr int kExitAnotherInstaller = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr int kExitDownloadFailed = 1619;    // ERROR_INSTALL_PACKAGE_OPEN_FAILED
inline constexpr int kExitLockedDown = 1625;        // ERROR_INSTALL_PACKAGE_REJECTED (policy)
inline constexpr int kExitNoServer = 12029;         // ERROR_WINHTTP_CANNOT_CONNECT

// What an exit code means, for the log's last lines.
constexpr const char* exitCodeMeaning(int code) {
    switch (code) {
        case kExitInstalled:
            return "installed";
        case kExitBadCommandLine:
            return "bad command line";
        case kExitCancelled:
            return "cancelled";
        case kExitInstallFailed:
            return "the install failed";
        case kExitNoRelease:
            return "the latest-version query failed";
        case kExitAnotherInstaller:
            return "another installer is running";
        case kExitDownloadFailed:
            return "the download failed";
        case kExitLockedDown:
            return "updates are turned off by the machine's lock-down policy";
        case kExitNoServer:
            return "no API server answered";
        default:
            return "failed";
    }
}

}  // namespace tavro
