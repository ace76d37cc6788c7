#include "net/http_client.h"

#include "core/text_convert.h"
#include "net/user_proxy.h"
#include "net/winhttp_session.h"

namespace tavro {

namespace {

// Appends the entity to the body until the end, or until a query or read fails (which keeps
// what was read so far and sets no error). A chunk that would take the body past limit is not
// read: error says so.
void readBody(HINTERNET request, std::string& body, std::uint64_t limit, std::string& error) {
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available) || available == 0) {
            return;
        }
        if (!replyFits(body.size(), available, limit)) {
            error = replyTooLargeText(limit);
            return;
        }
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request, chunk.data(), available, &read)) {
            return;
        }
        body.append(chunk.data(), read);
    }
}

}  // namespace

HttpResponse httpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const std::vector<std::wstring>& headerLines, std::uint32_t timeoutSeconds,
                         std::uint64_t bodyLimit) {
    HttpResponse response;
    const std::wstring verb = toWide(method);
    const RequestHandles handles =
        openRequest(url, verb.c_str(), RequestTimeouts::allSeconds(timeoutSeconds), response.error);
    if (!handles.request) {
        return response;
    }
    HINTERNET request = handles.request.get();
    for (const std::wstring& line : headerLines) {
        WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    const DWORD bodyLength = static_cast<DWORD>(body.size());
    LPVOID optional = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, bodyLength,
                            bodyLength, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        const DWORD code = GetLastError();
        response.error =
            throughProxy("WinHttpSendRequest failed: " + decimalText(code), handles.proxy);
        return response;
    }

    response.statusCode = queryStatusCode(request);
    if (response.statusCode == HTTP_STATUS_PROXY_AUTH_REQ) {
        response.error = proxyAuthenticationText(handles.proxy);
    }
    readBody(request, response.body, bodyLimit, response.error);
    return response;  // request, connection, session close in that order
}

HttpResponse httpGet(const std::string& url, std::uint32_t timeoutSeconds,
                     std::uint64_t bodyLimit) {
    return httpRequest("GET", url, std::string(), {}, timeoutSeconds, bodyLimit);
}

HttpResponse httpPostJson(const std::string& url, const std::string& body,
                          std::uint32_t timeoutSeconds, std::uint64_t bodyLimit) {
    return httpRequest("POST", url, body, {L"Content-Type: application/json"}, timeoutSeconds,
                       bodyLimit);
}

}  // namespace tavro
