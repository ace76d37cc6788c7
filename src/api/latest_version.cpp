#include <chrono>
#include <optional>
#include <stdexcept>

#include "api/build_floor.h"
#include "api/json_text.h"
#include "api/machine_identity.h"
#include "api/p256_verify.h"
#include "api/release_check.h"
#include "api/release_keys.h"
#include "core/installer_core.h"
#include "core/step_failure.h"
#include "download/package_download.h"
#include "fs/package_digest.h"
#include "net/http_client.h"
#include "net/reply_limit.h"

namespace tavro {

namespace {

// Failures of this step read "LatestVersion failed: <reason>".
constexpr std::string_view kStep = "LatestVersion";

constexpr char kLatestVersionPath[] = "/api/Software/LatestVersion";
constexpr std::uint32_t kQueryTimeoutSeconds = 90;
constexpr char kProductName[] = "Tavro";

std::string requestBody(const std::string& email) {
    const std::string product = jsonEscape(kProductName);
    const std::string information = jsonEscape(getPcInformation());
    const std::string escapedEmail = jsonEscape(email);
    const std::string serial = jsonEscape(getPcSerialNumber());
    return "{\"PcSerialNumber\":\"" + serial + "\",\"Email\":\"" + escapedEmail +
           "\",\"PcInformation\":\"" + information + "\",\"SoftwareName\":\"" + product + "\"}";
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A relative FileName lives on the chosen server; an absolute one (lower-case scheme) anywhere.
std::string resolvePackageUrl(const std::string& serverUrl, const std::string& fileName) {
    if (fileName.empty() || startsWith(fileName, "http://") || startsWith(fileName, "https://")) {
        return fileName;
    }
    return fileName.front() == '/' ? serverUrl + fileName : serverUrl + "/" + fileName;
}

// The package digest, if the reply's object has a member of that name: 64 hexadecimal digits in
// either case, kept in lower case. An empty member counts as none, as for the other members.
// Only the member name counts: a value such as "SHA256" of another member, or a digest-like
// value after it, is never taken for the digest.
std::string packageDigest(const std::string& reply) {
    const std::optional<std::string> member = jsonMemberValue(reply, "Sha256");
    if (!member || member->empty()) {
        return {};
    }
    const std::optional<std::string> digest = parseSha256Hex(*member);
    if (!digest) {
        failStep(kStep, "Sha256 is not 64 hexadecimal digits");
    }
    return *digest;
}

// Version and build number name the package file; a name the platform cannot create would
// only fail after the whole download, so it fails here.
void requireCreatablePackagePath(const ReleaseInfo& release) {
    const std::size_t length = longestDownloadPath(release);
    if (length > kLongestPlatformPath) {
        failStep(kStep, "Version and BuildNumber make a package path of " + std::to_string(length) +
                            " characters; at most " + std::to_string(kLongestPlatformPath) +
                            " are possible");
    }
}

// The reply's value, or fallback when it names none. (Built rather than assigned from a literal:
// GCC 12 at -O3 reports a false -Wrestrict overlap inside std::string's assignment.)
std::string valueOr(std::string value, const char* fallback) {
    return value.empty() ? std::string(fallback) : value;
}

std::int64_t secondsSince1970() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Takes version, build, digest and size from the signed statement only, so what was signed is
// exactly what the download, the package name and the install use.
void applySignedRelease(const std::string& reply, std::span<const ReleaseKey> keys,
                        const LogCallback& log, ReleaseInfo& release) {
    ReleaseTrust trust;
    trust.keys = keys;
    trust.nowUtc = secondsSince1970();
    trust.buildFloor = rollbackFloor();
    trust.verify = verifyP256Sha256;
    try {
        SignedRelease signedRelease = checkSignedRelease(reply, trust, log);
        release.version = std::move(signedRelease.statement.version);
        release.buildNumber = std::move(signedRelease.statement.buildNumber);
        release.sha256 = std::move(signedRelease.statement.sha256);
        release.signedSize = signedRelease.packageSize;
    } catch (const ReleaseRefusal& refusal) {
        if (log) {
            log(std::string("Release check failed: ") + refusal.what());
        }
        failStep(kStep, refusal.what());
    }
}

}  // namespace

ReleaseInfo InstallerCore::getLatestVersion(const std::string& serverUrl,
                                            const std::string& email) {
    return getLatestVersion(serverUrl, email, {}, builtInReleaseKeys());
}

ReleaseInfo InstallerCore::getLatestVersion(const std::string& serverUrl, const std::string& email,
                                            LogCallback log) {
    return getLatestVersion(serverUrl, email, std::move(log), builtInReleaseKeys());
}

ReleaseInfo InstallerCore::getLatestVersion(const std::string& serverUrl, const std::string& email,
                                            LogCallback log,
                                            std::span<const ReleaseKey> releaseKeys) {
    const HttpResponse response = httpPostJson(serverUrl + kLatestVersionPath, requestBody(email),
                                               kQueryTimeoutSeconds, kApiReplyLimitBytes);
    if (response.statusCode < 200 || response.statusCode > 299 || !response.error.empty()) {
        failStep(kStep, response.error + " status=" + std::to_string(response.statusCode));
    }
    ReleaseInfo release;
    release.packageUrl = jsonFindValue(response.body, "FileName");
    release.version = valueOr(jsonFindValue(response.body, "Version"), "unknown");
    release.buildNumber = valueOr(jsonFindValue(response.body, "BuildNumber"), "0");
    release.packageUrl = resolvePackageUrl(serverUrl, release.packageUrl);
    if (release.packageUrl.empty()) {
        throw std::runtime_error("LatestVersion response has no FileName/fileName. Response: " +
                                 response.body);
    }
    if (releaseKeys.empty()) {
        release.sha256 = packageDigest(response.body);
    } else {
        applySignedRelease(response.body, releaseKeys, log, release);
    }
    requireCreatablePackagePath(release);
    return release;
}

}  // namespace tavro
