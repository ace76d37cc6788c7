// Runs the installer's release query, and the download after it, with release keys given on the
// command line instead of built in, for tests that make their keys at run time
// (signed_release_test.py). Writes what happened to a file, one line each:
//   log: LINE           a line the engine logged
//   release: VERSION BUILD SHA256 SIZE
//   package: PATH       the downloaded package
//   error: TEXT         the exception that ended the run
//   verify: MICROSECONDS the mean time of one whole check of the signed reply (--time-verify N)
//   floor: TEXT         after --raise-floor: "raised", or why not, as an accepted install does
//
//   signed_release_probe OUT_FILE SERVER_URL [--key ID=BASE64]... [--download] [--time-verify N]
//                        [--raise-floor]
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "api/build_floor.h"
#include "api/p256_verify.h"
#include "api/release_check.h"
#include "core/installer_core.h"
#include "core/text_convert.h"
#include "net/http_client.h"

namespace {

using namespace tavro;

struct Options {
    std::string outFile;
    std::string serverUrl;
    std::vector<std::string> keyTexts;
    bool download = false;
    bool raiseFloor = false;
    int timeVerify = 0;
};

bool parse(int argc, char** argv, Options& options) {
    if (argc < 3) {
        return false;
    }
    options.outFile = argv[1];
    options.serverUrl = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--key" && i + 1 < argc) {
            options.keyTexts.push_back(argv[++i]);
        } else if (argument == "--download") {
            options.download = true;
        } else if (argument == "--raise-floor") {
            options.raiseFloor = true;
        } else if (argument == "--time-verify" && i + 1 < argc) {
            options.timeVerify = std::stoi(argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

// The mean microseconds of one checkSignedRelease of the server's current answer.
double microsecondsPerCheck(const Options& options, std::span<const ReleaseKey> keys, int rounds) {
    const HttpResponse response = httpPostJson(
        options.serverUrl + "/api/Software/LatestVersion",
        R"({"PcSerialNumber":"p","Email":"e","PcInformation":"i","SoftwareName":"Tavro"})", 30,
        1 << 20);
    ReleaseTrust trust;
    trust.keys = keys;
    trust.nowUtc = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    trust.verify = verifyP256Sha256;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        checkSignedRelease(response.body, trust, {});
    }
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        return 2;
    }
    std::ofstream out(options.outFile, std::ios::binary);
    std::vector<ReleaseKey> keys;
    for (const std::string& text : options.keyTexts) {
        const std::size_t equals = text.find('=');
        keys.push_back(
            {std::string_view(text).substr(0, equals), std::string_view(text).substr(equals + 1)});
    }
    const LogCallback log = [&out](const std::string& line) { out << "log: " << line << "\n"; };
    try {
        const ReleaseInfo release =
            installerCore.getLatestVersion(options.serverUrl, "probe@example.com", log, keys);
        out << "release: " << release.version << " " << release.buildNumber << " " << release.sha256
            << " " << release.signedSize.value_or(0) << "\n";
        if (options.timeVerify > 0) {
            out << "verify: " << microsecondsPerCheck(options, keys, options.timeVerify) << "\n";
        }
        if (options.download) {
            const auto package = installerCore.downloadPackage(release, {}, log);
            out << "package: " << toUtf8(package.native()) << "\n";
        }
        if (options.raiseFloor) {
            std::string error;
            out << "floor: " << (raiseRollbackFloor(release.buildNumber, error) ? "raised" : error)
                << "\n";
        }
    } catch (const std::exception& e) {
        out << "error: " << e.what() << "\n";
    }
    return 0;
}
