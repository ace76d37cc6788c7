#include "net/header_values.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(HeaderValues, ContentLengthReadsLikeWideTextToInteger) {
    EXPECT_EQ(parseContentLength(L"1048577"), 1048577u);
    EXPECT_EQ(parseContentLength(L"  \t42"), 42u);
    EXPECT_EQ(parseContentLength(L"+7"), 7u);
    EXPECT_EQ(parseContentLength(L"12abc"), 12u);
    EXPECT_EQ(parseContentLength(L""), 0u);
    EXPECT_EQ(parseContentLength(L"abc"), 0u);
    EXPECT_EQ(parseContentLength(L"-5"), 0u);  // no length rather than an enormous one
    EXPECT_EQ(parseContentLength(L"99999999999999999999999"), 9223372036854775807u);
}

TEST(HeaderValues, AcceptRangesAndContentRange) {
    EXPECT_TRUE(acceptsByteRanges(L"bytes"));
    EXPECT_TRUE(acceptsByteRanges(L"none, BYTES"));
    EXPECT_FALSE(acceptsByteRanges(L"none"));
    EXPECT_FALSE(acceptsByteRanges(L"byte"));

    const auto range = parseContentRange(L"bytes 262144-524287/1048577");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->first, 262144u);
    EXPECT_EQ(range->last, 524287u);
    EXPECT_TRUE(parseContentRange(L"bytes 0-0/*").has_value());
    EXPECT_FALSE(parseContentRange(L"bytes */1000").has_value());
    EXPECT_FALSE(parseContentRange(L"bytes 10-5/100").has_value());
    EXPECT_FALSE(parseContentRange(L"items 0-5/100").has_value());
    EXPECT_FALSE(parseContentRange(L"bytes 0-5").has_value());
}

}  // namespace
}  // namespace tavro
