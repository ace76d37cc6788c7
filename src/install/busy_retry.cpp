#include "install/busy_retry.h"

#include <algorithm>

namespace tavro {

namespace {

constexpr std::chrono::milliseconds kFirstWait{50};
constexpr std::chrono::milliseconds kLongestWait{1000};

}  // namespace

BusyRetry::BusyRetry(std::chrono::milliseconds perFile, std::chrono::milliseconds perRun)
    : perFile_(perFile), perRun_(perRun) {}

void BusyRetry::startFile() {
    spentOnFile_ = std::chrono::milliseconds(0);
    wait_ = kFirstWait;
}

std::optional<std::chrono::milliseconds> BusyRetry::nextWait() {
    if (spentOnFile_ >= perFile_ || spentInRun_ >= perRun_) {
        return std::nullopt;
    }
    const std::chrono::milliseconds wait =
        std::min({wait_, perFile_ - spentOnFile_, perRun_ - spentInRun_});
    spentOnFile_ += wait;
    spentInRun_ += wait;
    wait_ = std::min(wait_ * 2, kLongestWait);
    return wait;
}

}  // namespace tavro
