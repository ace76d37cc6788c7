#include "ui/download_throttle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tavro {
namespace {

using namespace std::chrono_literals;
using Clock = DownloadThrottle::Clock;

TEST(DownloadThrottle, PostsTheFirstReportThenThinsByPercentAndTime) {
    const Clock::time_point start = Clock::now();
    DownloadThrottle throttle(start);
    EXPECT_TRUE(throttle.admit(0.0, start));           // first report: at once
    EXPECT_FALSE(throttle.admit(0.2, start + 100ms));  // same whole percent, under 120 ms
    EXPECT_TRUE(throttle.admit(0.3, start + 120ms));   // same percent, 120 ms on
    EXPECT_FALSE(throttle.admit(5.0, start + 199ms));  // new percent, under 80 ms
    EXPECT_TRUE(throttle.admit(5.0, start + 200ms));   // new percent, 80 ms on
    EXPECT_TRUE(throttle.admit(7.0, start + 300ms));   // new percent 100 ms on
    EXPECT_FALSE(throttle.admit(7.4, start + 400ms));  // same percent 100 ms on
    EXPECT_TRUE(throttle.admit(99.5, start + 401ms));  // rounds to 100: never dropped
    EXPECT_TRUE(throttle.admit(100.0, start + 402ms));
    EXPECT_TRUE(throttle.admit(100.0, start + 402ms));
}

TEST(DownloadThrottle, TheFirstReportPassesEvenRightAfterCreation) {
    const Clock::time_point start = Clock::now();
    DownloadThrottle throttle(start);
    EXPECT_TRUE(throttle.admit(42.0, start - 1ms));  // a part thread's clock read a bit earlier
}

// The part threads report concurrently: the state stays whole (run under ThreadSanitizer
// natively) and the time rule holds across threads: posts below 100 are at least 80 ms apart,
// so 400 ms of flooding yields only a handful, and each part's closing 100 always goes through.
TEST(DownloadThrottle, FourThreadsHammeringItPostAFewReportsAndEveryHundred) {
    DownloadThrottle throttle;
    std::atomic<int> posted{0};
    std::atomic<int> hundreds{0};
    const Clock::time_point end = Clock::now() + 400ms;
    std::vector<std::thread> parts;
    for (int part = 0; part < 4; ++part) {
        parts.emplace_back([&, part] {
            for (int i = 0; Clock::now() < end; ++i) {
                if (throttle.admit((i + part) % 97, Clock::now())) {
                    ++posted;
                }
            }
            if (throttle.admit(100.0, Clock::now())) {
                ++hundreds;
            }
        });
    }
    for (std::thread& part : parts) {
        part.join();
    }
    EXPECT_EQ(hundreds.load(), 4);
    EXPECT_GE(posted.load(), 1);
    EXPECT_LE(posted.load(), 400 / 80 + 2);
}

}  // namespace
}  // namespace tavro
