// Digest benchmark driver, run under Wine by run.sh. One measurement per process:
//   digest_bench package URL [SHA256]   downloadPackage of URL, with the digest when given
//   digest_bench fresh URL              downloadPackage of URL without a digest, then one SHA-256
//                                       pass over the new package, timed alone (the check's
//                                       own pass: over a file just written)
//   digest_bench hash FILE              one SHA-256 pass over FILE (what the check adds)
//   digest_bench read FILE              one plain read pass over FILE in the same 1 MiB blocks
// Prints "seconds=S".
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/installer_core.h"
#include "core/win_handles.h"
#include "download/file_sha256.h"
#include "install/install_paths.h"

namespace {

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

int usage() {
    std::fprintf(stderr,
                 "usage: digest_bench package URL [SHA256] | fresh URL | hash FILE | read FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    const std::string argument = argv[2];
    auto start = std::chrono::steady_clock::now();
    try {
        if (mode == "package") {
            std::filesystem::remove_all(tavro::downloadFolder());
            tavro::ReleaseInfo release{argument, "bench", "1"};
            release.sha256 = argc > 3 ? argv[3] : "";
            start = std::chrono::steady_clock::now();
            tavro::installerCore.downloadPackage(release, nullptr, nullptr);
        } else if (mode == "fresh") {
            std::filesystem::remove_all(tavro::downloadFolder());
            const std::filesystem::path package =
                tavro::installerCore.downloadPackage({argument, "bench", "1"}, nullptr, nullptr);
            start = std::chrono::steady_clock::now();
            std::string error;
            if (tavro::sha256OfFile(package, error).empty()) {
                std::fprintf(stderr, "failed: %s\n", error.c_str());
                return 1;
            }
        } else if (mode == "hash") {
            std::string error;
            const std::string digest = tavro::sha256OfFile(argument, error);
            if (digest.empty()) {
                std::fprintf(stderr, "failed: %s\n", error.c_str());
                return 1;
            }
            std::printf("sha256=%s ", digest.c_str());
        } else if (mode == "read") {
            if (!readPass(argument)) {
                return 1;
            }
        } else {
            return usage();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seconds=%.4f\n", seconds);
    return 0;
}
