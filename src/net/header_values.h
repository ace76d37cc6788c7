#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavro {

// A Content-Length header value read like the standard wide-text-to-integer conversion: leading
// white space and a sign are accepted, reading stops at the first non-digit, no digits give 0.
// A negative length cannot describe a body, so it counts as no length at all (0).
std::uint64_t parseContentLength(std::wstring_view text);

// True when an Accept-Ranges value names the "bytes" unit, in any letter case.
bool acceptsByteRanges(std::wstring_view text);

// The first and last byte of a Content-Range value "bytes a-b/total" (total may be "*");
// nothing when the value has another form.
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};
std::optional<ContentRange> parseContentRange(std::wstring_view text);

}  // namespace tavro
