#pragma once

#include <cstdint>
#include <string>

namespace tavro {

// What a HEAD probe learned about a URL.
struct HeadResult {
    bool ok = false;                  // final status 200..399
    std::uint64_t contentLength = 0;  // Content-Length, 0 when missing (filled whatever the status)
    bool acceptRanges = false;        // Accept-Ranges contains "bytes" (any letter case)
    std::string error;                // empty, or why the probe failed
};

// Sends HEAD with all four session timeouts set to timeoutSeconds. Never throws for network
// trouble: connect, send or receive failures give "HEAD request failed".
HeadResult headRequest(const std::string& url, std::uint32_t timeoutSeconds);

}  // namespace tavro
