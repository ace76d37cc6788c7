#include "download/package_reuse.h"

#include <optional>
#include <system_error>

#include "fs/package_digest.h"

namespace tavro {

namespace {

// The size of an existing, non-empty package file; nothing when there is none to reuse.
std::optional<std::uintmax_t> existingPackageSize(const std::filesystem::path& package) {
    if (!std::filesystem::exists(package)) {
        return std::nullopt;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(package, error);
    if (error || size == 0) {
        return std::nullopt;
    }
    return size;
}

bool reuseByDigest(const std::filesystem::path& package, const ReuseCheck& check,
                   const std::string& expected, const LogCallback& log, const PathText& pathText) {
    const std::optional<std::uintmax_t> existing = existingPackageSize(package);
    if (!existing) {
        return false;
    }
    const std::uintmax_t localSize = *existing;
    if (check.probeSucceeded && check.remoteSize != 0 && localSize != check.remoteSize) {
        if (log) {
            log("Existing package name matched but size did not match remote size. Existing=" +
                std::to_string(localSize) + " Remote=" + std::to_string(check.remoteSize));
        }
        return false;
    }
    std::string digestError;
    const std::string digest = check.digestOf(package, digestError);
    if (digest.empty()) {
        if (log) {
            log("Existing package digest could not be computed: " + digestError);
        }
        return false;
    }
    if (digest != expected) {
        if (log) {
            log("Existing " + digestMismatchText(expected, digest));
        }
        return false;
    }
    if (log) {
        log(std::string("Using existing downloaded package, SHA-256 matched") +
            (check.expectedDigest.empty() ? " the digest recorded when this program installed it"
                                          : "") +
            ": " + pathText(package));
    }
    return true;
}

}  // namespace

bool reuseExistingPackage(const std::filesystem::path& package, const ReuseCheck& check,
                          LogCallback log, const PathText& pathText) {
    const std::string& expected =
        check.expectedDigest.empty() ? check.recordedDigest : check.expectedDigest;
    if (!expected.empty()) {
        return reuseByDigest(package, check, expected, log, pathText);
    }
    if (existingPackageSize(package) && log) {
        log("Existing package is not reused: neither the release nor an install of this program "
            "vouches for its bytes: " +
            pathText(package));
    }
    return false;
}

}  // namespace tavro
