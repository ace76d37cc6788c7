#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// The values a release's makers sign, as the reply wrote them (the digest in lower case).
struct ReleaseStatement {
    std::string version;
    std::string buildNumber;
    std::string sha256;
    std::string packageSize;
    std::string expires;
};

// The signed text: "tavro-release-1", "Tavro", then the five values, each line ended by one LF.
std::string releaseStatementText(const ReleaseStatement& statement);

// Standard-alphabet base64 with padding. Nothing for any other text: white space, a missing or
// extra "=", another alphabet, or bits set beyond the last byte (so one text means one value).
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text);

// An ECDSA P-256 signature as r then s, each 32 bytes big-endian, left-padded with zeros.
using P256Signature = std::array<unsigned char, 64>;

// The bytes as an r-then-s signature: exactly 64 bytes with neither half zero. A DER signature
// (70 to 72 bytes) or one whose r or s lost its leading zero bytes is nothing.
std::optional<P256Signature> rawP256Signature(std::span<const unsigned char> bytes);

// The X and Y coordinates (32 bytes each, big-endian) of a P-256 public key.
using P256PublicPoint = std::array<unsigned char, 64>;

// The point of a DER SubjectPublicKeyInfo holding an uncompressed P-256 key (91 bytes); nothing
// for a key of another type, curve or encoding.
std::optional<P256PublicPoint> p256PublicPoint(std::span<const unsigned char> spkiDer);

// Seconds since 1970-01-01T00:00:00Z of a UTC time written exactly YYYY-MM-DDTHH:MM:SSZ; nothing
// for any other text or a date that does not exist (2023-02-29, 24:00:00, a leap second).
std::optional<std::int64_t> parseUtcTime(std::string_view text);

// seconds since 1970 written as YYYY-MM-DDTHH:MM:SSZ.
std::string utcTimeText(std::int64_t seconds);

// A byte count written in decimal: 1 to 20 digits, no sign, within 64 bits.
std::optional<std::uint64_t> parseDecimalSize(std::string_view text);

// A key id: 1 to 32 characters of A-Z, a-z, 0-9, ".", "_" and "-".
bool isReleaseKeyId(std::string_view text);

// How a signed build number stands to the rollback floor.
enum class BuildOrder { Newer, Same, Older, NotComparable };

// Compares two build numbers as decimal numbers of any length (leading zeros do not count).
// NotComparable when either is not all digits (or is empty).
BuildOrder compareBuilds(std::string_view signedBuild, std::string_view floorBuild);

}  // namespace tavro
