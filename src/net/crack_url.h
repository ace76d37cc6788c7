#pragma once

#include <cstdint>
#include <string>

namespace tavro {

// A URL split for WinHTTP.
struct UrlParts {
    std::wstring host;
    std::wstring path;  // path + query/fragment, or "/" when both are empty
    std::uint16_t port = 0;
    bool secure = false;  // https
};

// Splits a UTF-8 URL. On failure sets error to "WinHttpCrackUrl failed" and returns false.
bool crackUrl(const std::string& url, UrlParts& parts, std::string& error);

}  // namespace tavro
