#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net/reply_limit.h"

namespace tavro {

// The result of one request. Network trouble never throws: it becomes the error text.
struct HttpResponse {
    std::int32_t statusCode = 0;                 // final HTTP status, 0 when none was read
    std::string body;                            // the entity exactly as received
    std::string error;                           // empty when the exchange went through
    std::map<std::string, std::string> headers;  // not filled by these operations
};

// One synchronous request on its own session, connection and request handles. Header lines are
// complete ("Name: value"). Every timeout (resolve, connect, send, receive) is timeoutSeconds.
// A body that would pass bodyLimit bytes is not read further: error says so ("Reply body larger
// than N bytes") and body keeps what was read before.
HttpResponse httpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const std::vector<std::wstring>& headerLines, std::uint32_t timeoutSeconds,
                         std::uint64_t bodyLimit = kNoReplyLimit);

// GET with no body and no extra header lines.
HttpResponse httpGet(const std::string& url, std::uint32_t timeoutSeconds,
                     std::uint64_t bodyLimit = kNoReplyLimit);

// POST of a JSON body with the single header line "Content-Type: application/json".
HttpResponse httpPostJson(const std::string& url, const std::string& body,
                          std::uint32_t timeoutSeconds, std::uint64_t bodyLimit = kNoReplyLimit);

}  // namespace tavro
