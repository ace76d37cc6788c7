// Benchmark driver, run under Wine by run.sh. One download per process, so that the peak
// working set is that download's:
//   download_bench package URL           this downloader (downloadPackage), into its folder
//   download_bench bare4 URL SIZE DIR     four ranged requests on four threads, large reads
//   download_bench bare1 URL DIR          one request, large reads
// Prints "seconds=S peakMiB=M cpu=C" (C: CPU seconds of the process).
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/installer_core.h"
#include "core/records.h"
#include "core/text_convert.h"
#include "install/install_paths.h"
#include "net/crack_url.h"

namespace {

constexpr DWORD kBareReadBytes = 1024 * 1024;

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0;
}

// The simplest possible ranged GET into a file: no progress, no pause, 1 MiB reads.
bool bareGet(const tavro::UrlParts& url, std::uint64_t first, std::uint64_t last,
             const std::wstring& target) {
    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, url.host.c_str(), url.port, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", url.path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    if (last != 0) {
        const std::wstring range =
            L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
        WinHttpAddRequestHeaders(request, range.c_str(), static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD);
    }
    bool ok = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<char> buffer(kBareReadBytes);
    while (ok) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), kBareReadBytes, &read) || read == 0) {
            break;
        }
        DWORD written = 0;
        ok = WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
    }
    CloseHandle(file);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

// User and kernel time of this process so far, in seconds.
double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

int usage() {
    std::fprintf(stderr,
                 "usage: download_bench package URL | bare4 URL SIZE DIR | bare1 URL DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    const std::string url = argv[2];
    std::atomic<std::uint64_t> records{0};
    auto start = std::chrono::steady_clock::now();
    try {
        if (mode == "package") {
            std::filesystem::remove_all(tavro::downloadFolder());
            start = std::chrono::steady_clock::now();
            // A consumer as cheap as the window's throttle: the cost measured is the engine's.
            const std::filesystem::path package = tavro::installerCore.downloadPackage(
                {url, "bench", "1"}, [&records](const tavro::DownloadState&) { ++records; },
                nullptr);
            if (!std::filesystem::exists(package)) {
                return 1;
            }
        } else if (mode == "bare4" || mode == "bare1") {
            tavro::UrlParts parts;
            std::string error;
            if (!tavro::crackUrl(url, parts, error)) {
                return usage();
            }
            const bool four = mode == "bare4";
            if (argc < (four ? 5 : 4)) {
                return usage();
            }
            const std::wstring dir = tavro::toWide(argv[four ? 4 : 3]);
            const std::uint64_t size = four ? std::strtoull(argv[3], nullptr, 10) : 0;
            std::atomic<bool> ok{true};
            std::vector<std::thread> threads;
            if (!four) {
                ok = bareGet(parts, 0, 0, dir + L"\\bare.bin");
            }
            for (int i = 0; four && i < 4; ++i) {
                const std::uint64_t first = size / 4 * static_cast<std::uint64_t>(i);
                const std::uint64_t last = i < 3 ? size / 4 * (i + 1) - 1 : size - 1;
                threads.emplace_back([&, i, first, last] {
                    if (!bareGet(parts, first, last, dir + L"\\bare.part" + std::to_wstring(i))) {
                        ok = false;
                    }
                });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
            if (!ok) {
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
    std::printf("seconds=%.4f peakMiB=%.1f cpu=%.3f\n", seconds, peakMiB(), cpuSeconds());
    return 0;
}
