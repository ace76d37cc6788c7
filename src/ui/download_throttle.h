#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace tavro {

// Thins the download's progress reports to what the window can show: the part threads report
// every chunk, the window gets at most one report per 80 ms while the whole percent moves and one
// per 120 ms while it stands still. The first report and every report of 100 % go through.
// Shared by all part threads of one download: the two values change together under one lock.
class DownloadThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts as if the last report had been posted 500 ms before now.
    explicit DownloadThrottle(Clock::time_point now = Clock::now());

    // Whether a report of percent at now is posted; when it is, now and its whole percent
    // become the last posted values.
    bool admit(double percent, Clock::time_point now);

  private:
    std::mutex mutex_;
    Clock::time_point lastPostTime_;
    std::int32_t lastPercent_ = -1;
};

}  // namespace tavro
