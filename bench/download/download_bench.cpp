// Benchmark driver, run under Wine by run.sh. One download per process, so that the peak
// working set is that download's:
//   download_bench package URL           this downloader (downloadPackage), into its folder
//   download_bench bare4 URL SIZE DIR     four ranged requests on four threads, large reads
//   download_bench bare1 URL DIR          one request, large reads
// Prints "seconds=S firstByte=F merge=G peakMiB=M cpu=C": F is when the first body byte was in
// (seconds after the start), G (this downloader only) the time from the last byte of the parts
// to the package in place, which is the merge and the rename; C the CPU seconds of the process.
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
#include "fs/install_paths.h"
#include "net/crack_url.h"

namespace {

constexpr DWORD kBareReadBytes = 1024 * 1024;

using Clock = std::chrono::steady_clock;

// The moment something first happened, from any thread.
class FirstTime {
  public:
    void mark() {
        std::int64_t unset = 0;
        ticks_.compare_exchange_strong(unset, Clock::now().time_since_epoch().count());
    }
    double secondsAfter(Clock::time_point start) const {
        const std::int64_t ticks = ticks_.load();
        const Clock::time_point at{Clock::duration(ticks)};
        return ticks == 0 ? 0.0 : std::chrono::duration<double>(at - start).count();
    }

  private:
    std::atomic<std::int64_t> ticks_{0};
};

FirstTime firstByte;

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
    HINTERNET request =
        WinHttpOpenRequest(connection, L"GET", url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0);
    if (last != 0) {
        const std::wstring range =
            L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
        WinHttpAddRequestHeaders(request, range.c_str(), static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD);
    }
    bool ok = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    ok = ok &&
         WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX) &&
         status == (last != 0 ? 206u : 200u);
    std::uint64_t received = 0;
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<char> buffer(kBareReadBytes);
    while (ok) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), kBareReadBytes, &read) || read == 0) {
            break;
        }
        firstByte.mark();
        received += read;
        DWORD written = 0;
        ok = WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
    }
    CloseHandle(file);
    if (last != 0 && received != last - first + 1) {
        ok = false;  // a range that did not arrive whole is no result
    }
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
    auto start = Clock::now();
    std::atomic<Clock::rep> lastBytes{0};  // the latest record of received bytes
    double merge = 0.0;
    try {
        if (mode == "package") {
            std::filesystem::remove_all(tavro::downloadFolder());
            start = Clock::now();
            // A consumer as cheap as the window's throttle: the cost measured is the engine's.
            // The final record of the package in place has no speed; every other one counts
            // received bytes.
            const std::filesystem::path package = tavro::installerCore.downloadPackage(
                {url, "bench", "1"},
                [&](const tavro::DownloadState& state) {
                    ++records;
                    if (state.downloadedBytes > 0 && state.speedMBps != 0.0) {
                        firstByte.mark();
                        lastBytes = Clock::now().time_since_epoch().count();
                    }
                },
                nullptr);
            merge = std::chrono::duration<double>(
                        Clock::now() - Clock::time_point(Clock::duration(lastBytes.load())))
                        .count();
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
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("seconds=%.4f firstByte=%.4f merge=%.4f peakMiB=%.1f cpu=%.3f\n", seconds,
                firstByte.secondsAfter(start), merge, peakMiB(), cpuSeconds());
    return 0;
}
