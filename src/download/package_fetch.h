#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/callbacks.h"
#include "download/package_reuse.h"
#include "fs/block_pipeline.h"
#include "fs/file_append.h"
#include "fs/running_digest.h"
#include "net/download_to_file.h"
#include "net/head_request.h"

namespace tavro {

inline constexpr int kParallelParts = 4;
// A download is split only when the package is strictly larger than this.
inline constexpr std::uint64_t kParallelThreshold = 1048576;

// One transfer of the package URL: bytes rangeStart..rangeEnd (rangeEnd 0: the whole resource)
// into target, reporting to progress and, when it is not empty, showing every byte that reached
// the file to written. True when the body reached the file; else error says why.
using TransferFunction = std::function<bool(
    std::uint64_t rangeStart, std::uint64_t rangeEnd, const std::filesystem::path& target,
    ByteProgressCallback progress, const WrittenBytesCallback& written, std::string& error)>;

// What the download needs from the platform.
struct PackageSource {
    std::function<HeadResult()> probe;    // HEAD of the package URL
    TransferFunction transfer;            // called from several threads at once
    std::function<void()> stopTransfers;  // makes running transfers end soon ("Cancelled")
    PathText pathText;                    // a path as written into log lines and messages
    // Moves a file onto another in the same folder, replacing it, once its content is on the
    // disk; throws std::filesystem::filesystem_error.
    std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)>
        moveReplacing;
    // Deletes a file if it is there; throws. Empty: std::filesystem::remove.
    std::function<void(const std::filesystem::path& file)> removeFile;
    // The size of a file; nothing when there is none. Empty: read by path.
    std::function<std::optional<std::uintmax_t>(const std::filesystem::path& file)> sizeOf;
    // Appends the whole file `from` to the end of the existing file `to`, showing each block it
    // reads to see when that is not empty.
    std::function<AppendResult(const std::filesystem::path& from, const std::filesystem::path& to,
                               const SeeBlock& see)>
        appendFile;
    // Run on the package, the temporary file and each part file before any of them is deleted,
    // written, read for the merge or renamed; throws to refuse the path. May be empty.
    std::function<void(const std::filesystem::path&)> checkPath;
    // The SHA-256 of a file; needed only when a digest is expected.
    DigestFunction digestOf;
    // The digest this program's install recorded of the bytes it read from a file of the
    // package's name; empty when there is none. May be empty: then an earlier file is reused
    // only with the release's digest.
    std::function<std::string(const std::filesystem::path& package)> recordedDigest;
    // A streaming SHA-256 of the bytes as they are written; may be empty (the file is hashed).
    DigestStarter startDigest;
};

// The part file of part index: package + ".temp.part" + index.
std::filesystem::path partFilePath(const std::filesystem::path& package, int index);
// The temporary file: package + ".temp".
std::filesystem::path tempFilePath(const std::filesystem::path& package);

// Everything after naming: HEAD probe, reuse of an earlier complete file, one stream or four
// byte ranges with merge and fallback, size checks, and the rename to package. Returns package;
// throws std::runtime_error ("Download failed: ...") or std::filesystem::filesystem_error. A
// file that does not hold exactly the expected size is never renamed to package.
// An earlier file is reused only when it holds the bytes of expectedDigest or, without one, of
// the digest this program's install recorded of the bytes it read (see reuseExistingPackage).
// expectedDigest (lower-case SHA-256 hex, empty: none) must match the downloaded file before it
// is renamed; a download that does not match is
// deleted and fails with "Download failed: package digest mismatch: expected X, got Y". The
// download's digest costs no pass of its own where it can be helped: part 0 (or the one stream)
// is hashed as its bytes are written, parts 1 to 3 from the blocks the merge reads; where those
// cannot vouch for every byte of the file in order, the finished file is hashed.
// signedSize, when given, is the size the release was signed with: a HEAD probe that does not
// answer exactly that size fails the download before any byte is fetched.
std::filesystem::path fetchPackage(const std::filesystem::path& package,
                                   const PackageSource& source, const DownloadCallback& progress,
                                   const LogCallback& log, const std::string& expectedDigest = {},
                                   std::optional<std::uint64_t> signedSize = std::nullopt);

}  // namespace tavro
