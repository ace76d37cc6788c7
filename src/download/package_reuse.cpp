#include "download/package_reuse.h"

#include <system_error>

namespace tavro {

bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log, const PathText& pathText) {
    if (!std::filesystem::exists(package)) {
        return false;
    }
    std::error_code error;
    const std::uintmax_t localSize = std::filesystem::file_size(package, error);
    if (error || localSize == 0) {
        return false;
    }
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

}  // namespace tavro
