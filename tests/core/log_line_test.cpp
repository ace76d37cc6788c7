#include "core/log_line.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(LogLine, CarriesTheLocalTimeToTheMillisecondAndTheThreadOnOneLine) {
    const LocalTime time{2026, 3, 7, 9, 5, 2, 42};
    EXPECT_EQ(formatLogLine(time, 1234, "Server chosen"),
              "2026-03-07 09:05:02.042 [thread 1234] Server chosen");
    EXPECT_EQ(formatLogLine(time, 7, "first\r\nsecond\nthird"),
              "2026-03-07 09:05:02.042 [thread 7] first  second third");
    EXPECT_EQ(formatLogLine({2026, 12, 31, 23, 59, 59, 999}, 4294967295u, ""),
              "2026-12-31 23:59:59.999 [thread 4294967295] ");
}

TEST(LogLine, EmailKeepsOnlyItsFirstCharacterAndTheDomain) {
    EXPECT_EQ(maskEmail("demo@example.com"), "d***@example.com");
    EXPECT_EQ(maskEmail("d@example.com"), "d***@example.com");
    EXPECT_EQ(maskEmail("@example.com"), "***@example.com");
    EXPECT_EQ(maskEmail("first.last@a@b.org"), "f***@a@b.org");
    EXPECT_EQ(maskEmail("no at sign"), "***");
    EXPECT_EQ(maskEmail(""), "***");
}

TEST(LogLine, RotatesOnlyWhenTheLineWouldPassOneMebibyte) {
    EXPECT_FALSE(logNeedsRotation(0, 5 * kLogRotationBytes));  // an empty log takes any line
    EXPECT_FALSE(logNeedsRotation(kLogRotationBytes - 10, 10));
    EXPECT_TRUE(logNeedsRotation(kLogRotationBytes - 10, 11));
    EXPECT_TRUE(logNeedsRotation(kLogRotationBytes, 1));
    EXPECT_EQ(kLogRotationBytes, 1048576u);
}

}  // namespace
}  // namespace tavro
