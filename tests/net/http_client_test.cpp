#include "net/http_client.h"

#include <gtest/gtest.h>

#include "support/test_http_server.h"
#include "support/timeouts.h"

namespace tavro {
namespace {

using test::Reply;
using test::TestHttpServer;

TEST(HttpClient, GetReturnsStatusAndBodyAndSendsOnlyTheUserAgent) {
    TestHttpServer server;
    server.on("/api/Tavro/IsUp", Reply::text(200, "true"));
    const HttpResponse response = httpGet(server.url("/api/Tavro/IsUp"), 12);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.body, "true");
    EXPECT_EQ(response.error, "");
    EXPECT_TRUE(response.headers.empty());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/api/Tavro/IsUp");
    EXPECT_EQ(requests[0].header("User-Agent"), "TavroInstaller/3.0");
    EXPECT_FALSE(requests[0].hasHeader("Content-Type"));
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    EXPECT_EQ(requests[0].body, "");
}

TEST(HttpClient, ErrorStatusIsNotAnErrorAtThisLevel) {
    TestHttpServer server;
    server.on("/missing", Reply::text(404, "no such thing"));
    server.on("/broken", Reply::text(500, "boom"));
    HttpResponse response = httpGet(server.url("/missing"), 12);
    EXPECT_EQ(response.statusCode, 404);
    EXPECT_EQ(response.body, "no such thing");
    EXPECT_EQ(response.error, "");
    response = httpGet(server.url("/broken"), 12);
    EXPECT_EQ(response.statusCode, 500);
    EXPECT_EQ(response.body, "boom");
}

TEST(HttpClient, BinaryAndCloseDelimitedBodiesArriveWhole) {
    TestHttpServer server;
    std::string binary(300000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(i * 7 % 251);
    }
    Reply unframed = Reply::text(200, binary);
    unframed.sendContentLength = false;
    server.on("/binary", Reply::text(200, binary));
    server.on("/unframed", unframed);
    EXPECT_EQ(httpGet(server.url("/binary"), 12).body, binary);
    EXPECT_EQ(httpGet(server.url("/unframed"), 12).body, binary);
}

TEST(HttpClient, PostJsonSendsExactBodyAndOneContentTypeLine) {
    TestHttpServer server;
    server.on("/api/Software/LatestVersion", Reply::text(200, "{}"));
    const std::string body = std::string("{\"Email\":\"a\\\"b\"") + '\0' + "}";
    const HttpResponse response = httpPostJson(server.url("/api/Software/LatestVersion"), body, 90);
    EXPECT_EQ(response.statusCode, 200);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(requests[0].header("User-Agent"), "TavroInstaller/3.0");
    int contentTypeLines = 0;
    for (const std::string& line : requests[0].headerLines()) {
        contentTypeLines += line.rfind("Content-Type:", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(contentTypeLines, 1);
}

TEST(HttpClient, EmptyPostBodyIsSentWithLengthZero) {
    TestHttpServer server;
    server.on("/post", Reply::text(200, "ok"));
    EXPECT_EQ(httpPostJson(server.url("/post"), "", 12).statusCode, 200);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Content-Length"), "0");
    EXPECT_EQ(requests[0].body, "");
}

TEST(HttpClient, RequestCarriesMethodPathAndHeaderLinesInOrder) {
    TestHttpServer server;
    server.on("/custom", Reply::text(201, "made"));
    const HttpResponse response =
        httpRequest("PUT", server.url("/custom?a=1"), "x", {L"X-First: 1", L"X-Second: two"}, 12);
    EXPECT_EQ(response.statusCode, 201);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].target, "/custom?a=1");
    EXPECT_EQ(requests[0].header("X-First"), "1");
    EXPECT_EQ(requests[0].header("X-Second"), "two");
}

TEST(HttpClient, SilentServerFailsAfterTheRequestTimeout) {
    TestHttpServer server;
    server.on("/silent", Reply::silence());
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response = httpGet(server.url("/silent"), 2);
    const double elapsed = test::secondsSince(start);
    EXPECT_TRUE(test::isPlatformTimeoutError(response.error, "WinHttpSendRequest failed: "))
        << response.error;
    EXPECT_EQ(response.statusCode, 0);
    EXPECT_EQ(response.body, "");
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LT(elapsed, 10.0);
}

TEST(HttpClient, RefusedConnectionAndBadUrlBecomeErrorTexts) {
    HttpResponse response = httpGet(test::refusedUrl("/api/Tavro/IsUp"), 12);
    EXPECT_EQ(response.error, "WinHttpSendRequest failed: 12029");
    EXPECT_EQ(response.statusCode, 0);

    response = httpGet("ftp://127.0.0.1/file", 12);
    EXPECT_EQ(response.error, "WinHttpCrackUrl failed");
    EXPECT_EQ(response.statusCode, 0);
    EXPECT_EQ(response.body, "");
}

TEST(HttpClient, BodyCutShortKeepsWhatArrivedWithoutError) {
    TestHttpServer server;
    Reply cut = Reply::text(200, std::string(100000, 'x'));
    cut.cutAfterBytes = 30000;
    server.on("/cut", cut);
    const HttpResponse response = httpGet(server.url("/cut"), 12);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.body, std::string(30000, 'x'));
}

TEST(HttpClient, BodyLimitStopsTheReadAtTheLimit) {
    TestHttpServer server;
    Reply unframed = Reply::text(200, std::string(300001, 'y'));
    unframed.sendContentLength = false;
    server.on("/exact", Reply::text(200, std::string(300000, 'x')));
    server.on("/over", Reply::text(200, std::string(300001, 'x')));
    server.on("/unframed", unframed);
    HttpResponse response = httpGet(server.url("/exact"), 12, 300000);
    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.body.size(), 300000u);
    for (const char* path : {"/over", "/unframed"}) {
        response = httpGet(server.url(path), 12, 300000);
        EXPECT_EQ(response.error, "Reply body larger than 300000 bytes") << path;
        EXPECT_EQ(response.statusCode, 200);
        EXPECT_LE(response.body.size(), 300000u);
    }
}

}  // namespace
}  // namespace tavro
