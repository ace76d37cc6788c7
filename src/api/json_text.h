#pragma once

#include <cstddef>
#include <optional>
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

// The value of the member called name (ASCII case ignored) of the reply's top-level object, read
// like jsonReadValue; nothing when the object has no such member. Strict where jsonFindValue is
// lenient: only a member name counts, never a value or a member of a nested object or array, and
// the reply is walked as JSON up to that member (a reply that is no object, or breaks off
// before it, has none). The first such member wins.
std::optional<std::string> jsonMemberValue(std::string_view reply, std::string_view name);

// The value after the first colon at or after position: a string (escapes translated, \uXXXX
// kept as uXXXX) or the bare text up to a comma, closing brace or white space.
std::string jsonReadValue(std::string_view reply, std::size_t position);

}  // namespace tavro
