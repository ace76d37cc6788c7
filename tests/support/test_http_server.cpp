#include "support/test_http_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace tavro::test {

namespace {

constexpr std::size_t kSendChunk = 64 * 1024;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// Reads one request (headers, then a Content-Length body). False when the client went away.
bool readRequest(SOCKET client, RecordedRequest& request) {
    std::string data;
    char buffer[8192];
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string head = data.substr(0, headerEnd);
    std::string rest = data.substr(headerEnd + 4);

    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line =
            head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        }
    }
    const std::string length = request.header("Content-Length");
    const std::size_t bodyLength = length.empty() ? 0 : std::stoull(length);
    while (rest.size() < bodyLength) {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return false;
        }
        rest.append(buffer, static_cast<std::size_t>(got));
    }
    request.body = rest.substr(0, bodyLength);
    return true;
}

// Parses "bytes=a-b" or "bytes=a-" against a body of size total.
bool parseRange(const std::string& value, std::uint64_t total, std::uint64_t& first,
                std::uint64_t& last) {
    if (value.rfind("bytes=", 0) != 0 || value.find(',') != std::string::npos) {
        return false;
    }
    const std::string range = value.substr(6);
    const auto dash = range.find('-');
    if (dash == std::string::npos || dash == 0) {
        return false;
    }
    first = std::stoull(range.substr(0, dash));
    last = dash + 1 < range.size() ? std::stoull(range.substr(dash + 1)) : total - 1;
    if (last >= total) {
        last = total - 1;
    }
    return total > 0 && first <= last;
}

}  // namespace

std::string refusedUrl(std::string_view path) {
    TestHttpServer server;  // takes a free port and releases it when it goes
    return server.url(path);
}

std::string RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoreCase(key, name)) {
            return value;
        }
    }
    return {};
}

bool RecordedRequest::hasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& entry) { return equalsIgnoreCase(entry.first, name); });
}

std::vector<std::string> RecordedRequest::headerLines() const {
    std::vector<std::string> lines;
    for (const auto& [key, value] : headers) {
        lines.push_back(key + ": " + value);
    }
    return lines;
}

TestHttpServer::TestHttpServer() : TestHttpServer(0) {}

TestHttpServer::TestHttpServer(std::uint16_t port) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        throw std::runtime_error("WSAStartup failed");
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        WSACleanup();
        throw std::runtime_error("socket failed");
    }
    if (port != 0) {
        // Connections this port served for an earlier test may linger in TIME_WAIT.
        const BOOL reuse = TRUE;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof(reuse));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only
    address.sin_port = htons(port);
    int size = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, SOMAXCONN) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        closesocket(listener);
        WSACleanup();
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    listener_ = listener;
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop();
    WSACleanup();
}

void TestHttpServer::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    closesocket(static_cast<SOCKET>(listener_));
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (std::uintptr_t client : openClients_) {
            shutdown(static_cast<SOCKET>(client), SD_BOTH);
        }
        threads.swap(connectionThreads_);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::string TestHttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void TestHttpServer::on(const std::string& path, Reply reply) {
    on(path, Handler([reply](const RecordedRequest&) { return reply; }));
}

void TestHttpServer::on(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<RecordedRequest> TestHttpServer::requestsFor(std::string_view path) const {
    std::vector<RecordedRequest> matching;
    for (RecordedRequest& request : requests()) {
        if (request.path == path) {
            matching.push_back(std::move(request));
        }
    }
    return matching;
}

Handler TestHttpServer::handlerFor(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = routes_.find(path);
    if (found != routes_.end()) {
        return found->second;
    }
    return [](const RecordedRequest&) { return Reply::text(404, "not found"); };
}

void TestHttpServer::acceptLoop() {
    for (;;) {
        SOCKET client = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            return;  // listener closed by stop()
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            closesocket(client);
            return;
        }
        openClients_.push_back(client);
        connectionThreads_.emplace_back([this, client] { serve(client); });
    }
}

bool TestHttpServer::sleepUnlessStopped(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !stopping_;
}

void TestHttpServer::holdUntilClosed(std::uintptr_t client) {
    char buffer[256];
    while (!stopping_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(static_cast<SOCKET>(client), &readable);
        timeval wait{0, 50000};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0 ||
            (ready > 0 && recv(static_cast<SOCKET>(client), buffer, sizeof(buffer), 0) <= 0)) {
            return;
        }
    }
}

bool TestHttpServer::sendAll(std::uintptr_t client, const char* data, std::size_t size) {
    while (size > 0) {
        const int sent = send(static_cast<SOCKET>(client), data,
                              static_cast<int>(std::min(size, kSendChunk)), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool TestHttpServer::sendBody(std::uintptr_t client, std::string_view body, const Reply& reply) {
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t sent = 0;
    while (sent < body.size() && !stopping_) {
        const std::size_t chunk = std::min<std::size_t>(kSendChunk, body.size() - sent);
        if (!sendAll(client, body.data() + sent, chunk)) {
            return false;
        }
        sent += chunk;
        bodyBytesSent_ += chunk;
        if (reply.bytesPerSecond > 0) {
            const auto due =
                start + std::chrono::microseconds(sent * 1000000 / reply.bytesPerSecond);
            std::this_thread::sleep_until(due);
        }
    }
    return sent == body.size();
}

void TestHttpServer::serve(std::uintptr_t client) {
    const SOCKET socketHandle = static_cast<SOCKET>(client);
    RecordedRequest request;
    if (readRequest(socketHandle, request)) {
        {
            std::lock_guard lock(mutex_);
            log_.push_back(request);
        }
        Reply reply;
        try {
            reply = handlerFor(request.path)(request);
        } catch (const std::exception& e) {
            reply = Reply::text(500, e.what());
        }
        if (reply.neverAnswer) {
            holdUntilClosed(client);
        } else if (sleepUnlessStopped(reply.delay)) {
            int status = reply.status;
            std::string_view body = reply.body;
            std::vector<std::pair<std::string, std::string>> headers = reply.headers;
            std::uint64_t first = 0;
            std::uint64_t last = 0;
            const std::string range = request.header("Range");
            if (reply.honourRanges && !range.empty()) {
                if (parseRange(range, body.size(), first, last)) {
                    headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                              std::to_string(last) + "/" +
                                                              std::to_string(body.size()));
                    body = body.substr(first, last - first + 1);
                    status = 206;
                } else {
                    status = 416;
                    body = {};
                }
            }
            std::string head =
                "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
            if (reply.sendContentLength) {
                head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
            }
            for (const auto& [name, value] : headers) {
                head += name + ": " + value + "\r\n";
            }
            head += "Connection: close\r\n\r\n";
            if (request.method == "HEAD") {
                body = {};
            } else if (reply.cutAfterBytes && *reply.cutAfterBytes < body.size()) {
                body = body.substr(0, *reply.cutAfterBytes);
            }
            const bool stall = reply.stallAfterBytes && *reply.stallAfterBytes < body.size();
            if (stall) {
                body = body.substr(0, *reply.stallAfterBytes);
            }
            if (sendAll(client, head.data(), head.size()) && sendBody(client, body, reply) &&
                stall) {
                holdUntilClosed(client);
            }
        }
    }
    shutdown(socketHandle, SD_SEND);
    {
        std::lock_guard lock(mutex_);
        openClients_.erase(std::remove(openClients_.begin(), openClients_.end(), client),
                           openClients_.end());
    }
    closesocket(socketHandle);
}

}  // namespace tavro::test
