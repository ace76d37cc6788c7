#include "net/reply_limit.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(ReplyLimit, ABodyMayGrowUpToTheLimitAndNoFurtherWithoutOverflow) {
    EXPECT_TRUE(replyFits(0, kApiReplyLimitBytes, kApiReplyLimitBytes));
    EXPECT_TRUE(replyFits(kApiReplyLimitBytes, 0, kApiReplyLimitBytes));
    EXPECT_TRUE(replyFits(1048000, 576, kApiReplyLimitBytes));
    EXPECT_FALSE(replyFits(1048000, 577, kApiReplyLimitBytes));
    EXPECT_FALSE(replyFits(0, kApiReplyLimitBytes + 1, kApiReplyLimitBytes));
    // Sums that would wrap around are refused, not wrapped.
    EXPECT_FALSE(replyFits(2, kNoReplyLimit - 1, kApiReplyLimitBytes));
    EXPECT_FALSE(replyFits(kNoReplyLimit, 1, kNoReplyLimit));
    EXPECT_TRUE(replyFits(kNoReplyLimit - 1, 1, kNoReplyLimit));
    EXPECT_EQ(replyTooLargeText(kApiReplyLimitBytes), "Reply body larger than 1048576 bytes");
}

}  // namespace
}  // namespace tavro
