#include "net/head_request.h"

#include "net/header_values.h"
#include "net/user_proxy.h"
#include "net/winhttp_session.h"

namespace tavro {

HeadResult headRequest(const std::string& url, std::uint32_t timeoutSeconds) {
    HeadResult result;
    const RequestHandles handles =
        openRequest(url, L"HEAD", RequestTimeouts::allSeconds(timeoutSeconds), result.error);
    if (!handles.session) {
        return result;  // the URL could not be split or WinHTTP not opened: that error stands
    }
    if (!handles.request ||
        !WinHttpSendRequest(handles.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(handles.request.get(), nullptr)) {
        result.error = throughProxy("HEAD request failed", handles.proxy);
        return result;
    }

    const std::int32_t status = queryStatusCode(handles.request.get());
    result.ok = status >= 200 && status <= 399;
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        result.error = proxyAuthenticationText(handles.proxy);
    }
    std::wstring text;
    if (queryHeaderText(handles.request.get(), WINHTTP_QUERY_CONTENT_LENGTH, 128, text)) {
        result.contentLength = parseContentLength(text);
    }
    if (queryHeaderText(handles.request.get(), WINHTTP_QUERY_ACCEPT_RANGES, 256, text)) {
        result.acceptRanges = acceptsByteRanges(text);
    }
    return result;
}

}  // namespace tavro
