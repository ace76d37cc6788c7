// How long after the fastest server's "true" the server race answers. Six local servers, each
// its own thread in this process: "true" after 300, 600 and 900 ms, "false" after 100 ms, one
// that never answers and one address that refuses connections. Each round calls the race once
// and prints the time from the call to its answer beyond 300 ms, and the time from the moment
// the 300 ms server sent its reply to the answer. The first round is the program's first request
// (the platform's HTTP library and the proxy settings are loaded then), as at the installer's
// start.
//   server_race_bench ROUNDS
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "api/server_routes.h"
#include "core/background_thread.h"
#include "core/installer_core.h"
#include "net/http_client.h"
#include "net/user_proxy.h"
#include "net/winhttp_session.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Server {
    int delayMs = 0;  // < 0: never answers
    std::string body;
    SOCKET listener = INVALID_SOCKET;
    unsigned short port = 0;
    std::atomic<long long> lastReplyNs{0};
};

unsigned short listenOn(SOCKET& listener) {
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, 64);
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void answer(Server* server, SOCKET client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            closesocket(client);
            return;
        }
        request.append(buffer, got);
    }
    if (server->delayMs < 0) {
        std::this_thread::sleep_for(std::chrono::seconds(40));
        closesocket(client);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(server->delayMs));
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(server->body.size()) +
                              "\r\nConnection: close\r\n\r\n" + server->body;
    send(client, reply.data(), static_cast<int>(reply.size()), 0);
    server->lastReplyNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    shutdown(client, SD_SEND);
    closesocket(client);
}

void serve(Server* server) {
    for (;;) {
        const SOCKET client = accept(server->listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            return;
        }
        tavro::startBackgroundThread([server, client] { answer(server, client); });
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 11;
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    static Server servers[5];
    const int delays[5] = {300, 600, 900, 100, -1};
    const char* bodies[5] = {"true", "true", "true", "false", "true"};
    std::vector<std::string> urls;
    for (int i = 0; i < 5; ++i) {
        servers[i].delayMs = delays[i];
        servers[i].body = bodies[i];
        servers[i].port = listenOn(servers[i].listener);
        tavro::startBackgroundThread([server = &servers[i]] { serve(server); });
        const char* host = std::getenv("RACE_HOST");
        urls.push_back(std::string("http://") + (host ? host : "127.0.0.1") + ":" +
                       std::to_string(servers[i].port));
    }
    SOCKET refused = INVALID_SOCKET;
    const unsigned short refusedPort = listenOn(refused);
    closesocket(refused);
    urls.push_back("http://127.0.0.1:" + std::to_string(refusedPort));

    if (argc > 2) {  // where one request's time goes, before the race
        const auto ms = [](Clock::time_point a) {
            return std::chrono::duration<double, std::milli>(Clock::now() - a).count();
        };
        auto t = Clock::now();
        LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        std::printf("loading winhttp.dll %.1f ms\n", ms(t));
        t = Clock::now();
        if (argc > 3) {
            addrinfo* found = nullptr;
            getaddrinfo("127.0.0.1", "80", nullptr, &found);
            if (found)
                freeaddrinfo(found);
            std::printf("resolving %.1f ms\n", ms(t));
            t = Clock::now();
        }
        tavro::userProxyFor(urls[3]);
        std::printf("first proxy decision %.1f ms\n", ms(t));
        for (int i = 0; i < 3; ++i) {
            t = Clock::now();
            std::string error;
            tavro::RequestHandles handles = tavro::openRequest(
                urls[3] + "/api/Tavro/IsUp", L"GET", tavro::RequestTimeouts::allSeconds(12), error);
            std::printf("open request %.1f ms\n", ms(t));
            t = Clock::now();
            tavro::httpGet(urls[3] + "/api/Tavro/IsUp", 12, 4096);
            std::printf("whole GET %.1f ms over 300\n", ms(t) - 300);
        }
    }
    std::string fastest = urls[0];
    std::rotate(urls.begin(), urls.begin() + 3, urls.end());  // the fastest is not the first
    if (const char* given = std::getenv("RACE_URLS")) {       // "fastest;other;..." instead
        urls.clear();
        std::string list = given;
        for (std::size_t at = 0; at != std::string::npos;) {
            const std::size_t end = list.find(';', at);
            urls.push_back(list.substr(at, end == std::string::npos ? end : end - at));
            at = end == std::string::npos ? end : end + 1;
        }
        fastest = urls[0];
    }
    if (const char* ahead = std::getenv("RACE_AHEAD_MS")) {  // as the program does at its start
        tavro::decideServerRoutesAhead();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ahead)));
    }
    std::vector<double> overCall;
    std::vector<double> afterReply;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        const tavro::ServerResult result =
            tavro::installerCore.checkFastestServer({}, urls, std::chrono::seconds(30));
        const auto end = Clock::now();
        const double total = std::chrono::duration<double, std::milli>(end - start).count();
        const double sinceReply =
            (std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count() -
             servers[0].lastReplyNs.load()) /
            1e6;
        if (!result.success || result.url != fastest) {
            std::printf("round %d: wrong answer (%s)\n", round, result.url.c_str());
            return 1;
        }
        std::printf("round %d: %.1f ms over 300 ms, %.1f ms after the reply was sent\n", round,
                    total - 300.0, sinceReply);
        if (round > 0) {
            overCall.push_back(total - 300.0);
            afterReply.push_back(sinceReply);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the slower ones finish
    }
    if (!overCall.empty()) {
        std::printf("median of rounds 1..%d: %.1f ms over 300 ms, %.1f ms after the reply\n",
                    rounds - 1, median(overCall), median(afterReply));
    }
    std::fflush(stdout);
    std::_Exit(0);  // the silent server's threads are still waiting
}
