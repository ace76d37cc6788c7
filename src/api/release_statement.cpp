#include "api/release_statement.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace tavro {

namespace {

constexpr char kStatementHeader[] = "tavro-release-1\nTavro\n";

// The DER SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE { SEQUENCE { OID
// id-ecPublicKey, OID prime256v1 }, BIT STRING (no unused bits) 0x04 (uncompressed) }.
constexpr std::array<unsigned char, 27> kP256SpkiPrefix = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
    0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// The value of a base64 character; -1 for any other byte.
int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// The number written by count digits at position (the caller has checked they are digits).
int digitsAt(std::string_view text, std::size_t position, std::size_t count) {
    int value = 0;
    for (std::size_t i = position; i < position + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar (negative before it).
std::int64_t daysSinceEpoch(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int shiftedMonth = month > 2 ? month - 3 : month + 9;  // March is 0
    const int dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

// The inverse of daysSinceEpoch.
void civilDate(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<int>(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
}

std::string_view withoutLeadingZeros(std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
}

}  // namespace

std::string releaseStatementText(const ReleaseStatement& statement) {
    std::string text = kStatementHeader;
    for (const std::string* line : {&statement.version, &statement.buildNumber, &statement.sha256,
                                    &statement.packageSize, &statement.expires}) {
        text += *line;
        text += '\n';
    }
    return text;
}

std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) {
            return std::nullopt;  // also a third "=" or one inside the text
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<unsigned char>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    if (bits != 0) {
        return std::nullopt;  // the unused bits of the last character must be zero
    }
    return bytes;
}

std::optional<P256Signature> rawP256Signature(std::span<const unsigned char> bytes) {
    P256Signature signature{};
    if (bytes.size() != signature.size()) {
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), signature.begin());
    const auto zero = [](auto first, auto last) {
        return std::all_of(first, last, [](unsigned char b) { return b == 0; });
    };
    if (zero(signature.begin(), signature.begin() + 32) ||
        zero(signature.begin() + 32, signature.end())) {
        return std::nullopt;  // r and s lie between 1 and the group order
    }
    return signature;
}

std::optional<P256PublicPoint> p256PublicPoint(std::span<const unsigned char> spkiDer) {
    P256PublicPoint point{};
    if (spkiDer.size() != kP256SpkiPrefix.size() + point.size() ||
        !std::equal(kP256SpkiPrefix.begin(), kP256SpkiPrefix.end(), spkiDer.begin())) {
        return std::nullopt;
    }
    std::copy(spkiDer.begin() + kP256SpkiPrefix.size(), spkiDer.end(), point.begin());
    return point;
}

std::optional<std::int64_t> parseUtcTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ
    static constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == '0' ? !isDigit(text[i]) : text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2);
    const int minute = digitsAt(text, 14, 2);
    const int second = digitsAt(text, 17, 2);
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    return daysSinceEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string utcTimeText(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    civilDate(days, year, month, day);
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

std::optional<std::uint64_t> parseDecimalSize(std::string_view text) {
    if (!allDigits(text) || text.size() > 20) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

bool isReleaseKeyId(std::string_view text) {
    return !text.empty() && text.size() <= 32 && std::all_of(text.begin(), text.end(), [](char c) {
        return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
               c == '_' || c == '-';
    });
}

BuildOrder compareBuilds(std::string_view signedBuild, std::string_view floorBuild) {
    if (!allDigits(signedBuild) || !allDigits(floorBuild)) {
        return BuildOrder::NotComparable;
    }
    const std::string_view a = withoutLeadingZeros(signedBuild);
    const std::string_view b = withoutLeadingZeros(floorBuild);
    if (a.size() != b.size()) {
        return a.size() > b.size() ? BuildOrder::Newer : BuildOrder::Older;
    }
    const int order = a.compare(b);
    return order == 0 ? BuildOrder::Same : order > 0 ? BuildOrder::Newer : BuildOrder::Older;
}

}  // namespace tavro
