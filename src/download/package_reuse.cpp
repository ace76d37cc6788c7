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

}  // namespace

bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log, const PathText& pathText) {
    const std::optional<std::uintmax_t> existing = existingPackageSize(package);
    if (!existing) {
        return false;
    }
    const std::uintmax_t localSize = *existing;
    if (remoteSize == 0) {
        if (log) {
            log("Using existing downloaded package with exact filename; remote size was not "
                "provided by server: " +
                pathText(package));
        }
        return true;
    }
    if (localSize == remoteSize) {
        if (log) {
            log("Using existing downloaded package: " + pathText(package));
        }
        return true;
    }
    if (log) {
        log("Existing package name matched but size did not match remote size. Existing=" +
            std::to_string(localSize) + " Remote=" + std::to_string(remoteSize));
    }
    return false;
}

namespace {

bool reuseByDigest(const std::filesystem::path& package, const ReuseCheck& check,
                   const LogCallback& log, const PathText& pathText) {
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
    if (digest != check.expectedDigest) {
        if (log) {
            log("Existing " + digestMismatchText(check.expectedDigest, digest));
        }
        return false;
    }
    if (log) {
        log("Using existing downloaded package, SHA-256 matched: " + pathText(package));
    }
    return true;
}

}  // namespace

bool reuseExistingPackage(const std::filesystem::path& package, const ReuseCheck& check,
                          LogCallback log, const PathText& pathText) {
    if (!check.expectedDigest.empty()) {
        return reuseByDigest(package, check, log, pathText);
    }
    if (!check.probeSucceeded && check.remoteSize != 0 && log) {
        std::error_code error;
        if (std::filesystem::file_size(package, error) != 0 && !error) {
            log("Remote size could not be checked: the HEAD request failed, so its "
                "Content-Length is not the package's");
        }
    }
    return reuseExistingPackage(package, check.remoteSize, std::move(log), pathText);
}

}  // namespace tavro
