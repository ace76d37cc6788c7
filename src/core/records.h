#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

// Download progress, published after every received chunk (possibly from several threads).
struct DownloadState {
    std::uint64_t downloadedBytes = 0;
    std::uint64_t totalBytes = 0;  // 0 until the size is known
    double percent = 0.0;
    double downloadedMB = 0.0;  // MB of 1048576 bytes
    double speedMBps = 0.0;     // average since the download began
};

// Install and update progress, published after each copied file and at start and end.
struct InstallState {
    std::int32_t copiedFiles = 0;
    std::int32_t totalFiles = 0;
    double percent = 0.0;
};

// Outcome of the server selection.
struct ServerResult {
    bool success = false;
    std::string url;      // base URL of the chosen server; empty on failure
    std::string latency;  // "<ms> ms"; empty on failure
    std::string error;    // empty on success
};

// The release named by the latest-version query (UTF-8 texts).
struct ReleaseInfo {
    std::string packageUrl;
    std::string version;
    std::string buildNumber;
    std::string sha256 = {};  // the package's SHA-256, lower-case hex; empty: the server gave none
    // The package's size in bytes when the release was signed; no transfer may exceed it.
    std::optional<std::uint64_t> signedSize = {};
};

// A public key that may sign releases: its id and its DER SubjectPublicKeyInfo (P-256) in base64.
struct ReleaseKey {
    std::string_view id;
    std::string_view spkiBase64;
};

}  // namespace tavro
