// Digest benchmark driver, run under Wine by run.sh. One measurement per process, so that the
// peak working set is that measurement's:
//   digest_bench package URL [SHA256]   downloadPackage of URL, with the digest when given
//   digest_bench reuse URL SHA256       downloadPackage of URL over the package already there:
//                                       the reuse check (HEAD and one hash of the whole file)
//   digest_bench hold FILE SHA256       the install's hold and re-check of the package
//   digest_bench hash FILE              one SHA-256 pass over FILE (CNG, 1 MiB reads)
//   digest_bench append FILE TARGET [h] the merge's appendFile of FILE onto TARGET, hashing what
//                                       it reads when h is given (the overlap on its own)
//   digest_bench read FILE              one plain read pass over FILE in the same 1 MiB blocks
// Prints "seconds=S tail=T peakMiB=M": T (downloads only) is the time from the last record of
// received bytes to the package in place. A download with a digest also prints "rehash=R": one
// SHA-256 pass over the last three quarters of the package it left, taken in the same process
// right after (the hash of the last three parts on that machine at that moment).
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/installer_core.h"
#include "core/win_handles.h"
#include "download/package_hold.h"
#include "fs/file_append.h"
#include "fs/file_sha256.h"
#include "fs/install_paths.h"
#include "fs/sha256_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0;
}

bool readPass(const std::filesystem::path& file) {
    tavro::FileHandle input(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        return false;
    }
    std::vector<char> block(1024 * 1024);
    DWORD read = 0;
    while (ReadFile(input.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) &&
           read > 0) {
    }
    return true;
}

// One SHA-256 pass (CNG, 1 MiB reads) over file from offset to its end; false when it fails.
bool hashFrom(const std::filesystem::path& file, std::uint64_t offset) {
    std::string error;
    const std::unique_ptr<tavro::DigestStream> hash = tavro::startSha256(error);
    tavro::FileHandle input(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!hash || !input || !SetFilePointerEx(input.get(), at, nullptr, FILE_BEGIN)) {
        return false;
    }
    std::vector<char> block(1024 * 1024);
    DWORD read = 0;
    while (ReadFile(input.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) &&
           read > 0) {
        hash->add(block.data(), read);
    }
    return !hash->finish(error).empty();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// downloadPackage of release; tail gets the time from the last record of received bytes (the
// final record of the package in place has no speed) to the return.
void download(const tavro::ReleaseInfo& release, double& tail) {
    std::atomic<Clock::rep> lastBytes{Clock::now().time_since_epoch().count()};
    tavro::installerCore.downloadPackage(
        release,
        [&](const tavro::DownloadState& state) {
            if (state.downloadedBytes > 0 && state.speedMBps != 0.0) {
                lastBytes = Clock::now().time_since_epoch().count();
            }
        },
        nullptr);
    tail = std::chrono::duration<double>(Clock::now() -
                                         Clock::time_point(Clock::duration(lastBytes.load())))
               .count();
}

int usage() {
    std::fprintf(stderr,
                 "usage: digest_bench package URL [SHA256] | reuse URL SHA256 | hold FILE SHA256 "
                 "| hash FILE | read FILE\n");
    return 2;
}

int failed(const std::string& why) {
    std::fprintf(stderr, "failed: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    const std::string argument = argv[2];
    const std::string digest = argc > 3 ? argv[3] : "";
    tavro::ReleaseInfo release{argument, "bench", "1"};
    release.sha256 = digest;
    double tail = 0.0;
    double seconds = -1.0;  // the measurement's, when it is not all that follows start
    Clock::time_point start = Clock::now();
    try {
        if (mode == "package") {
            std::filesystem::remove_all(tavro::downloadFolder());
            start = Clock::now();
            download(release, tail);
            seconds = secondsSince(start);
            if (!digest.empty()) {
                // The last three parts once more, in this process, right after their merge.
                const std::filesystem::path file = tavro::downloadFolder() / "Tavro-Vbench-1.zip";
                const Clock::time_point hashStart = Clock::now();
                if (!hashFrom(file, std::filesystem::file_size(file) / 4)) {
                    return failed("cannot hash the package again");
                }
                std::printf("rehash=%.4f ", secondsSince(hashStart));
            }
        } else if (mode == "reuse" && !digest.empty()) {
            start = Clock::now();
            download(release, tail);
        } else if (mode == "hold" && !digest.empty()) {
            std::string error;
            if (!tavro::holdPackageForInstall(argument, digest, error)) {
                return failed(error);
            }
        } else if (mode == "hash") {
            std::string error;
            const std::string sha256 = tavro::sha256OfFile(argument, error);
            if (sha256.empty()) {
                return failed(error);
            }
            std::printf("sha256=%s ", sha256.c_str());
        } else if (mode == "append" && argc > 3) {
            // appendFile of FILE onto TARGET, hashing what it reads when a third word is given.
            std::string error;
            const std::unique_ptr<tavro::DigestStream> hash = tavro::startSha256(error);
            if (!hash) {
                return failed(error);
            }
            tavro::SeeBlock see;
            if (argc > 4) {
                see = [&hash](const char* data, std::size_t size) { hash->add(data, size); };
            }
            if (tavro::appendFile(argument, argv[3], see) != tavro::AppendResult::Done) {
                return failed("append");
            }
        } else if (mode == "read") {
            if (!readPass(argument)) {
                return failed("cannot read");
            }
        } else {
            return usage();
        }
    } catch (const std::exception& e) {
        return failed(e.what());
    }
    if (seconds < 0.0) {
        seconds = secondsSince(start);
    }
    std::printf("seconds=%.4f tail=%.4f peakMiB=%.1f\n", seconds, tail, peakMiB());
    return 0;
}
