#include "download/package_download.h"

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <system_error>

#include "core/installer_core.h"
#include "core/machine_record.h"
#include "core/step_failure.h"
#include "core/text_convert.h"
#include "download/package_fetch.h"
#include "download/package_name.h"
#include "download/package_reuse.h"
#include "fs/file_append.h"
#include "fs/file_sha256.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "fs/package_digest.h"
#include "fs/sha256_stream.h"
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

namespace {

// Failures of this step read "Download failed: <reason>".
constexpr std::string_view kStep = "Download";

// Opens a part or temporary file for a transfer relative to a held, checked handle to its folder
// (new, or an existing one emptied), so a folder swapped for a link meanwhile cannot receive it.
void* openInHeldFolder(const std::filesystem::path& target) {
    const HeldFolder folder = HeldFolder::open(target.parent_path(), false);
    bool existed = false;
    FileHandle file = folder.createOrOpenFile(target.filename().native(), GENERIC_WRITE, existed);
    if (existed && !SetEndOfFile(file.get())) {
        return INVALID_HANDLE_VALUE;  // the last error says why
    }
    return file.release();
}

// An existing file of the download folder opened through a held, checked handle to the folder;
// throws when it is not there or is refused.
FileHandle openInHeld(const std::filesystem::path& file, ACCESS_MASK access) {
    FileHandle opened =
        HeldFolder::open(file.parent_path(), false).openFile(file.filename().native(), access);
    if (!opened) {
        throw std::filesystem::filesystem_error(
            "open", file, std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return opened;
}

std::optional<std::uintmax_t> sizeInHeldFolder(const std::filesystem::path& file) {
    try {
        const FileHandle opened = openInHeld(file, FILE_READ_ATTRIBUTES);
        LARGE_INTEGER size{};
        if (GetFileSizeEx(opened.get(), &size)) {
            return static_cast<std::uintmax_t>(size.QuadPart);
        }
    } catch (const std::filesystem::filesystem_error&) {
        // not there: no size to go by (a link is refused, not taken for a missing file)
    }
    return std::nullopt;
}

// The download folder lies where normal users may write: nothing is written, deleted or renamed
// there through a link or junction.
void refuseLinksOnTheWay(const std::filesystem::path& path) {
    try {
        refuseLinks(path);
    } catch (const LinkRefused& refused) {
        failStep(kStep, "refusing to write through a link: " + refused.problem());
    }
}

// The release's digest in lower case; empty when it has none.
std::string expectedDigest(const ReleaseInfo& release) {
    if (release.sha256.empty()) {
        return {};
    }
    const std::optional<std::string> digest = parseSha256Hex(release.sha256);
    if (!digest) {
        failStep(kStep, "the package digest is not 64 hexadecimal digits");
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

// The digest this program's install recorded of the bytes it read from a file of the package's
// name; empty when there is none or it is not a digest.
std::string recordedDigestOf(const std::filesystem::path& package) {
    const MachineValue value =
        readMachineValue(kDownloadDigestsKey, package.filename().native().c_str());
    if (value.state != MachineValue::State::text) {
        return {};
    }
    return parseSha256Hex(value.text).value_or(std::string());
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
        try {
            return downloadToFile(release.packageUrl, rangeStart, rangeEnd, target, &paused,
                                  &cancelled, std::move(byteProgress), error, kTransferTimeouts,
                                  written, transferLimit(release, rangeStart, rangeEnd),
                                  openInHeldFolder);
        } catch (const LinkRefused& refused) {
            error = refused.what();
            return false;
        }
    };
    source.stopTransfers = [this] { cancelled.exchange(true); };
    source.pathText = pathToAnsi;
    // The download folder lies where every user may write: everything done in it goes through a
    // held, checked handle to it. A file is moved onto another by deleting the target through its
    // own checked handle and renaming the source relative to the held folder, never replacing
    // (HeldFolder::moveHere also does what a platform that renames by path needs). The bytes are
    // not flushed first: a package is used only after its digest or signature was checked, and a
    // torn one is refused and fetched again.
    source.moveReplacing = [](const std::filesystem::path& from, const std::filesystem::path& to) {
        const HeldFolder folder = HeldFolder::open(to.parent_path(), false);
        const FileHandle moved =
            folder.openFile(from.filename().native(), DELETE | FILE_READ_ATTRIBUTES);
        if (!moved) {
            throw std::filesystem::filesystem_error(
                "rename", from, to, std::make_error_code(std::errc::no_such_file_or_directory));
        }
        folder.remove(to.filename().native());
        folder.moveHere(folder, from.filename().native(), moved.get(), to.filename().native());
    };
    source.removeFile = [](const std::filesystem::path& file) {
        HeldFolder::open(file.parent_path(), false).remove(file.filename().native());
    };
    source.sizeOf = sizeInHeldFolder;
    source.checkPath = refuseLinksOnTheWay;
    source.digestOf = [](const std::filesystem::path& file, std::string& error) {
        try {
            const FileHandle opened = openInHeld(file, GENERIC_READ);
            std::uint64_t size = 0;
            return sha256OfOpenFile(opened.get(), size, error);
        } catch (const std::exception& e) {
            error = e.what();
            return std::string();
        }
    };
    source.startDigest = startSha256;
    source.recordedDigest = recordedDigestOf;
    source.appendFile = [](const std::filesystem::path& from, const std::filesystem::path& to,
                           const SeeBlock& see) {
        FileHandle source;
        FileHandle target;
        try {
            source = openInHeld(from, GENERIC_READ);
            target = openInHeld(to, FILE_APPEND_DATA);
        } catch (const std::filesystem::filesystem_error&) {
            // (a link is refused with its own text, not taken for a missing file)
            return source ? AppendResult::CannotWriteTarget : AppendResult::CannotOpenSource;
        }
        return appendOpenFile(source.get(), target.get(), see);
    };
    return fetchPackage(package, source, progress, log, digest, release.signedSize);
}

}  // namespace tavro
