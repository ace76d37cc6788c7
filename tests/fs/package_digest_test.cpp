#include "fs/package_digest.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

constexpr char kLower[] = "4936ee24a2bbf91c1a9bd9510d6358e9439f290a347255987a0d7494007b6c26";
constexpr char kUpper[] = "4936EE24A2BBF91C1A9BD9510D6358E9439F290A347255987A0D7494007B6C26";

TEST(PackageDigest, SixtyFourHexDigitsInEitherCaseBecomeLowerCase) {
    EXPECT_EQ(parseSha256Hex(kLower), kLower);
    EXPECT_EQ(parseSha256Hex(kUpper), kLower);
    std::string mixed = kLower;
    mixed[4] = 'E';  // the first letters, in capitals
    mixed[8] = 'A';
    EXPECT_EQ(parseSha256Hex(mixed), kLower);
}

// (Prefixes are appended to, not inserted before: GCC 12 at -O3 reports a false -Wrestrict
// overlap inside std::string's insert.)
TEST(PackageDigest, AnythingButExactlySixtyFourHexDigitsIsRefused) {
    const std::string digest = kLower;
    for (const std::string& bad :
         {std::string(), digest.substr(1), digest + "0", std::string(" ").append(digest, 1),
          digest.substr(1) + " ", digest.substr(0, 63) + "g", digest.substr(0, 63) + "G",
          std::string("0x").append(digest, 2), digest.substr(0, 31) + std::string(1, '\0') + digest.substr(32),
          digest.substr(0, 63) + "/", digest.substr(0, 63) + ":", digest.substr(0, 63) + "@",
          digest.substr(0, 63) + "`"}) {
        EXPECT_FALSE(parseSha256Hex(bad).has_value()) << bad;
    }
}

TEST(PackageDigest, HexTextAndMismatchMessage) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(lowerHex(bytes, sizeof(bytes)), "000fa0ff");
    EXPECT_EQ(lowerHex(bytes, 0), "");
    EXPECT_EQ(digestMismatchText("aa", "bb"), "package digest mismatch: expected aa, got bb");
}

}  // namespace
}  // namespace tavro
