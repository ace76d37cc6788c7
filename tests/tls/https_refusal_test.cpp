// HTTPS against real local servers (tools/tls/with_tls_servers.py, which runs this binary): the
// good server's certificate comes from the test CA that the test prefix trusts; every other
// server is one a user's installer must refuse. No check is ever switched off.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/installer_core.h"
#include "download/package_download.h"
#include "fs/install_paths.h"
#include "net/download_to_file.h"
#include "net/head_request.h"
#include "net/http_client.h"
#include "support/observed.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

std::string environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

// The base URL of one server (TAVRO_TLS_<name>); fails the test when it is not set.
std::string server(const std::string& name) {
    const std::string url = environmentValue("TAVRO_TLS_" + name);
    EXPECT_FALSE(url.empty()) << "TAVRO_TLS_" << name << " is not set: run through ctest";
    return url;
}

std::string packageUrl(const std::string& name) {
    return server(name) + environmentValue("TAVRO_TLS_PACKAGE_PATH");
}

// The servers' request log, read through the Windows side of the path.
std::vector<std::string> serverLog() {
    std::ifstream in("Z:" + environmentValue("TAVRO_TLS_LOG"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Refusal {
    const char* server;
    const char* code;  // the platform's error number for a request to it
};

// What Wine's WinHTTP reports for each (Windows differs: see docs/wine.md).
const Refusal kRefusals[] = {
    {"SELF_SIGNED", "12157"},   {"OTHER_HOST", "12157"}, {"EXPIRED", "12157"},
    {"NOT_YET_VALID", "12157"}, {"OLD_ONLY", "12157"},   {"PLAIN", "12157"},
};

TEST(HttpsTransport, TheTrustedServerAnswersEveryKindOfRequest) {
    const HttpResponse probe = httpGet(server("GOOD") + "/api/Tavro/IsUp", 12);
    EXPECT_EQ(probe.error, "");
    EXPECT_EQ(probe.statusCode, 200);
    EXPECT_EQ(probe.body, "true");
    const HeadResult head = headRequest(packageUrl("GOOD"), 30);
    EXPECT_TRUE(head.ok) << head.error;
    EXPECT_TRUE(head.acceptRanges);
    EXPECT_EQ(std::to_string(head.contentLength), environmentValue("TAVRO_TLS_PACKAGE_SIZE"));
}

TEST(HttpsTransport, EveryBadServerIsRefusedBeforeAnyRequestReachesIt) {
    const fs::path target = fs::temp_directory_path() / "tavro-https-refusal.bin";
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.server);
        const HttpResponse get = httpGet(server(refusal.server) + "/api/Tavro/IsUp", 12);
        EXPECT_EQ(get.error, std::string("WinHttpSendRequest failed: ") + refusal.code);
        EXPECT_EQ(get.statusCode, 0);
        EXPECT_EQ(get.body, "");

        EXPECT_EQ(headRequest(packageUrl(refusal.server), 30).error, "HEAD request failed");

        fs::remove(target);
        std::atomic<bool> paused{false};
        std::atomic<bool> cancelled{false};
        std::string error;
        EXPECT_FALSE(downloadToFile(packageUrl(refusal.server), 0, 0, target, &paused, &cancelled,
                                    {}, error));
        EXPECT_EQ(error, std::string("Download request failed: ") + refusal.code);
        EXPECT_FALSE(fs::exists(target)) << "nothing is written for a refused server";
    }
    // None of them was asked anything: the log has no request line from them.
    for (const std::string& line : serverLog()) {
        if (line.find(" good ") == std::string::npos) {
            EXPECT_EQ(line.find(" -> "), std::string::npos) << line;
        }
    }
}

// Nothing reached the plain server behind the https -> http redirect.
void expectNothingSentInTheClear() {
    for (const std::string& line : serverLog()) {
        EXPECT_EQ(line.find(" plain "), std::string::npos) << line;
    }
}

constexpr char kRedirectRefused[] = "WinHttpSendRequest failed: 12156";

TEST(HttpsRedirect, ToPlainHttpIsNotFollowedOnTheQuery) {
    const HttpResponse probe = httpGet(server("TO_PLAIN") + "/api/Tavro/IsUp", 12);
    EXPECT_EQ(probe.error, kRedirectRefused);
    EXPECT_EQ(probe.statusCode, 0);
    InstallerCore core;
    try {
        core.getLatestVersion(server("TO_PLAIN"), "demo@example.com");
        ADD_FAILURE() << "the query went through";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string("LatestVersion failed: ") + kRedirectRefused + " status=0");
    }
    expectNothingSentInTheClear();
}

// A download that must fail: the message it throws, and no package (nor its temporary file).
std::string failedDownload(InstallerCore& core, const ReleaseInfo& release,
                           test::Observed<DownloadState>& observed) {
    std::error_code ignored;
    fs::remove_all(downloadFolder(), ignored);
    try {
        core.downloadPackage(release, observed.progress(), observed.log());
        ADD_FAILURE() << "the download went through";
    } catch (const std::runtime_error& e) {
        EXPECT_FALSE(fs::exists(packagePath(release)));
        EXPECT_FALSE(fs::exists(packagePath(release).native() + L".temp"));
        return e.what();
    }
    return {};
}

TEST(HttpsRedirect, ToPlainHttpIsNotFollowedOnThePackage) {
    InstallerCore core;
    test::Observed<DownloadState> observed;
    const ReleaseInfo release{packageUrl("TO_PLAIN"), "4.1.0", "812"};
    EXPECT_EQ(failedDownload(core, release, observed),
              "Download failed: Download request failed: 12156");
    const std::vector<std::string> lines = observed.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Package host failed: " + release.packageUrl + " HEAD request failed");
    expectNothingSentInTheClear();
}

TEST(HttpsRace, BadCertificatesAreFailedProbesAndTheTrustedServerWins) {
    const std::vector<std::string> servers = {server("SELF_SIGNED"),   server("EXPIRED"),
                                              server("OTHER_HOST"),    server("GOOD"),
                                              server("NOT_YET_VALID"), server("PLAIN")};
    InstallerCore core;
    test::Observed<> observed;
    const ServerResult result =
        core.checkFastestServer(observed.log(), servers, std::chrono::seconds(30));
    EXPECT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.url, server("GOOD"));
    std::vector<std::string> lines = observed.awaitLines(5, std::chrono::seconds(15));
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected;
    for (const std::string& bad : {servers[0], servers[1], servers[2], servers[4], servers[5]}) {
        expected.push_back("Server failed: " + bad + " WinHttpSendRequest failed: 12157");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

TEST(HttpsPackage, ABadPackageHostFailsTheDownloadAndATrustedOneThenWorks) {
    InstallerCore core;
    for (const char* bad : {"SELF_SIGNED", "OTHER_HOST", "EXPIRED", "NOT_YET_VALID"}) {
        SCOPED_TRACE(bad);
        test::Observed<DownloadState> observed;
        const ReleaseInfo release{packageUrl(bad), "4.1.0", "812"};
        EXPECT_EQ(failedDownload(core, release, observed),
                  "Download failed: Download request failed: 12157");
        const std::vector<std::string> lines = observed.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(),
                  "Package host failed: " + release.packageUrl + " HEAD request failed");
    }
    test::Observed<DownloadState> observed;
    const ReleaseInfo release{packageUrl("GOOD"), "4.1.0", "812"};
    const fs::path package = core.downloadPackage(release, observed.progress(), observed.log());
    EXPECT_EQ(std::to_string(fs::file_size(package)), environmentValue("TAVRO_TLS_PACKAGE_SIZE"));
    EXPECT_EQ(observed.lines(), std::vector<std::string>{"Download parts: 4"});
    int ranges = 0;
    for (const std::string& line : serverLog()) {
        ranges +=
            line.find(" good ") != std::string::npos && line.find("-> 206") != std::string::npos;
    }
    EXPECT_EQ(ranges, 4);
}

}  // namespace
}  // namespace tavro
