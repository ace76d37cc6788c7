// The engine's requests, one run of them, for the proxy tests (tests/net/proxy_test.py): the
// server check over the six given API servers, the latest-version query to the winner and the
// package download (HEAD and four ranges). Every log and diagnostics line goes to standard output.
//   proxy_client.exe API_URL x6       -> "server URL", "package PATH" or "failed: TEXT" (exit 1)
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/installer_core.h"

namespace {

void printLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: proxy_client.exe API_URL x6\n");
        return 2;
    }
    tavro::setDiagnosticSink([](const std::string& line) { printLine("diagnostic: " + line); });
    const std::vector<std::string> servers(argv + 1, argv + 7);
    const auto log = [](const std::string& line) { printLine("log: " + line); };
    try {
        const tavro::ServerResult server =
            tavro::installerCore.checkFastestServer(log, servers, std::chrono::seconds(13));
        if (!server.success) {
            printLine("failed: " + server.error);
            return 1;
        }
        printLine("server " + server.url);
        const tavro::ReleaseInfo release =
            tavro::installerCore.getLatestVersion(server.url, "proxy@example.com");
        const auto package = tavro::installerCore.downloadPackage(release, {}, log);
        printLine("package " + package.string());
        return 0;
    } catch (const std::exception& error) {
        printLine(std::string("failed: ") + error.what());
        return 1;
    }
}
