#include <gtest/gtest.h>

#include <regex>

#include "core/installer_core.h"
#include "support/observed.h"
#include "support/test_http_server.h"
#include "support/timeouts.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;
using test::Reply;
using test::TestHttpServer;

constexpr char kProbePath[] = "/api/Tavro/IsUp";

using LogLines = test::Observed<>;

Reply delayed(std::string body, std::chrono::milliseconds delay, int status = 200) {
    Reply reply = Reply::text(status, std::move(body));
    reply.delay = delay;
    return reply;
}

TEST(FastestServer, FirstPassingServerWinsWithItsOwnLatency) {
    TestHttpServer slow;
    TestHttpServer fast;
    slow.on(kProbePath, delayed("true", 1500ms));
    fast.on(kProbePath, delayed("\"true\"", 200ms));
    const std::vector<std::string> servers{slow.url(), fast.url()};
    LogLines log;
    InstallerCore core;
    const auto start = std::chrono::steady_clock::now();
    const ServerResult result = core.checkFastestServer(log.log(), servers, 10s);
    EXPECT_LT(test::secondsSince(start), 1.4);  // it does not wait for the slower server

    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.url, fast.url());
    EXPECT_EQ(result.error, "");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(result.latency, match, std::regex("([0-9]+) ms")))
        << result.latency;
    const int latencyMs = std::stoi(match[1]);
    EXPECT_GE(latencyMs, 190);
    EXPECT_LT(latencyMs, 1400);

    // The later success of the slow server leaves no trace.
    std::this_thread::sleep_for(1600ms);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(slow.requestsFor(kProbePath).size(), 1u);
    const auto probe = fast.requestsFor(kProbePath).at(0);
    EXPECT_EQ(probe.method, "GET");
    EXPECT_EQ(probe.header("User-Agent"), "TavroInstaller/3.0");
}

TEST(FastestServer, SuccessNeedsA2xxStatusAndTheWordTrueSomewhere) {
    struct Case {
        int status;
        const char* body;
        bool passes;
    };
    // (A 204 reply carries no body by definition, so WinHTTP never delivers "true" with it;
    // any other 2xx status passes.)
    const Case cases[] = {
        {201, "true", true},         {299, "true", true},  {200, "{\"up\":true}", true},
        {200, "untrue story", true}, {300, "true", false}, {199, "true", false},
        {200, "True", false},        {200, "tru", false},  {500, "true", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
        TestHttpServer server;
        server.on(kProbePath, Reply::text(c.status, c.body));
        LogLines log;
        InstallerCore core;
        const std::vector<std::string> servers{server.url()};
        const ServerResult result =
            core.checkFastestServer(log.log(), servers, c.passes ? 10s : 300ms);
        EXPECT_EQ(result.success, c.passes);
        // A rejection is seen in its line, not in the short wait (a slow acceptance ends it too).
        const std::vector<std::string> rejected{"Server failed: " + server.url() + " "};
        EXPECT_EQ(log.awaitLines(c.passes ? 0 : 1, 10s),
                  c.passes ? std::vector<std::string>{} : rejected);
    }
}

TEST(FastestServer, FailingProbesAreLoggedAndDoNotShortenTheWait) {
    TestHttpServer saysFalse;
    saysFalse.on(kProbePath, Reply::text(200, "false"));
    const std::string refused = test::refusedUrl();
    const std::vector<std::string> servers{saysFalse.url(), refused};
    LogLines log;
    InstallerCore core;
    const auto start = std::chrono::steady_clock::now();
    const ServerResult result = core.checkFastestServer(log.log(), servers, 2s);
    const double elapsed = test::secondsSince(start);

    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.url, "");
    EXPECT_EQ(result.latency, "");
    EXPECT_EQ(result.error, "No available server responded with true.");
    EXPECT_GE(elapsed, 1.9);
    EXPECT_LT(elapsed, 4.0);

    auto lines = log.lines();
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> expected{
        "Server failed: " + refused + " WinHttpSendRequest failed: 12029",
        "Server failed: " + saysFalse.url() + " ",  // ends with the blank
    };
    auto sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(lines, sortedExpected);
}

TEST(FastestServer, ReplyOverOneMebibyteFailsThatServer) {
    TestHttpServer huge;
    TestHttpServer exact;
    huge.on(kProbePath, Reply::text(200, "true" + std::string(1048573, ' ')));
    exact.on(kProbePath, delayed("true" + std::string(1048572, ' '), 300ms));
    const std::vector<std::string> servers{huge.url(), exact.url()};
    LogLines log;
    InstallerCore core;
    const ServerResult result = core.checkFastestServer(log.log(), servers, 10s);
    EXPECT_EQ(result.url, exact.url());  // the larger reply came first, and was refused
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Server failed: " + huge.url() +
                                                    " Reply body larger than 1048576 bytes"});
}

TEST(FastestServer, SilentServerFailsAfterTheTwelveSecondProbeTimeout) {
    TestHttpServer silent;
    silent.on(kProbePath, Reply::silence());
    const std::vector<std::string> servers{silent.url()};
    LogLines log;
    InstallerCore core;
    const ServerResult result = core.checkFastestServer(log.log(), servers, 14s);
    EXPECT_FALSE(result.success);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(test::isPlatformTimeoutError(
        lines[0], "Server failed: " + silent.url() + " WinHttpSendRequest failed: "))
        << lines[0];
}

TEST(FastestServer, LateSuccessAfterTheWaitIsDropped) {
    TestHttpServer late;
    late.on(kProbePath, delayed("true", 1500ms));
    const std::vector<std::string> servers{late.url()};
    LogLines log;
    InstallerCore core;
    const ServerResult result = core.checkFastestServer(log.log(), servers, 500ms);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "No available server responded with true.");
    // The probe then finds the result taken and ends; storing into it would fail, and that
    // failure would be logged.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(late.requestsFor(kProbePath).size(), 1u);
    EXPECT_TRUE(log.lines().empty());
}

TEST(FastestServer, ConfiguredServersUnreachableGiveTheFailureAfterThirtySeconds) {
    // The build's own server list: no network here, so every probe fails at once, and the call
    // still returns only after the full wait.
    LogLines log;
    InstallerCore core;
    const auto start = std::chrono::steady_clock::now();
    const ServerResult result = core.checkFastestServer(log.log());
    const double elapsed = test::secondsSince(start);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "No available server responded with true.");
    EXPECT_GE(elapsed, 29.9);
    EXPECT_LT(elapsed, 32.0);
    const auto lines = log.lines();
    EXPECT_EQ(lines.size(), 6u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("Server failed: https://", 0), 0u) << line;
        EXPECT_NE(line.find(" WinHttpSendRequest failed: "), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace tavro
