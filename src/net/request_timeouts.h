#pragma once

#include <climits>
#include <cstdint>

namespace tavro {

// The timeouts of one request, in milliseconds; 0 is no limit.
struct RequestTimeouts {
    std::uint32_t resolveMs = 0;
    std::uint32_t connectMs = 0;
    std::uint32_t sendMs = 0;
    std::uint32_t receiveMs = 0;
    // The wait for the response headers. Wine's WinHTTP ignores the session timeouts there (it
    // would wait for ever on a silent server), Windows uses the receive timeout: set on the
    // request too, it makes both fail on time.
    std::uint32_t responseHeadersMs = 0;

    // Every wait seconds × 1000, kept within what WinHTTP's int timeouts can hold.
    static constexpr RequestTimeouts allSeconds(std::uint32_t seconds) {
        constexpr std::uint32_t kMaxSeconds = INT_MAX / 1000;
        const std::uint32_t ms = (seconds > kMaxSeconds ? kMaxSeconds : seconds) * 1000;
        return {ms, ms, ms, ms, ms};
    }
};

}  // namespace tavro
