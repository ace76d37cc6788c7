#include <gtest/gtest.h>

#include <stdexcept>

#include "api/json_text.h"
#include "api/machine_identity.h"
#include "core/installer_core.h"
#include "support/test_http_server.h"

namespace tavro {
namespace {

using test::Reply;
using test::TestHttpServer;

constexpr char kQueryPath[] = "/api/Software/LatestVersion";

// The message of the runtime error getLatestVersion throws, or "" when it returns.
std::string failureOf(const std::string& serverUrl, const std::string& email = "a@b.example") {
    try {
        installerCore.getLatestVersion(serverUrl, email);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

ReleaseInfo queryWithReply(TestHttpServer& server, const std::string& reply) {
    server.on(kQueryPath, Reply::text(200, reply));
    return installerCore.getLatestVersion(server.url(), "user@example.com");
}

TEST(LatestVersion, SendsTheExactBodyPathAndHeaders) {
    TestHttpServer server;
    server.on(kQueryPath, Reply::text(200, R"({"FileName":"https://cdn.example/T.zip"})"));
    const std::string email = "Jo \"Q\" \\ Public\t@example.com";
    installerCore.getLatestVersion(server.url(), email);

    const auto requests = server.requestsFor(kQueryPath);
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, kQueryPath);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("User-Agent"), "TavroInstaller/3.0");
    const std::string expected = "{\"PcSerialNumber\":\"" + jsonEscape(getPcSerialNumber()) +
                                 "\",\"Email\":\"Jo \\\"Q\\\" \\\\ Public\\t@example.com\"," +
                                 "\"PcInformation\":\"" + jsonEscape(getPcInformation()) +
                                 "\",\"SoftwareName\":\"Tavro\"}";
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(jsonFindValue(request.body, "Email"), email);
}

TEST(LatestVersion, EmptyEmailIsSentAsAnEmptyString) {
    TestHttpServer server;
    server.on(kQueryPath, Reply::text(200, R"({"FileName":"x.zip"})"));
    installerCore.getLatestVersion(server.url(), "");
    const std::string body = server.requestsFor(kQueryPath).at(0).body;
    EXPECT_NE(body.find(R"(,"Email":"",)"), std::string::npos) << body;
}

TEST(LatestVersion, ReadsTheThreeMembersWhateverTheirCaseAndType) {
    TestHttpServer server;
    const ReleaseInfo release = queryWithReply(
        server, R"({"version":"2.4.1","buildNumber":812,"fileName":"https://cdn.example/a.zip"})");
    EXPECT_EQ(release.packageUrl, "https://cdn.example/a.zip");
    EXPECT_EQ(release.version, "2.4.1");
    EXPECT_EQ(release.buildNumber, "812");
}

TEST(LatestVersion, RelativeFileNamesAreResolvedAgainstTheServer) {
    TestHttpServer server;
    const std::string base = server.url();
    EXPECT_EQ(queryWithReply(server, R"({"fileName":"/files/Tavro.zip"})").packageUrl,
              base + "/files/Tavro.zip");
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"Tavro.zip"})").packageUrl,
              base + "/Tavro.zip");
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"http://other.example/T.zip"})").packageUrl,
              "http://other.example/T.zip");
    // Only the lower-case schemes count as absolute.
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"HTTPS://other.example/T.zip"})").packageUrl,
              base + "/HTTPS://other.example/T.zip");
}

TEST(LatestVersion, MissingVersionAndBuildGetDefaultsButNullIsAWord) {
    TestHttpServer server;
    ReleaseInfo release = queryWithReply(server, R"({"FileName":"a.zip"})");
    EXPECT_EQ(release.version, "unknown");
    EXPECT_EQ(release.buildNumber, "0");
    release = queryWithReply(server, R"({"FileName":"a.zip","Version":"","BuildNumber":""})");
    EXPECT_EQ(release.version, "unknown");
    EXPECT_EQ(release.buildNumber, "0");
    release = queryWithReply(server, R"({"FileName":"a.zip","Version":null})");
    EXPECT_EQ(release.version, "null");
}

TEST(LatestVersion, FailuresCarryTheExactMessages) {
    TestHttpServer server;
    server.on(kQueryPath, Reply::text(404, "nope"));
    EXPECT_EQ(failureOf(server.url()), "LatestVersion failed:  status=404");

    server.on(kQueryPath, Reply::text(500, "oops"));
    EXPECT_EQ(failureOf(server.url()), "LatestVersion failed:  status=500");

    const std::string noFile = R"({"Version":"2.4.1","FileName":""})";
    server.on(kQueryPath, Reply::text(200, noFile));
    EXPECT_EQ(failureOf(server.url()),
              "LatestVersion response has no FileName/fileName. Response: " + noFile);

    EXPECT_EQ(failureOf(""), "LatestVersion failed: WinHttpCrackUrl failed status=0");

    EXPECT_EQ(failureOf(test::refusedUrl()),
              "LatestVersion failed: WinHttpSendRequest failed: 12029 status=0");
}

}  // namespace
}  // namespace tavro
