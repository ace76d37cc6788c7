#include "download/package_download.h"

#include <windows.h>

#include <system_error>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "download/file_append.h"
#include "download/package_fetch.h"
#include "download/package_name.h"
#include "download/package_reuse.h"
#include "install/install_paths.h"
#include "net/download_to_file.h"
#include "net/head_request.h"

namespace tavro {

std::filesystem::path packagePath(const ReleaseInfo& release) {
    // The safe name is plain ASCII, the same in every code page.
    return downloadFolder() / ansiToPath(packageFileName(release));
}

bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log) {
    return reuseExistingPackage(package, remoteSize, std::move(log), pathToAnsi);
}

std::filesystem::path InstallerCore::downloadPackage(const ReleaseInfo& release,
                                                     DownloadCallback progress, LogCallback log) {
    std::filesystem::create_directories(downloadFolder());
    const std::filesystem::path package = packagePath(release);
    paused.exchange(false);
    cancelled.exchange(false);

    PackageSource source;
    source.probe = [&release] {
        return headRequest(release.packageUrl, kPackageHeadTimeoutSeconds);
    };
    source.transfer = [this, &release](std::uint64_t rangeStart, std::uint64_t rangeEnd,
                                       const std::filesystem::path& target,
                                       ByteProgressCallback byteProgress, std::string& error) {
        return downloadToFile(release.packageUrl, rangeStart, rangeEnd, target, &paused, &cancelled,
                              std::move(byteProgress), error);
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
    source.appendFile = appendFile;
    return fetchPackage(package, source, progress, log);
}

}  // namespace tavro
