#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavro {

// Escapes UTF-8 text for use between the quotes of a JSON string (no quotes are added).
// Tab, LF, CR, quote and backslash get short escapes, other bytes below 0x20 get \u00xx,
// everything else (UTF-8 included) is copied.
std::string jsonEscape(std::string_view text);

// The value text of the first string token in the reply that equals key without regard to
// ASCII case, at any depth, key or value alike; empty when there is none. Lenient by design:
// "FileName" also finds "fileName".
std::string jsonFindValue(std::string_view reply, std::string_view key);

// The value after the first colon at or after position: a string (escapes translated, \uXXXX
// kept as uXXXX) or the bare text up to a comma, closing brace or white space.
std::string jsonReadValue(std::string_view reply, std::size_t position);

}  // namespace tavro
