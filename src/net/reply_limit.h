#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tavro {

// The most an API reply body (server probe, latest-version query) may hold. The replies are a
// few hundred bytes; a larger one is refused rather than read into memory.
inline constexpr std::uint64_t kApiReplyLimitBytes = 1048576;
// No limit (the default of the request routine).
inline constexpr std::uint64_t kNoReplyLimit = std::numeric_limits<std::uint64_t>::max();

// Whether a body of `have` bytes may take `more` bytes without passing limit.
constexpr bool replyFits(std::uint64_t have, std::uint64_t more, std::uint64_t limit) {
    return have <= limit && more <= limit - have;
}

// "Reply body larger than <limit> bytes".
std::string replyTooLargeText(std::uint64_t limit);

}  // namespace tavro
