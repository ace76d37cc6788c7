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

TEST(LatestVersion, Sha256IsKeptInLowerCaseAndAMalformedOneFailsTheQuery) {
    TestHttpServer server;
    const std::string lower = "4936ee24a2bbf91c1a9bd9510d6358e9439f290a347255987a0d7494007b6c26";
    const std::string upper = "4936EE24A2BBF91C1A9BD9510D6358E9439F290A347255987A0D7494007B6C26";
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"a.zip","Sha256":")" + upper + "\"}").sha256,
              lower);
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"a.zip","sha256":")" + lower + "\"}").sha256,
              lower);
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"a.zip"})").sha256, "");
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"a.zip","Sha256":""})").sha256, "");
    // Appended, never inserted before: GCC 12 at -O3 reports a false -Wrestrict overlap there.
    const auto quoted = [](const std::string& text) {
        return std::string("\"").append(text).append("\"");
    };
    for (const std::string& member :
         {quoted(lower.substr(1)), quoted(lower + "0"), quoted(lower.substr(1) + "g"),
          quoted(std::string(" ").append(lower, 1)), std::string("null"), std::string("12345")}) {
        SCOPED_TRACE(member);
        server.on(kQueryPath, Reply::text(200, R"({"FileName":"a.zip","Sha256":)" + member + "}"));
        EXPECT_EQ(failureOf(server.url()),
                  "LatestVersion failed: Sha256 is not 64 hexadecimal digits");
    }
}

TEST(LatestVersion, Sha256IsReadOnlyAsAMemberNameOfTheReply) {
    TestHttpServer server;
    const std::string hex = "4936ee24a2bbf91c1a9bd9510d6358e9439f290a347255987a0d7494007b6c26";
    const std::string other(64, 'b');
    // A value "SHA256" neither fails the query nor lends the next member's value as the digest.
    ReleaseInfo release = queryWithReply(
        server, R"({"HashAlgorithm":"SHA256","FileName":"/p.zip","Version":"2.4.1"})");
    EXPECT_EQ(release.sha256, "");
    EXPECT_EQ(release.packageUrl, server.url() + "/p.zip");
    EXPECT_EQ(release.version, "2.4.1");
    release = queryWithReply(
        server, R"({"HashAlgorithm":"SHA256","Checksum":")" + other + R"(","FileName":"/p.zip"})");
    EXPECT_EQ(release.sha256, "");
    // A nested member of that name is not the reply's; the top-level one is.
    release = queryWithReply(server, R"({"meta":{"Sha256":")" + other +
                                         R"("},"FileName":"a.zip","Sha256":")" + hex + "\"}");
    EXPECT_EQ(release.sha256, hex);
    // The three members the reply must have are still found anywhere, in any case.
    release = queryWithReply(server, R"({"data":{"fileName":"/in.zip","VERSION":"3"}})");
    EXPECT_EQ(release.packageUrl, server.url() + "/in.zip");
    EXPECT_EQ(release.version, "3");
    EXPECT_EQ(release.sha256, "");
}

TEST(LatestVersion, ReplyOverOneMebibyteFailsWithoutBeingReadWhole) {
    TestHttpServer server;
    // A FileName of 64 MiB: the query stops reading at the cap.
    server.on(kQueryPath,
              Reply::text(200, R"({"FileName":")" + std::string(64 * 1048576, 'a') + "\"}"));
    EXPECT_EQ(failureOf(server.url()),
              "LatestVersion failed: Reply body larger than 1048576 bytes status=200");
    EXPECT_LT(server.bodyBytesSent(), 16u * 1048576u);

    // Exactly 1 MiB is still a reply.
    const std::string head = R"({"FileName":"a.zip","Padding":")";
    server.on(kQueryPath,
              Reply::text(200, head + std::string(1048576 - head.size() - 2, 'p') + "\"}"));
    EXPECT_EQ(installerCore.getLatestVersion(server.url(), "a@b.example").packageUrl,
              server.url() + "/a.zip");
}

TEST(LatestVersion, VersionTooLongForAPackagePathFailsAtOnce) {
    // C:/Quendrel/Tavro\tmp\Tavro-V<version>-812.zip.temp.part3 is 48 characters and the version.
    TestHttpServer server;
    const std::string longest(211, '1');
    EXPECT_EQ(queryWithReply(server, R"({"FileName":"a.zip","BuildNumber":"812","Version":")" +
                                         longest + "\"}")
                  .version,
              longest);
    server.on(kQueryPath,
              Reply::text(200, R"({"FileName":"a.zip","BuildNumber":"812","Version":")" + longest +
                                   "1\"}"));
    EXPECT_EQ(failureOf(server.url()),
              "LatestVersion failed: Version and BuildNumber make a package path of 260 "
              "characters; at most 259 are possible");
    server.on(kQueryPath, Reply::text(200, R"({"FileName":"a.zip","Version":")" +
                                               std::string(300, 'v') + "\"}"));
    EXPECT_EQ(failureOf(server.url()),
              "LatestVersion failed: Version and BuildNumber make a package path of 346 "
              "characters; at most 259 are possible");
}

}  // namespace
}  // namespace tavro
