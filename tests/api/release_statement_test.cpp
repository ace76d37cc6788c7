#include "api/release_statement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

std::vector<unsigned char> bytes(std::initializer_list<int> values) {
    std::vector<unsigned char> result;
    for (const int value : values) {
        result.push_back(static_cast<unsigned char>(value));
    }
    return result;
}

TEST(ReleaseStatement, LinesInOrderEachEndedByOneLineFeed) {
    const ReleaseStatement statement{"2.4.1", "812", std::string(64, 'a'), "1048577",
                                     "2030-01-02T03:04:05Z"};
    EXPECT_EQ(releaseStatementText(statement), "tavro-release-1\nTavro\n2.4.1\n812\n" +
                                                   std::string(64, 'a') +
                                                   "\n1048577\n2030-01-02T03:04:05Z\n");
}

TEST(Base64, DecodesTheStandardAlphabetWithPadding) {
    EXPECT_EQ(decodeBase64(""), std::vector<unsigned char>{});
    EXPECT_EQ(decodeBase64("Zg=="), bytes({'f'}));
    EXPECT_EQ(decodeBase64("Zm8="), bytes({'f', 'o'}));
    EXPECT_EQ(decodeBase64("Zm9v"), bytes({'f', 'o', 'o'}));
    EXPECT_EQ(decodeBase64("+/8A"), bytes({0xfb, 0xff, 0x00}));
}

TEST(Base64, RefusesEveryOtherSpellingOfTheSameBytes) {
    for (const char* text : {"Zg", "Zg=", "Zg===", "Zm9v\n", " Zm9v", "Zm 9v", "-_8A",
                             "Zh==", "Zm9=", "Z===", "Zg==Zg==", "=Zg=", "Zm9v===="}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeBase64(text));
    }
}

TEST(P256Signature, TakesExactly64BytesIncludingLeftPaddedHalves) {
    std::vector<unsigned char> raw(64, 0x5a);
    raw[0] = 0x00;  // r below 2^248: left-padded, still 64 bytes
    raw[1] = 0x00;
    raw[32] = 0x00;  // s left-padded too
    const auto signature = rawP256Signature(raw);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), signature->begin()));

    // The same r without its padding, and a DER SEQUENCE of two INTEGERs, are not r-then-s.
    EXPECT_FALSE(rawP256Signature(std::vector<unsigned char>(raw.begin() + 1, raw.end())));
    std::vector<unsigned char> der = bytes({0x30, 0x44, 0x02, 0x20});
    der.insert(der.end(), 32, 0x5a);
    der.insert(der.end(), {0x02, 0x20});
    der.insert(der.end(), 32, 0x5a);
    EXPECT_FALSE(rawP256Signature(der));
    // Zero r or s never verifies: refused before the platform is asked.
    std::vector<unsigned char> zeroR(64, 0x11);
    std::fill(zeroR.begin(), zeroR.begin() + 32, 0);
    EXPECT_FALSE(rawP256Signature(zeroR));
    std::vector<unsigned char> zeroS(64, 0x11);
    std::fill(zeroS.begin() + 32, zeroS.end(), 0);
    EXPECT_FALSE(rawP256Signature(zeroS));
}

TEST(P256PublicKey, ReadsThePointOfAP256SubjectPublicKeyInfoOnly) {
    // openssl ecparam -name prime256v1 -genkey | openssl pkey -pubout -outform DER | base64
    const auto spki = decodeBase64(
        "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE4M4bhxl/mLXTU32jguZaWB+XOAvulOAjy0xGARpWOlS+OEvKCQq+"
        "JXeOjh9oPiojsjKWBUgk7a+uayAMhgTrgA==");
    ASSERT_TRUE(spki);
    const auto point = p256PublicPoint(*spki);
    ASSERT_TRUE(point);
    EXPECT_EQ((*point)[0], 0xe0);
    EXPECT_EQ((*point)[63], 0x80);

    std::vector<unsigned char> otherCurve = *spki;
    otherCurve[22] = 0x22;  // the last byte of the curve's identifier (P-384 ends in 0x22)
    EXPECT_FALSE(p256PublicPoint(otherCurve));
    std::vector<unsigned char> compressed = *spki;
    compressed[26] = 0x02;
    EXPECT_FALSE(p256PublicPoint(compressed));
    EXPECT_FALSE(p256PublicPoint(std::vector<unsigned char>(spki->begin(), spki->end() - 1)));
}

TEST(UtcTime, ParsesTheOneFormAndEveryDayThatExists) {
    EXPECT_EQ(parseUtcTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseUtcTime("2000-03-01T00:00:00Z"), 951868800);
    EXPECT_EQ(parseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
    EXPECT_EQ(parseUtcTime("2038-01-19T03:14:08Z"), 2147483648LL);  // past 32 bits
    EXPECT_EQ(parseUtcTime("1969-12-31T23:59:59Z"), -1);
    for (const std::int64_t seconds : {0LL, 951868800LL, 1709251199LL, 4102444800LL, -86400LL}) {
        EXPECT_EQ(parseUtcTime(utcTimeText(seconds)), seconds) << utcTimeText(seconds);
    }
    EXPECT_EQ(utcTimeText(1709251199), "2024-02-29T23:59:59Z");
}

TEST(UtcTime, RefusesOtherFormsAndDaysThatDoNotExist) {
    for (const char* text :
         {"2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2024-04-31T00:00:00Z",
          "2024-13-01T00:00:00Z", "2024-00-10T00:00:00Z", "2024-01-00T00:00:00Z",
          "2024-01-01T24:00:00Z", "2024-01-01T23:60:00Z", "2024-06-30T23:59:60Z",
          "2024-01-01T00:00:00", "2024-01-01 00:00:00Z", "2024-01-01T00:00:00+00:00",
          "2024-01-01T00:00:00.0Z", "2024-1-01T00:00:00Z", "+024-01-01T00:00:00Z",
          "2024-01-01t00:00:00z", ""}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseUtcTime(text));
    }
}

TEST(DecimalSize, DigitsOnlyWithin64Bits) {
    EXPECT_EQ(parseDecimalSize("0"), 0u);
    EXPECT_EQ(parseDecimalSize("007"), 7u);
    EXPECT_EQ(parseDecimalSize("18446744073709551615"), 18446744073709551615ull);
    for (const char* text : {"", "18446744073709551616", "99999999999999999999", "-1", "+1", "1e3",
                             " 1", "1 ", "0x10", "000000000000000000001"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseDecimalSize(text));
    }
}

TEST(ReleaseKeyId, OneToThirtyTwoOfTheAllowedCharacters) {
    EXPECT_TRUE(isReleaseKeyId("a"));
    EXPECT_TRUE(isReleaseKeyId("release-2025.B_1"));
    EXPECT_TRUE(isReleaseKeyId(std::string(32, 'k')));
    for (const std::string& text :
         {std::string(), std::string(33, 'k'), std::string("a b"), std::string("a/b"),
          std::string("key=1"), std::string("\xc3\xa9")}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(isReleaseKeyId(text));
    }
}

TEST(Rollback, DecimalBuildsCompareAsNumbersAndAnythingElseIsNotCompared) {
    EXPECT_EQ(compareBuilds("812", "811"), BuildOrder::Newer);
    EXPECT_EQ(compareBuilds("812", "812"), BuildOrder::Same);
    EXPECT_EQ(compareBuilds("99", "100"), BuildOrder::Older);  // not compared as text
    EXPECT_EQ(compareBuilds("0100", "100"), BuildOrder::Same);
    EXPECT_EQ(compareBuilds("0", "000"), BuildOrder::Same);
    EXPECT_EQ(compareBuilds("123456789012345678901234567890", "9"), BuildOrder::Newer);
    EXPECT_EQ(compareBuilds("9", "123456789012345678901234567890"), BuildOrder::Older);
    for (const auto& [signedBuild, installed] : std::vector<std::pair<std::string, std::string>>{
             {"812", "8.1"}, {"812a", "1"}, {"1", ""}, {"", "1"}, {"-5", "1"}, {"1", " 1"}}) {
        SCOPED_TRACE(signedBuild + " / " + installed);
        EXPECT_EQ(compareBuilds(signedBuild, installed), BuildOrder::NotComparable);
    }
}

}  // namespace
}  // namespace tavro
