#pragma once

#include <chrono>
#include <string>

namespace tavro::test {

// WinHTTP's timeout error: 12002 on Windows, 10060 (WSAETIMEDOUT) under Wine.
inline bool isPlatformTimeoutError(const std::string& error, const std::string& prefix) {
    return error == prefix + "12002" || error == prefix + "10060";
}

// Seconds elapsed since start, on the steady clock.
inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace tavro::test
