#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "core/callbacks.h"

namespace tavro {

// Turns the byte counts of every transfer of one download (parallel parts or one stream) into
// DownloadState records. Called concurrently by the part threads: the per-chunk path takes no
// lock (one atomic add, one load of the total, one clock read, one callback call).
class ProgressAdapter {
  public:
    // total: the expected size, 0 while unknown (then the first Content-Length supplies it).
    ProgressAdapter(DownloadCallback progress, std::uint64_t total);
    ProgressAdapter(const ProgressAdapter&) = delete;
    ProgressAdapter& operator=(const ProgressAdapter&) = delete;

    // Takes the start time of the speed average; call before the first transfer starts.
    void start();

    // One received chunk of bytes from a response announcing contentLength (0: none).
    void onBytes(std::uint64_t bytes, std::uint64_t contentLength);

    // A byte-progress callback that feeds this adapter (which must outlive it).
    ByteProgressCallback callback();

    // Before the fallback stream: the count starts again from 0 and {0, total, 0, 0, 0} is
    // published. The total and the start time stay.
    void restart();

    std::uint64_t total() const { return total_.load(); }
    std::uint64_t downloaded() const { return downloaded_.load(); }

  private:
    const DownloadCallback progress_;
    std::atomic<std::uint64_t> downloaded_{0};
    std::atomic<std::uint64_t> total_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace tavro
