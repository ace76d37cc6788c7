#include "net/winhttp_session.h"

#include <climits>

namespace tavro {

WinHttpHandle openSession() {
    return WinHttpHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void setSessionTimeouts(HINTERNET session, std::uint32_t milliseconds) {
    const int ms = static_cast<int>(milliseconds);
    WinHttpSetTimeouts(session, ms, ms, ms, ms);
}

void setResponseHeaderTimeout(HINTERNET request, std::uint32_t milliseconds) {
    DWORD ms = milliseconds;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof(ms));
}

WinHttpHandle openRequest(HINTERNET connection, const wchar_t* verb, const UrlParts& url) {
    return WinHttpHandle(WinHttpOpenRequest(connection, verb, url.path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            url.secure ? WINHTTP_FLAG_SECURE : 0));
}

std::int32_t queryStatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    return static_cast<std::int32_t>(status);
}

bool queryHeaderText(HINTERNET request, DWORD query, std::size_t bufferBytes, std::wstring& text) {
    std::wstring buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    buffer.resize(size / sizeof(wchar_t));
    text = std::move(buffer);
    return true;
}

std::uint32_t timeoutMilliseconds(std::uint32_t seconds) {
    constexpr std::uint32_t kMaxSeconds = INT_MAX / 1000;
    return (seconds > kMaxSeconds ? kMaxSeconds : seconds) * 1000;
}

}  // namespace tavro
