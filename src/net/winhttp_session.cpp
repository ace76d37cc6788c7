#include "net/winhttp_session.h"

#include "core/text_convert.h"
#include "net/crack_url.h"
#include "net/user_proxy.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace tavro {

namespace {

// TLS 1.2 and newer only, whatever the platform's default would allow. A platform that does not
// know TLS 1.3 refuses that flag with ERROR_INVALID_PARAMETER; it then gets TLS 1.2 alone, never
// anything older. False (GetLastError set) when even that is refused.
bool requireModernTls(HINTERNET session) {
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
        return true;
    }
    if (GetLastError() != ERROR_INVALID_PARAMETER) {
        return false;
    }
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                            sizeof(protocols)) != FALSE;
}

// Redirects are followed, except from https to http: such a reply ends the request with
// ERROR_WINHTTP_REDIRECT_FAILED instead of sending it, or anything after it, in the clear.
bool refuseRedirectsToHttp(HINTERNET session) {
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    return WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy)) !=
           FALSE;
}

}  // namespace

RequestHandles openRequest(const std::string& url, const wchar_t* verb,
                           const RequestTimeouts& timeouts, std::string& error) {
    RequestHandles handles;
    UrlParts parts;
    if (!crackUrl(url, parts, error)) {
        return handles;
    }
    handles.session = openSessionFor(url, handles.proxy);
    if (!handles.session) {
        error = "WinHttpOpen failed";
        return handles;
    }
    if (!requireModernTls(handles.session.get()) || !refuseRedirectsToHttp(handles.session.get())) {
        const DWORD code = GetLastError();
        error = "WinHttpSetOption failed: " + decimalText(code);
        handles.session.reset();
        return handles;
    }
    WinHttpSetTimeouts(handles.session.get(), static_cast<int>(timeouts.resolveMs),
                       static_cast<int>(timeouts.connectMs), static_cast<int>(timeouts.sendMs),
                       static_cast<int>(timeouts.receiveMs));
    handles.connection.reset(
        WinHttpConnect(handles.session.get(), parts.host.c_str(), parts.port, 0));
    if (!handles.connection) {
        error = "WinHttpConnect failed";
        return handles;
    }
    handles.request.reset(WinHttpOpenRequest(
        handles.connection.get(), verb, parts.path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handles.request) {
        error = "WinHttpOpenRequest failed";
        return handles;
    }
    closeConnectionAfter(handles.request.get(), handles.proxy);
    DWORD headersMs = timeouts.responseHeadersMs;
    WinHttpSetOption(handles.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs,
                     sizeof(headersMs));
    return handles;
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

}  // namespace tavro
