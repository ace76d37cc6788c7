#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "core/unique_resource.h"
#include "net/crack_url.h"

namespace tavro {

struct WinHttpHandleTraits {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { WinHttpCloseHandle(handle); }
};
// Owns a session, connection or request handle.
using WinHttpHandle = UniqueResource<WinHttpHandleTraits>;

inline constexpr wchar_t kUserAgent[] = L"TavroInstaller/3.0";

// A synchronous session with the default proxy settings and the installer's user agent.
WinHttpHandle openSession();

// Resolve, connect, send and receive timeouts, all the same; the result is not looked at.
void setSessionTimeouts(HINTERNET session, std::uint32_t milliseconds);

// Wine's WinHTTP ignores the session timeouts while it waits for the response headers (it would
// wait for ever on a silent server); Windows uses the receive timeout there. Setting the header
// wait on the request too makes both fail on time.
void setResponseHeaderTimeout(HINTERNET request, std::uint32_t milliseconds);

// Opens a request for the verb on the cracked URL; secure exactly when the scheme is https.
WinHttpHandle openRequest(HINTERNET connection, const wchar_t* verb, const UrlParts& url);

// The final status as a number; 0 when it cannot be read.
std::int32_t queryStatusCode(HINTERNET request);

// The text of one response header (a WINHTTP_QUERY_ value) read into a buffer of bufferBytes;
// false when the response has no such header or it does not fit.
bool queryHeaderText(HINTERNET request, DWORD query, std::size_t bufferBytes, std::wstring& text);

// seconds × 1000, kept within what WinHTTP's int timeouts can hold.
std::uint32_t timeoutMilliseconds(std::uint32_t seconds);

}  // namespace tavro
