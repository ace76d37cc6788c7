#include "net/head_request.h"

#include <gtest/gtest.h>

#include "support/test_http_server.h"
#include "support/timeouts.h"

namespace tavro {
namespace {

using test::Reply;
using test::TestHttpServer;

Reply withHeader(int status, std::string body, std::string name, std::string value) {
    Reply reply = Reply::text(status, std::move(body));
    reply.headers.emplace_back(std::move(name), std::move(value));
    return reply;
}

TEST(HeadRequest, ReportsStatusLengthAndByteRanges) {
    TestHttpServer server;
    server.on("/pkg.zip", withHeader(200, std::string(5000, 'x'), "Accept-Ranges", "bytes"));
    const HeadResult result = headRequest(server.url("/pkg.zip"), 30);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.contentLength, 5000u);
    EXPECT_TRUE(result.acceptRanges);
    EXPECT_EQ(result.error, "");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[0].header("User-Agent"), "TavroInstaller/3.0");
}

TEST(HeadRequest, AcceptRangesMustNameBytesInAnyCase) {
    TestHttpServer server;
    server.on("/upper", withHeader(200, "abc", "Accept-Ranges", "BYTES"));
    server.on("/listed", withHeader(200, "abc", "Accept-Ranges", "none, Bytes"));
    server.on("/none", withHeader(200, "abc", "Accept-Ranges", "none"));
    server.on("/short", withHeader(200, "abc", "Accept-Ranges", "byte"));
    server.on("/missing", Reply::text(200, "abc"));
    EXPECT_TRUE(headRequest(server.url("/upper"), 30).acceptRanges);
    EXPECT_TRUE(headRequest(server.url("/listed"), 30).acceptRanges);
    EXPECT_FALSE(headRequest(server.url("/none"), 30).acceptRanges);
    EXPECT_FALSE(headRequest(server.url("/short"), 30).acceptRanges);
    EXPECT_FALSE(headRequest(server.url("/missing"), 30).acceptRanges);
}

TEST(HeadRequest, OkOnlyFor200To399ButLengthAndRangesAlwaysFilled) {
    TestHttpServer server;
    server.on("/399", withHeader(399, "abcd", "Accept-Ranges", "bytes"));
    server.on("/400", withHeader(400, "abcde", "Accept-Ranges", "bytes"));
    server.on("/500", Reply::text(500, "boom"));
    HeadResult result = headRequest(server.url("/399"), 30);
    EXPECT_TRUE(result.ok);
    result = headRequest(server.url("/400"), 30);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.contentLength, 5u);
    EXPECT_TRUE(result.acceptRanges);
    EXPECT_EQ(result.error, "");
    result = headRequest(server.url("/500"), 30);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.contentLength, 4u);
    EXPECT_FALSE(headRequest(server.url("/unknown"), 30).ok);  // 404
}

TEST(HeadRequest, MissingContentLengthGivesZero) {
    TestHttpServer server;
    Reply reply = Reply::text(200, "some body");
    reply.sendContentLength = false;
    server.on("/unframed", reply);
    const HeadResult result = headRequest(server.url("/unframed"), 30);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.contentLength, 0u);
}

TEST(HeadRequest, NetworkFailuresBecomeErrorTexts) {
    EXPECT_EQ(headRequest("ftp://example/x", 30).error, "WinHttpCrackUrl failed");
    const HeadResult refused = headRequest(test::refusedUrl("/pkg.zip"), 30);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, "HEAD request failed");

    TestHttpServer server;
    server.on("/silent", Reply::silence());
    const auto start = std::chrono::steady_clock::now();
    const HeadResult timedOut = headRequest(server.url("/silent"), 1);
    EXPECT_EQ(timedOut.error, "HEAD request failed");
    EXPECT_LT(test::secondsSince(start), 10.0);
}

}  // namespace
}  // namespace tavro
