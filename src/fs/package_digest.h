#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

// A SHA-256 digest as the server writes it: 64 hexadecimal digits.
inline constexpr std::size_t kSha256HexDigits = 64;

// The digest in the form the program compares and shows: exactly 64 hexadecimal digits, in
// either case, give the same digits in lower case; anything else (shorter, longer, another
// character, blanks around it) gives nothing.
std::optional<std::string> parseSha256Hex(std::string_view text);

// Lower-case hexadecimal text of bytes, two digits per byte.
std::string lowerHex(const unsigned char* bytes, std::size_t size);

// "package digest mismatch: expected <expected>, got <actual>".
std::string digestMismatchText(std::string_view expected, std::string_view actual);

}  // namespace tavro
