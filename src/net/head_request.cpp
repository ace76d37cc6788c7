#include "net/head_request.h"

#include "download/header_values.h"
#include "net/winhttp_session.h"

namespace tavro {

HeadResult headRequest(const std::string& url, std::uint32_t timeoutSeconds) {
    HeadResult result;
    UrlParts parts;
    if (!crackUrl(url, parts, result.error)) {
        return result;
    }
    WinHttpHandle session = openSession();
    if (!session) {
        result.error = "WinHttpOpen failed";
        return result;
    }
    const std::uint32_t timeoutMs = timeoutMilliseconds(timeoutSeconds);
    setSessionTimeouts(session.get(), timeoutMs);

    WinHttpHandle connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    WinHttpHandle request;
    if (connection) {
        request = openRequest(connection.get(), L"HEAD", parts);
    }
    if (request) {
        setResponseHeaderTimeout(request.get(), timeoutMs);
    }
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        result.error = "HEAD request failed";
        return result;
    }

    const std::int32_t status = queryStatusCode(request.get());
    result.ok = status >= 200 && status <= 399;
    std::wstring text;
    if (queryHeaderText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, 128, text)) {
        result.contentLength = parseContentLength(text);
    }
    if (queryHeaderText(request.get(), WINHTTP_QUERY_ACCEPT_RANGES, 256, text)) {
        result.acceptRanges = acceptsByteRanges(text);
    }
    return result;  // request, connection, session close in that order
}

}  // namespace tavro
