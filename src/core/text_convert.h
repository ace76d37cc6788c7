#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavro {

// UTF-8 to UTF-16. Malformed UTF-8 does not fail (the platform substitutes).
std::wstring toWide(std::string_view utf8);

// UTF-16 to UTF-8.
std::string toUtf8(std::wstring_view wide);

// UTF-16 to the process's ANSI code page, for window texts, command lines and paths shown in
// messages. A character the code page cannot hold raises std::system_error with code 1113
// (no Unicode translation) instead of turning into a look-alike or '?'.
std::string toAnsi(std::wstring_view wide);

// A path as 8-bit text in the ANSI code page (see toAnsi).
std::string pathToAnsi(const std::filesystem::path& path);

// A path as log lines and messages show it: in the ANSI code page, or as UTF-8 when the code
// page cannot hold one of its characters.
std::string pathText(const std::filesystem::path& path);

// 8-bit text in the ANSI code page to a path. Paths are never built from narrow bytes directly:
// the standard library would widen them byte by byte.
std::filesystem::path ansiToPath(std::string_view ansi);

// Decimal text of an unsigned 32-bit value: no sign, no leading zeros.
inline std::string decimalText(std::uint32_t value) {
    return std::to_string(value);
}

}  // namespace tavro
