#include "ui/download_throttle.h"

#include "ui/progress_values.h"

namespace tavro {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kInitialAge{500};
constexpr milliseconds kChangedInterval{80};
constexpr milliseconds kUnchangedInterval{120};

}  // namespace

DownloadThrottle::DownloadThrottle(Clock::time_point now) : lastPostTime_(now - kInitialAge) {}

bool DownloadThrottle::admit(double percent, Clock::time_point now) {
    const std::int32_t whole = roundedPercent(percent);
    std::lock_guard lock(mutex_);
    if (whole < 100) {
        const auto sinceLast = now - lastPostTime_;
        const auto interval = whole != lastPercent_ ? kChangedInterval : kUnchangedInterval;
        if (sinceLast < interval) {
            return false;
        }
    }
    lastPercent_ = whole;
    lastPostTime_ = now;
    return true;
}

}  // namespace tavro
