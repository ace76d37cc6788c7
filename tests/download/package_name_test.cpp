#include "download/package_name.h"

#include <gtest/gtest.h>

#include "download/header_values.h"

namespace tavro {
namespace {

TEST(PackageName, OrdinaryReleasesKeepTheirNames) {
    EXPECT_EQ(packageFileName({"https://x/p.zip", "2.4.1", "812"}), "Tavro-V2.4.1-812.zip");
    EXPECT_EQ(packageFileName({"", "unknown", "0"}), "Tavro-Vunknown-0.zip");
    EXPECT_EQ(packageFileName({"", "3.0.0-beta_2+build.7", "12"}),
              "Tavro-V3.0.0-beta_2+build.7-12.zip");
}

TEST(PackageName, HostileTextCannotLeaveTheFolderOrChangeMeaning) {
    EXPECT_EQ(packageFileName({"", "../../x", "1"}), "Tavro-V.._.._x-1.zip");
    EXPECT_EQ(packageFileName({"", "a:b", "..\\..\\evil"}), "Tavro-Va_b-.._.._evil.zip");
    // Separators, stream and device syntax, wildcards, and what cmd.exe or PowerShell would act
    // on: quotes, %, ^, &, |, <, >, $, backtick, ;, (, ), spaces, control bytes.
    const std::string hostile = std::string("/\\:*?\"<>|%^&$`;'() \t\r\n") + '\0' + "\x7f";
    EXPECT_EQ(safeFileNamePart(hostile), std::string(hostile.size(), '_'));
    // Every byte of a multi-byte character is replaced: the name stays plain ASCII.
    EXPECT_EQ(safeFileNamePart("2.4\xC3\xA9"), "2.4__");
    EXPECT_EQ(safeFileNamePart(""), "");
}

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
