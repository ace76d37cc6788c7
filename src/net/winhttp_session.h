#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "core/last_error.h"
#include "core/unique_resource.h"
#include "net/request_timeouts.h"

namespace tavro {

struct WinHttpHandleTraits : KeepsLastError {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { WinHttpCloseHandle(handle); }
};
// Owns a session, connection or request handle.
using WinHttpHandle = UniqueResource<WinHttpHandleTraits>;

inline constexpr wchar_t kUserAgent[] = L"TavroInstaller/3.0";

// The three handles of one request. Members end in reverse order, so the request closes first,
// then its connection, then the session.
struct RequestHandles {
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;
    std::string proxy;  // the proxy of the user's settings this request goes through; empty: none
};

// Splits url, opens a synchronous session (the installer's user agent, the proxy the user's
// settings select for url, these timeouts, TLS 1.2 or newer, no redirect from https to http),
// connects, and opens a verb request, secure exactly for https. On failure
// the result holds no request, only what was opened before, and error is "WinHttpCrackUrl failed",
// "WinHttpOpen failed", "WinHttpSetOption failed: " + code (the TLS or redirect setting refused; no
// session is kept), "WinHttpConnect failed" or "WinHttpOpenRequest failed".
RequestHandles openRequest(const std::string& url, const wchar_t* verb,
                           const RequestTimeouts& timeouts, std::string& error);

// The final status as a number; 0 when it cannot be read.
std::int32_t queryStatusCode(HINTERNET request);

// The text of one response header (a WINHTTP_QUERY_ value) read into a buffer of bufferBytes;
// false when the response has no such header or it does not fit.
bool queryHeaderText(HINTERNET request, DWORD query, std::size_t bufferBytes, std::wstring& text);

}  // namespace tavro
