#include "download/package_fetch.h"

#include <array>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "core/progress_math.h"
#include "core/step_failure.h"
#include "download/progress_adapter.h"
#include "fs/package_digest.h"

namespace tavro {

namespace {

// Failures of this step read "Download failed: <reason>".
constexpr std::string_view kStep = "Download";

std::filesystem::path withSuffix(const std::filesystem::path& path, const char* suffix) {
    std::filesystem::path result = path;
    result += suffix;
    return result;
}

// Deletes file if it is there, the way the source says.
void removeFile(const PackageSource& source, const std::filesystem::path& file) {
    if (source.removeFile) {
        source.removeFile(file);
    } else {
        std::filesystem::remove(file);
    }
}

std::string sizeMismatch(std::uintmax_t actual, std::uint64_t expected) {
    return "received " + std::to_string(actual) + " of " + std::to_string(expected) + " bytes";
}

void checkPath(const PackageSource& source, const std::filesystem::path& path) {
    if (source.checkPath) {
        source.checkPath(path);
    }
}

// The size of a file, or nothing when it cannot be read; the source's way when it has one.
std::optional<std::uintmax_t> sizeOf(const PackageSource& source,
                                     const std::filesystem::path& path) {
    if (source.sizeOf) {
        return source.sizeOf(path);
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        return std::nullopt;
    }
    return size;
}

// The digest of the download as its bytes pass by; it stands down at once when the release has
// no digest to check or none can be started (the finished file is hashed then). A release without
// one is hashed once, by the install that reads the package, which records what it read for a
// later reuse.
RunningDigest startRunningDigest(const PackageSource& source, const std::string& expectedDigest) {
    if (expectedDigest.empty() || !source.startDigest) {
        return RunningDigest(nullptr);
    }
    std::string ignored;  // the file is hashed instead, and that failure is the one reported
    return RunningDigest(source.startDigest(ignored));
}

// What a transfer shows the bytes it writes to; nothing when the digest has stood down.
WrittenBytesCallback feeding(RunningDigest& running) {
    if (!running.inOrder()) {
        return {};
    }
    return [&running](std::uint64_t offset, const char* data, std::size_t size) {
        running.written(offset, data, size);
    };
}

// One stream into temp; the result must hold exactly the expected size when it is known.
void downloadWhole(const PackageSource& source, ProgressAdapter& adapter,
                   const std::filesystem::path& temp, RunningDigest& running) {
    std::string error;
    if (!source.transfer(0, 0, temp, adapter.callback(), feeding(running), error)) {
        failStep(kStep, error);
    }
    const std::uint64_t expected = adapter.total();
    if (expected != 0) {
        const auto size = sizeOf(source, temp);
        if (!size || *size != expected) {
            failStep(kStep, sizeMismatch(size.value_or(0), expected));
        }
    }
}

// The part threads of one parallel attempt. Whatever way the attempt is left, every started
// part is told to stop and joined before the state they use goes away.
class PartThreads {
  public:
    explicit PartThreads(const PackageSource& source) : source_(source) {}
    PartThreads(const PartThreads&) = delete;
    PartThreads& operator=(const PartThreads&) = delete;
    ~PartThreads() {
        if (!threads_.empty()) {
            source_.stopTransfers();
            joinAll();
        }
    }

    template <typename Body>
    void start(Body body) {
        threads_.emplace_back(std::move(body));
    }

    void joinAll() {
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

  private:
    const PackageSource& source_;
    std::vector<std::thread> threads_;
};

struct PartRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t length() const { return last - first + 1; }
};

// Builds temp from the part files in order, deleting each once it is in. Part 0 becomes temp by a
// rename (the same file an append to an empty temp would give), so only three parts are copied.
class PartMerger {
  public:
    // running has seen part 0 as it was written; it sees parts 1 to 3 as the merge reads them.
    PartMerger(const std::filesystem::path& package, const PackageSource& source,
               const std::filesystem::path& temp, std::uint64_t size, RunningDigest& running)
        : package_(package), source_(source), temp_(temp), size_(size), running_(running) {}

    void add(int index) {
        const std::filesystem::path partFile = partFilePath(package_, index);
        if (index == 0) {
            if (!sizeOf(source_, partFile)) {
                failStep(kStep, "missing part file " + source_.pathText(partFile));
            }
            try {
                source_.moveReplacing(partFile, temp_);
            } catch (const std::exception& e) {
                failStep(kStep, std::string("cannot create merged file: ") + e.what());
            }
            return;
        }
        SeeBlock see;
        if (running_.inOrder()) {
            see = [this](const char* data, std::size_t size) { running_.appended(data, size); };
        }
        switch (source_.appendFile(partFile, temp_, see)) {
            case AppendResult::Done:
                break;
            case AppendResult::CannotOpenSource:
                failStep(kStep, "missing part file " + source_.pathText(partFile));
            case AppendResult::CannotReadSource:
                failStep(kStep, "Cannot read " + source_.pathText(partFile));
            case AppendResult::CannotWriteTarget:
                failStep(kStep, "Cannot write " + source_.pathText(temp_));
        }
        removeFile(source_, partFile);
    }

    // Checks that temp holds exactly the package size.
    void finish() {
        const auto merged = sizeOf(source_, temp_);
        if (!merged || *merged != size_) {
            failStep(kStep, sizeMismatch(merged.value_or(0), size_));
        }
    }

  private:
    const std::filesystem::path& package_;
    const PackageSource& source_;
    const std::filesystem::path& temp_;
    const std::uint64_t size_;
    RunningDigest& running_;
};

// Four ranges into four part files, run at once; after all have ended, each part file must hold
// exactly its range, and the parts are merged into temp in order. Empty when temp holds the whole
// package; else the first failure's text (a failing part does not stop the others).
std::string downloadParts(const std::filesystem::path& package, const PackageSource& source,
                          ProgressAdapter& adapter, const std::filesystem::path& temp,
                          std::uint64_t size, RunningDigest& running) {
    const std::uint64_t partSize = size / kParallelParts;
    std::array<PartRange, kParallelParts> ranges;
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::string firstError;
    {
        PartThreads parts(source);
        for (int i = 0; i < kParallelParts; ++i) {
            const std::filesystem::path partFile = partFilePath(package, i);
            checkPath(source, partFile);
            removeFile(source, partFile);
            ranges[i].first = static_cast<std::uint64_t>(i) * partSize;
            ranges[i].last = i < kParallelParts - 1 ? (i + 1) * partSize - 1 : size - 1;
            const PartRange range = ranges[i];
            // Part 0 is the start of the package: hashed as it is written, on its own thread.
            const WrittenBytesCallback written = i == 0 ? feeding(running) : WrittenBytesCallback{};
            parts.start([&, partFile, range, written] {
                std::string error;
                bool ok = false;
                try {
                    ok = source.transfer(range.first, range.last, partFile, adapter.callback(),
                                         written, error);
                } catch (const std::exception& e) {
                    error = e.what();
                } catch (...) {
                    error = "unknown error";
                }
                if (!ok) {
                    failed.exchange(true);
                    std::lock_guard lock(errorMutex);
                    if (firstError.empty()) {
                        firstError = error;
                    }
                }
            });
        }
        parts.joinAll();
    }
    if (failed.load()) {
        return firstError;
    }
    // A part that ended early or wrote short must not go into the package.
    for (int i = 0; i < kParallelParts; ++i) {
        checkPath(source, partFilePath(package, i));
        const auto partFileSize = sizeOf(source, partFilePath(package, i));
        if (!partFileSize || *partFileSize != ranges[i].length()) {
            return "part " + std::to_string(i) + " " +
                   sizeMismatch(partFileSize.value_or(0), ranges[i].length());
        }
    }
    if (!running.vouchesFor(ranges[0].length())) {
        running = RunningDigest(nullptr);  // the merged file is hashed instead
    }
    checkPath(source, temp);
    PartMerger merger(package, source, temp, size, running);
    for (int i = 0; i < kParallelParts; ++i) {
        merger.add(i);
    }
    merger.finish();
    return {};
}

// The host must announce exactly the signed size, or nothing is fetched from it.
void requireSignedSize(const HeadResult& head, std::optional<std::uint64_t> signedSize) {
    if (!signedSize) {
        return;
    }
    if (!head.ok) {
        failStep(kStep, "the package host gives no size (" + head.error +
                            "); the release is signed for " + std::to_string(*signedSize) +
                            " bytes");
    }
    if (head.contentLength != *signedSize) {
        failStep(kStep, "the package host gives a size of " + std::to_string(head.contentLength) +
                            " bytes; the release is signed for " + std::to_string(*signedSize) +
                            " bytes");
    }
}

// The digest of the finished temp: the running one when it saw every byte in order, else one
// pass over the file.
std::string digestOfDownload(const PackageSource& source, const std::filesystem::path& temp,
                             RunningDigest& running, std::string& error) {
    const auto size = sizeOf(source, temp);
    if (size && running.vouchesFor(*size)) {
        std::string runningError;
        std::string digest = running.finish(runningError);
        if (!digest.empty()) {
            return digest;
        }
    }
    return source.digestOf(temp, error);
}

// With a digest expected, the finished temp must have exactly it; one that does not is deleted.
void verifyDigest(const PackageSource& source, const std::filesystem::path& temp,
                  const std::string& expectedDigest, RunningDigest& running) {
    if (expectedDigest.empty()) {
        return;
    }
    std::string error;
    const std::string digest = digestOfDownload(source, temp, running, error);
    if (digest.empty()) {
        failStep(kStep, "package digest could not be computed: " + error);
    }
    if (digest != expectedDigest) {
        checkPath(source, temp);
        removeFile(source, temp);
        failStep(kStep, digestMismatchText(expectedDigest, digest));
    }
}

}  // namespace

std::filesystem::path partFilePath(const std::filesystem::path& package, int index) {
    std::filesystem::path result = tempFilePath(package);
    result += ".part" + std::to_string(index);
    return result;
}

std::filesystem::path tempFilePath(const std::filesystem::path& package) {
    return withSuffix(package, ".temp");
}

std::filesystem::path fetchPackage(const std::filesystem::path& package,
                                   const PackageSource& source, const DownloadCallback& progress,
                                   const LogCallback& log, const std::string& expectedDigest,
                                   std::optional<std::uint64_t> signedSize) {
    const HeadResult head = source.probe();
    requireSignedSize(head, signedSize);
    const std::uint64_t remoteSize = head.contentLength;

    checkPath(source, package);
    if (sizeOf(source, package) || std::filesystem::exists(package)) {
        const std::uintmax_t existingSize =
            sizeOf(source, package).value_or(static_cast<std::uintmax_t>(-1));
        const std::string recorded =
            source.recordedDigest ? source.recordedDigest(package) : std::string();
        const ReuseCheck reuse{remoteSize, head.ok, expectedDigest, recorded, source.digestOf};
        if (reuseExistingPackage(package, reuse, log, source.pathText)) {
            if (progress) {
                progress(completedDownloadState(existingSize));
            }
            return package;
        }
        if (log) {
            log("Removing old/partial package and downloading again: " + source.pathText(package));
        }
        try {
            removeFile(source, package);
        } catch (const std::filesystem::filesystem_error&) {
            // what cannot be deleted is replaced by the rename at the end
        }
    }

    const std::filesystem::path temp = tempFilePath(package);
    checkPath(source, temp);
    removeFile(source, temp);

    // The length of an error reply is not the package's: only a successful probe gives a size
    // to expect.
    const std::uint64_t expected = head.ok ? remoteSize : 0;
    const int parts =
        head.ok && head.acceptRanges && expected > kParallelThreshold ? kParallelParts : 1;
    if (log) {
        log("Download parts: " + std::to_string(parts));
    }

    ProgressAdapter adapter(progress, expected);
    adapter.start();
    RunningDigest running = startRunningDigest(source, expectedDigest);
    if (parts == 1) {
        downloadWhole(source, adapter, temp, running);
    } else {
        const std::string partError =
            downloadParts(package, source, adapter, temp, expected, running);
        if (!partError.empty()) {
            if (log) {
                log("Parallel download failed, retrying single download: " + partError);
            }
            for (int i = 0; i < kParallelParts; ++i) {
                checkPath(source, partFilePath(package, i));
                removeFile(source, partFilePath(package, i));
            }
            checkPath(source, temp);
            removeFile(source, temp);
            adapter.restart();
            running = startRunningDigest(source, expectedDigest);
            downloadWhole(source, adapter, temp, running);
        }
    }

    verifyDigest(source, temp, expectedDigest, running);
    checkPath(source, temp);
    checkPath(source, package);
    source.moveReplacing(temp, package);
    if (progress) {
        progress(completedDownloadState(sizeOf(source, package).value_or(0)));
    }
    return package;
}

}  // namespace tavro
