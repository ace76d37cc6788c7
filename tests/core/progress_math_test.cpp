#include "core/progress_math.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

constexpr std::uint64_t kMiB = 1048576;

TEST(ProgressMath, UnknownTotalGrowsTowardsButNeverPastTheCap) {
    EXPECT_DOUBLE_EQ(makeDownloadState(0, 0, 1.0).percent, 0.0);
    EXPECT_DOUBLE_EQ(makeDownloadState(20 * kMiB, 0, 1.0).percent, 50.0);
    EXPECT_LT(makeDownloadState(379 * kMiB, 0, 1.0).percent, 95.0);
    EXPECT_DOUBLE_EQ(makeDownloadState(380 * kMiB, 0, 1.0).percent, 95.0);
    EXPECT_DOUBLE_EQ(makeDownloadState(100000 * kMiB, 0, 1.0).percent, 95.0);
}

TEST(ProgressMath, KnownTotalReachesOneHundred) {
    const DownloadState half = makeDownloadState(512, 1024, 2.0);
    EXPECT_DOUBLE_EQ(half.percent, 50.0);
    EXPECT_EQ(half.totalBytes, 1024u);
    EXPECT_DOUBLE_EQ(makeDownloadState(1024, 1024, 2.0).percent, 100.0);
}

TEST(ProgressMath, SpeedIsTheAverageAndZeroWithoutElapsedTime) {
    const DownloadState state = makeDownloadState(10 * kMiB, 40 * kMiB, 4.0);
    EXPECT_DOUBLE_EQ(state.downloadedMB, 10.0);
    EXPECT_DOUBLE_EQ(state.speedMBps, 2.5);
    EXPECT_DOUBLE_EQ(makeDownloadState(10 * kMiB, 0, 0.0).speedMBps, 0.0);
    EXPECT_DOUBLE_EQ(makeDownloadState(10 * kMiB, 0, -1.0).speedMBps, 0.0);
}

TEST(ProgressMath, CompletedRecordHasBothCountsAndNoSpeed) {
    const DownloadState done = completedDownloadState(5000);
    EXPECT_EQ(done.downloadedBytes, 5000u);
    EXPECT_EQ(done.totalBytes, 5000u);
    EXPECT_DOUBLE_EQ(done.percent, 100.0);
    EXPECT_DOUBLE_EQ(done.downloadedMB, 5000.0 / kMiB);
    EXPECT_DOUBLE_EQ(done.speedMBps, 0.0);
}

TEST(ProgressMath, InstallPercentAndEmptyTotal) {
    EXPECT_DOUBLE_EQ(makeInstallState(0, 0).percent, 100.0);
    EXPECT_DOUBLE_EQ(makeInstallState(0, -1).percent, 100.0);
    EXPECT_DOUBLE_EQ(makeInstallState(1, 3).percent, 100.0 / 3.0);
    EXPECT_DOUBLE_EQ(makeInstallState(3, 3).percent, 100.0);
}

}  // namespace
}  // namespace tavro
