#include "fs/package_digest.h"

namespace tavro {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The lower-case digit of c, or 0 when c is no hexadecimal digit.
char lowerHexDigit(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) {
        return c;
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return 0;
}

}  // namespace

std::optional<std::string> parseSha256Hex(std::string_view text) {
    if (text.size() != kSha256HexDigits) {
        return std::nullopt;
    }
    std::string digest(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        digest[i] = lowerHexDigit(text[i]);
        if (digest[i] == 0) {
            return std::nullopt;
        }
    }
    return digest;
}

std::string lowerHex(const unsigned char* bytes, std::size_t size) {
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0f];
    }
    return text;
}

std::string digestMismatchText(std::string_view expected, std::string_view actual) {
    return "package digest mismatch: expected " + std::string(expected) + ", got " +
           std::string(actual);
}

}  // namespace tavro
