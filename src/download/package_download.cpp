#include "download/package_download.h"

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <system_error>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "download/file_sha256.h"
#include "download/sha256_stream.h"
#include "download/package_digest.h"
#include "download/file_append.h"
#include "download/package_fetch.h"
#include "download/package_name.h"
#include "download/package_reuse.h"
#include "install/install_paths.h"
#include "install/link_guard.h"
#include "net/download_to_file.h"
#include "net/head_request.h"

namespace tavro {

std::filesystem::path packagePath(const ReleaseInfo& release) {
    // The safe name is plain ASCII, the same in every code page.
    return downloadFolder() / ansiToPath(packageFileName(release));
}

std::size_t longestDownloadPath(const ReleaseInfo& release) {
    return partFilePath(packagePath(release), kParallelParts - 1).native().size();
}

bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log) {
    return reuseExistingPackage(package, remoteSize, std::move(log), pathToAnsi);
}

namespace {

[[noreturn]] void fail(const std::string& reason) {
    throw std::runtime_error("Download failed: " + reason);
}

// The download folder lies where normal users may write: nothing is written, deleted or renamed
// there through a link or junction.
void refuseLinksOnTheWay(const std::filesystem::path& path) {
    const std::string problem = linkProblem(path);
    if (!problem.empty()) {
        fail("refusing to write through a link: " + problem);
    }
}

// The release's digest in lower case; empty when it has none.
std::string expectedDigest(const ReleaseInfo& release) {
    if (release.sha256.empty()) {
        return {};
    }
    const std::optional<std::string> digest = parseSha256Hex(release.sha256);
    if (!digest) {
        fail("the package digest is not 64 hexadecimal digits");
    }
    return *digest;
}

// The most a transfer of a signed release may write: its range, or the whole signed size. None
// (0) for an unsigned release.
std::uint64_t transferLimit(const ReleaseInfo& release, std::uint64_t rangeStart,
                            std::uint64_t rangeEnd) {
    if (!release.signedSize) {
        return 0;
    }
    return rangeEnd != 0 ? rangeEnd - rangeStart + 1 : *release.signedSize;
}

}  // namespace

std::filesystem::path InstallerCore::downloadPackage(const ReleaseInfo& release,
                                                     DownloadCallback progress, LogCallback log) {
    const std::string digest = expectedDigest(release);
    refuseLinksOnTheWay(downloadFolder());
    std::filesystem::create_directories(downloadFolder());
    const std::filesystem::path package = packagePath(release);
    paused.exchange(false);
    cancelled.exchange(false);

    PackageSource source;
    source.probe = [&release, &log] {
        HeadResult head = headRequest(release.packageUrl, kPackageHeadTimeoutSeconds);
        if (!head.error.empty() && log) {
            // Names the host: a refused certificate or redirect fails here first.
            log("Package host failed: " + release.packageUrl + " " + head.error);
        }
        return head;
    };
    source.transfer = [this, &release](std::uint64_t rangeStart, std::uint64_t rangeEnd,
                                       const std::filesystem::path& target,
                                       ByteProgressCallback byteProgress,
                                       const WrittenBytesCallback& written, std::string& error) {
        return downloadToFile(release.packageUrl, rangeStart, rangeEnd, target, &paused, &cancelled,
                              std::move(byteProgress), error, kTransferTimeouts, written,
                              transferLimit(release, rangeStart, rangeEnd));
    };
    source.stopTransfers = [this] { cancelled.exchange(true); };
    source.pathText = pathToAnsi;
    source.moveReplacing = [](const std::filesystem::path& from, const std::filesystem::path& to) {
        if (!MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            const DWORD code = GetLastError();
            throw std::filesystem::filesystem_error(
                "rename", from, to,
                std::error_code(static_cast<int>(code), std::system_category()));
        }
    };
    source.checkPath = refuseLinksOnTheWay;
    source.digestOf = sha256OfFile;
    source.startDigest = startSha256;
    source.appendFile = appendFile;
    return fetchPackage(package, source, progress, log, digest, release.signedSize);
}

}  // namespace tavro
