#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tavro::test {

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target;                                        // as sent: path and query
    std::string path;                                          // target without the query
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
    std::string body;

    // The first header of that name (case-insensitive), or empty.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    // The raw header block lines ("Name: value"), in order.
    std::vector<std::string> headerLines() const;
};

// How the server answers one request.
struct Reply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra headers, in order
    bool sendContentLength = true;       // false: the body ends when the connection closes
    bool honourRanges = false;           // "Range: bytes=a-b" gets 206 with Content-Range
    bool neverAnswer = false;            // read the request, then hold the connection silently
    std::chrono::milliseconds delay{0};  // before the status line is sent
    std::optional<std::uint64_t> cutAfterBytes;    // close after this many body bytes
    std::optional<std::uint64_t> stallAfterBytes;  // go silent after this many body bytes
    std::uint64_t bytesPerSecond = 0;              // per-connection cap; 0 = unlimited

    // Reads the request and never answers.
    static Reply silence() {
        Reply reply;
        reply.neverAnswer = true;
        return reply;
    }

    static Reply text(int status, std::string body) {
        Reply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
};

using Handler = std::function<Reply(const RecordedRequest&)>;

// A URL on 127.0.0.1 whose port was just free and is closed again: connecting is refused.
std::string refusedUrl(std::string_view path = "");

// A real HTTP/1.1 server on 127.0.0.1 with an ephemeral port, in the test's own process. Routes
// match the path exactly (any method; HEAD gets the headers of the GET without the body);
// unknown paths get 404. Every connection is closed after its reply. Stopped and joined by the
// destructor.
class TestHttpServer {
  public:
    TestHttpServer();
    // On a fixed port (for a program whose server list was fixed when it was linked).
    explicit TestHttpServer(std::uint16_t port);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string url(std::string_view path = "") const;

    void on(const std::string& path, Reply reply);
    void on(const std::string& path, Handler handler);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsFor(std::string_view path) const;
    // Body bytes sent so far on all connections (for pause tests).
    std::uint64_t bodyBytesSent() const { return bodyBytesSent_.load(); }

    void stop();

  private:
    void acceptLoop();
    void serve(std::uintptr_t client);
    Handler handlerFor(const std::string& path) const;
    bool sendAll(std::uintptr_t client, const char* data, std::size_t size);
    bool sendBody(std::uintptr_t client, std::string_view body, const Reply& reply);
    bool sleepUnlessStopped(std::chrono::milliseconds duration);
    void holdUntilClosed(std::uintptr_t client);

    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> bodyBytesSent_{0};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::map<std::string, Handler> routes_;
    std::vector<RecordedRequest> log_;
    std::vector<std::uintptr_t> openClients_;
    std::vector<std::thread> connectionThreads_;
};

}  // namespace tavro::test
